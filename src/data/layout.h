#pragma once
// Grid layout from the layout table stbgset of pro.mdb.
//
// A laid-out grid holds (N = the number of layout rows found):
//   Tag            the table name
//   Rows 3         rows 0 and 1 the two header rows (group title / column
//                  title), row 2 hidden, holding each column's DataField and,
//                  as its check-box state, 1 editable / 2 read-only
//   Cols N + 3     column 0 the row-header column, 1..N the layout columns in
//                  sortid order, Cols-2 and Cols-1 hidden:
//     (0, Cols-2) syid      (1, Cols-2) sortid    (2, Cols-2) sortid
//     (0, Cols-1) select list (fieldlist)  (1, Cols-1) onlyid1  (2, Cols-1) onlyid
// The id column comes last in the select list, so every data row of the fill
// carries its record id in the last column.
#include <string>

#include "data/table_settings.h"
#include "platform/grid/vsflexgrid.h"

namespace ado {
class Connection;
}

namespace data {

// Lays out a grid for a table. The grid should have three fixed rows (see
// prepareNavigatorGrid in browse.h), so that row 2 stays a header row.
// Never reports an error and never stops half-way:
// a step that fails is skipped; a query that cannot run counts as one without
// rows. Leaves mainrs and auxrs closed.
// Reads pro.mdb on slot 0 through mainrs, runs a column's list query on slot
// libraryslot through auxrs, takes the role from currentrole, and leaves the
// table's settings with the select list it built in TableSettings.
void layoutgrid(platform::VSFlexGrid& grid, const std::string& tableName);

// The same layout for code that works beside the window, from the databases
// it is given: the settings and layout rows from `project` (a pro.mdb), a
// column's list query on `library`, the layout rows of `role` first (the
// window's role is ""). Reads through record sets of its own and returns the
// settings, with the select list it built, instead of writing them: mainrs,
// auxrs and TableSettings stay as they are. The grid ends as layoutgrid leaves it.
TableSettingsRecord layoutgridOn(platform::VSFlexGrid& grid, const std::string& tableName,
                                 const ado::Connection& project, const ado::Connection& library,
                                 const std::string& role = std::string());

}  // namespace data
