#include "data/layout.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>

#include "data/connections.h"
#include "data/skip_on_error.h"
#include "data/table_settings.h"

namespace data {

using namespace platform;

namespace {

// A numeric column value; null or a text that is not a number throws, so the
// step that needs it is skipped.
double numberOf(const ado::Variant& v) {
  if (v.isNull()) throw std::invalid_argument("null where a number is needed");
  if (v.isNumeric()) return v.toDouble();
  const std::string t = v.toText();
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size()) throw std::invalid_argument("not a number: " + t);
  return d;
}

int wholeNumberOf(const ado::Variant& v) {
  double d = numberOf(v);
  if (!std::isfinite(d) || std::fabs(d) > 2147483647.0) throw std::out_of_range("number too large");
  return static_cast<int>(std::lround(d));
}

// Editable unless the value is false: null and true are editable.
bool editableValue(const ado::Variant& v) {
  if (v.isNull()) return true;
  if (v.isNumeric()) return v.toInt64() != 0;
  const std::string t = v.toText();
  return !(t == "False" || t == "false" || t == "FALSE" || t == "0");
}

// The part of s before its first blank (all of it without a blank).
std::string beforeBlank(const std::string& s) { return s.substr(0, s.find(' ')); }


// Where one layout reads from. The record sets are asked for when a step
// needs them: `freshRows` gives a new one for the settings and again for the
// layout rows, `lists` the one a column's list query runs in. `library` gives
// the connection of those list queries, or throws when there is none (that
// column's list is then skipped).
struct LayoutSources {
  const ado::Connection& project;
  std::function<const ado::Connection&()> library;
  const std::string& role;
  std::function<ado::Recordset&()> freshRows;
  std::function<ado::Recordset&()> lists;
};

// One layout under way: the grid, its table, where it reads from, and the
// settings it fills (fieldlist included).
struct Layout {
  VSFlexGrid& grid;
  const std::string& table;
  const LayoutSources& from;
  TableSettingsRecord& settings;
  std::string lastLower;  // the lower title of the last two-part column title
};

// The table name goes into the grid's Tag; a grid left without one gets no layout.
bool tagGrid(Layout& l) {
  skipOnError("layoutgrid: tag", [&] { l.grid.setTag(l.table); });
  return !l.grid.Tag().empty();
}

void readSettings(Layout& l) {
  skipOnError("layoutgrid: table settings",
              [&] { readTableSettings(l.from.freshRows(), l.from.project, l.grid.Tag(), l.settings); });
}

// Opens the visible layout rows of the table in sortid order: the role's, or
// when it has none the administrator's and those of every role (-1). The
// number of rows; 0 when no query could run.
long openLayoutRows(Layout& l, ado::Recordset& rs) {
  long count = 0;
  skipOnError("layoutgrid: layout rows of the role", [&] {
    openQuery(rs,
              "select * from stbgset where tname='" + l.table + "' and zhlb='" + l.from.role +
                  "' and yc=0 order by sortid",
              l.from.project);
    count = rs.RecordCount();
  });
  if (count <= 0) {
    skipOnError("layoutgrid: close layout rows", [&] {
      if (rs.State() == 1) rs.Close();
    });
    skipOnError("layoutgrid: layout rows of the administrator", [&] {
      openQuery(rs,
                "select * from stbgset where tname='" + l.table + "' and zhlb='系统管理员' and yc=0 Or  tname='" +
                    l.table + "' and zhlb='-1' and yc=0 order by sortid",
                l.from.project);
      count = rs.RecordCount();
    });
  }
  return count;
}

// Three header rows, the row-header column, and room for the layout columns
// and the two hidden ones; the select list starts empty.
void shapeGrid(Layout& l, long count) {
  skipOnError("layoutgrid: header rows", [&] { l.grid.setRows(3); });
  skipOnError("layoutgrid: first column", [&] { l.grid.setCols(1); });
  l.settings.fieldlist.clear();
  if (count > 0) skipOnError("layoutgrid: columns", [&] { l.grid.setCols(static_cast<int>(count) + 3); });
}

// The titles of column i: "group-title" gives both header rows, a title
// without "-" stands in both.
void columnTitles(Layout& l, const ado::Recordset& rs, int i) {
  VSFlexGrid& grid = l.grid;
  std::string upper;
  skipOnError("layoutgrid: column title", [&] {
    const std::string title = rs.Fields("mc").Value().toText();
    const size_t dash = title.find('-');
    if (dash != std::string::npos) {
      upper = title.substr(0, dash);
      const std::string lower = title.substr(dash + 1);
      l.lastLower = lower;
      grid.setCell(flexcpText, 1, i, lower);
    } else {
      upper = title;
      grid.setCell(flexcpText, 1, i, title);
    }
  });
  skipOnError("layoutgrid: merge column", [&] { grid.setMergeCol(i, true); });
  skipOnError("layoutgrid: upper title", [&] { grid.setCell(flexcpText, 0, i, upper); });
}

// The column's field, written into the hidden field row; "" when it cannot be read.
std::string columnField(Layout& l, const ado::Recordset& rs, int i) {
  std::string dataField;
  skipOnError("layoutgrid: column field", [&] {
    dataField = rs.Fields("DataField").Value().toText();
    l.grid.setCell(flexcpText, 2, i, dataField);
  });
  return dataField;
}

// How column i looks: title alignment, width (-1: up to the grid's right
// edge), alignment, display format or check box, header colour.
void columnLook(Layout& l, const ado::Recordset& rs, int i) {
  VSFlexGrid& grid = l.grid;
  skipOnError("layoutgrid: title alignment", [&] { grid.setCell(flexcpAlignment, 0, i, 1, i, flexAlignCenterCenter); });
  skipOnError("layoutgrid: column width", [&] {
    const double width = numberOf(rs.Fields("Width").Value());
    if (width == -1) {
      const long long left = grid.Cell(flexcpLeft, 0, i).number();
      grid.setColWidth(i, static_cast<int>(grid.Width() - left - 400));
    } else {
      grid.setColWidth(i, static_cast<int>(std::lround(2 * width)));
    }
  });
  skipOnError("layoutgrid: column alignment", [&] { grid.setColAlignment(i, wholeNumberOf(rs.Fields("Alignment").Value())); });
  skipOnError("layoutgrid: column format", [&] {
    const std::string format = rs.Fields("DataFormat").Value().toText();
    if (!format.empty()) {
      if (format == "check")
        grid.setColDataType(i, flexDTBoolean);
      else
        grid.setColFormat(i, format);
    }
  });
  skipOnError("layoutgrid: header colour", [&] {
    grid.setCell(flexcpBackColor, 0, i, static_cast<long long>(numberOf(rs.Fields("BackColor").Value())));
  });
}

// Whether column i can be edited, and its drop-down list: a literal "|a|b|"
// list, or the first column of a query run on the library.
void columnEditing(Layout& l, const ado::Recordset& rs, int i) {
  VSFlexGrid& grid = l.grid;
  skipOnError("layoutgrid: column editable", [&] {
    const bool editable = editableValue(rs.Fields("Editable").Value());
    grid.setCell(flexcpChecked, 2, i, editable ? flexChecked : flexUnchecked);
    grid.setColEditable(i, editable);
  });
  skipOnError("layoutgrid: column list", [&] {
    const std::string list = rs.Fields("list").Value().toText();
    if (list.empty()) return;
    if (list.find('|') != std::string::npos) {
      grid.setColComboList(i, list);
      return;
    }
    ado::Recordset& aux = l.from.lists();
    CloseOnExit auxCloser(aux);
    openQuery(aux, list, l.from.library());
    const long items = aux.RecordCount();
    if (items > 0) {
      std::string combo = "|";
      for (long k = 0; k < items; ++k) {
        combo += aux.Fields(0).Value().toText() + "|";
        aux.MoveNext();
      }
      grid.setColComboList(i, combo);
    }
  });
}

// The field joins the select list, qualified with the table unless it names one.
void addToSelectList(Layout& l, const std::string& dataField) {
  skipOnError("layoutgrid: select list", [&] {
    if (dataField.find('.') != std::string::npos)
      l.settings.fieldlist += dataField + ",";
    else
      l.settings.fieldlist += l.table + "." + dataField + ",";
  });
}

// One layout row becomes column i; the record set moves on to the next row.
void layOutColumn(Layout& l, ado::Recordset& rs, int i) {
  columnTitles(l, rs, i);
  const std::string dataField = columnField(l, rs, i);
  columnLook(l, rs, i);
  columnEditing(l, rs, i);
  addToSelectList(l, dataField);
  skipOnError("layoutgrid: next layout row", [&] { rs.MoveNext(); });
}

// The id and order columns fill the hidden columns' three header rows; the
// select list ends with the ordering column and then the id column, so that
// every data row carries its id last.
void finishSelectList(Layout& l) {
  VSFlexGrid& grid = l.grid;
  const TableSettingsRecord& ts = l.settings;
  skipOnError("layoutgrid: id column", [&] { grid.setCell(flexcpText, 0, grid.Cols() - 1, 2, grid.Cols() - 1, ts.onlyid); });
  skipOnError("layoutgrid: order column",
              [&] { grid.setCell(flexcpText, 0, grid.Cols() - 2, 2, grid.Cols() - 2, ts.sortid); });
  if (!ts.sortid.empty()) l.settings.fieldlist += l.table + "." + beforeBlank(ts.sortid);
  if (!ts.onlyid.empty()) l.settings.fieldlist += "," + l.table + "." + ts.onlyid;
}

// The hidden cells the fill reads back: the select list and the second id in
// the last column, the parent link and the ordering in the one before.
void writeHiddenCells(Layout& l) {
  VSFlexGrid& grid = l.grid;
  const TableSettingsRecord& ts = l.settings;
  skipOnError("layoutgrid: hidden select list", [&] { grid.setCell(flexcpText, 0, grid.Cols() - 1, ts.fieldlist); });
  skipOnError("layoutgrid: hidden second id", [&] { grid.setCell(flexcpText, 1, grid.Cols() - 1, ts.onlyid1); });
  skipOnError("layoutgrid: hidden display id", [&] { grid.setCell(flexcpText, 0, grid.Cols() - 2, ts.syid); });
  skipOnError("layoutgrid: hidden order", [&] { grid.setCell(flexcpText, 1, grid.Cols() - 2, ts.sortid); });
}

// Merged header cells, the corner, one or two visible header rows, and the
// hidden field row and columns.
void shapeHeader(Layout& l) {
  VSFlexGrid& grid = l.grid;
  skipOnError("layoutgrid: merge first column", [&] { grid.setMergeCol(0, true); });
  skipOnError("layoutgrid: corner upper", [&] { grid.setCell(flexcpText, 0, 0, " "); });
  skipOnError("layoutgrid: corner lower", [&] { grid.setCell(flexcpText, 1, 0, " "); });
  skipOnError("layoutgrid: merge upper header", [&] { grid.setMergeRow(0, true); });
  skipOnError("layoutgrid: merge lower header", [&] { grid.setMergeRow(1, true); });
  if (!l.lastLower.empty()) {
    skipOnError("layoutgrid: show lower header", [&] { grid.setRowHidden(1, false); });
    skipOnError("layoutgrid: two-row header height", [&] { grid.setRowHeight(0, 280); });
  } else {
    skipOnError("layoutgrid: hide lower header", [&] { grid.setRowHidden(1, true); });
    skipOnError("layoutgrid: one-row header height", [&] { grid.setRowHeight(0, 350); });
  }
  skipOnError("layoutgrid: hide field row", [&] { grid.setRowHidden(2, true); });
  skipOnError("layoutgrid: hide select column", [&] { grid.setColHidden(grid.Cols() - 1, true); });
  skipOnError("layoutgrid: hide order column", [&] { grid.setColHidden(grid.Cols() - 2, true); });
}

void layOut(Layout& l) {
  GridBatch batch(l.grid);
  if (!tagGrid(l)) return;
  readSettings(l);
  {
    ado::Recordset& rs = l.from.freshRows();
    CloseOnExit closer(rs);
    const long count = openLayoutRows(l, rs);
    shapeGrid(l, count);
    if (count > 0) {
      for (int i = 1; i <= static_cast<int>(count); ++i) layOutColumn(l, rs, i);
      finishSelectList(l);
    }
  }  // the layout rows closed here
  writeHiddenCells(l);
  shapeHeader(l);
}

}  // namespace

void layoutgrid(VSFlexGrid& grid, const std::string& tableName) {
  const LayoutSources shared{connections(0), [&]() -> const ado::Connection& { return connections(libraryslot); },
                             currentrole, [] () -> ado::Recordset& { return renewMainrs(); },
                             [] () -> ado::Recordset& { return auxrs(); }};
  Layout l{grid, tableName, shared, TableSettings, {}};
  layOut(l);
}

TableSettingsRecord layoutgridOn(VSFlexGrid& grid, const std::string& tableName, const ado::Connection& project,
                                 const ado::Connection& library, const std::string& role) {
  std::unique_ptr<ado::Recordset> rows;
  ado::Recordset lists;
  const LayoutSources own{project, [&]() -> const ado::Connection& { return library; }, role,
                          [&]() -> ado::Recordset& {
                            rows = std::make_unique<ado::Recordset>();
                            return *rows;
                          },
                          [&]() -> ado::Recordset& { return lists; }};
  TableSettingsRecord settings;
  Layout l{grid, tableName, own, settings, {}};
  layOut(l);
  return settings;
}

}  // namespace data
