#pragma once
// Query settings of the grid table being worked on (table stxmsy of pro.mdb).
#include <string>

namespace ado {
class Connection;
class Recordset;
}  // namespace ado

namespace data {

struct TableSettingsRecord {
  std::string tname;    // the table
  std::string onlyid;   // its id column
  std::string syid;     // its parent-link column ("" = flat list)
  std::string sortid;   // its ordering column, may carry " desc"
  std::string onlyid1;  // secondary id column ("xmid" = project filter)
  std::string inner;    // join text after the table name, with its own leading blank
  std::string fieldlist;  // select list: built by layoutgrid, reloaded by fillgrid
};

// One record for the whole module, shared by all grids of the window.
extern TableSettingsRecord TableSettings;

// Reads the settings row of a table into TableSettings (all but fieldlist),
// through mainrs on slot 0. The fields are reset before the database is asked;
// a failure is passed on (thrown) with tname set and the other fields empty.
void loadtableset(const std::string& tableName);

// The settings of a table as the project database open on `project` gives
// them, as a value (fieldlist empty); nothing of the module is touched.
// Throws when the settings table cannot be read.
TableSettingsRecord tableSettings(const ado::Connection& project, const std::string& tableName);

// The one reading both of them share: resets `into` (all but fieldlist), then
// reads the row through `rs`, which it closes again, also on a failure.
void readTableSettings(ado::Recordset& rs, const ado::Connection& project, const std::string& tableName,
                       TableSettingsRecord& into);

}  // namespace data
