#include "data/fill.h"

#include "data/connections.h"
#include "data/files.h"
#include "data/table_settings.h"
#include "platform/database/jet_database.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace data {

using namespace platform;

namespace {

// The rows a flat list's grid grows by while it is written.
constexpr int kListRowsAtOnce = 4096;

struct FillState {
  short slot;
  VSFlexGrid& grid;
  std::string extraCondition;
  bool icons = false;
  bool fileRows = false;
  // The ids of the nodes from level 1 down to the node being written: a
  // record whose id is among them would put a node below itself (a root
  // that is its own parent, or a cycle A -> B -> A).
  std::vector<std::string> path;
  // (id, level) of every node whose children have been listed. A second node
  // with the same id on the same level would list the same children again;
  // with ids that repeat this multiplies level by level. Each level therefore
  // lists the children of an id once, and the fill writes at most one row per
  // table row and level.
  std::set<std::pair<std::string, int>> expanded;
};

// Appends one row carrying the record's fields in columns 1, 2, ...; the
// field named "ico" puts its icon into column 1 when icons are wanted. The
// texts are taken out of the record: it is read once.
int appendDataRow(FillState& st, ado::Recordset& rs, bool iconsHere) {
  VSFlexGrid& g = st.grid;
  g.setRows(g.Rows() + 1);
  const int row = g.Rows() - 1;
  const int fields = rs.FieldsCount();
  for (int k = 0; k < fields; ++k) {
    g.setTextMatrix(row, k + 1, rs.takeText(k));
    if (iconsHere && st.icons && rs.Fields(k).Name() == "ico") setcellicon(g, row, 1, g.TextMatrix(row, k + 1));
  }
  return row;
}

void writeNode(FillState& st, ado::Recordset& rs, int level) {
  const std::string id = rs.Fields(TableSettings.onlyid).Value().toText();
  const int row = appendDataRow(st, rs, level <= 3);
  st.grid.setIsSubtotal(row, true);
  st.grid.setRowOutlineLevel(row, level);
  if (!st.expanded.insert({id, level}).second) return;
  if (level < kMaxOutlineLevel) {
    std::string statement = "select " + TableSettings.fieldlist + " from " + TableSettings.tname + " where " +
                            TableSettings.syid + "=" + id + st.extraCondition;
    if (!TableSettings.sortid.empty()) statement += " order by " + TableSettings.sortid;
    ado::Recordset children;
    CloseOnExit closer(children);
    openQuery(children, statement, st.slot);
    const long count = children.RecordCount();
    bool wroteChild = false;
    st.path.push_back(id);
    for (long k = 0; k < count; ++k) {
      const std::string childId = children.Fields(TableSettings.onlyid).Value().toText();
      if (std::find(st.path.begin(), st.path.end(), childId) == st.path.end()) {
        writeNode(st, children, level + 1);
        wroteChild = true;
      }
      children.MoveNext();
    }
    st.path.pop_back();
    // A node whose only children would be itself or its ancestors is a leaf.
    if (!wroteChild && st.fileRows) addfilerows(st.grid, id, level + 1);
  } else if (st.fileRows) {
    addfilerows(st.grid, id, level + 1);
  }
}

// The project filter, asked for once there are records. (A table stbfxhf
// would want " and fxmbid=" plus a template id, but nothing in the program
// chooses one, so it gets none.)
std::string projectFilter(short slot) {
  if (TableSettings.onlyid1 != "xmid") return "";
  if (slot < 0 || slot >= static_cast<int>(xmids.size()))
    throw ado::Error(9, "Subscript out of range: no project id for slot " + std::to_string(slot));
  return " and xmid=" + std::to_string(xmids[static_cast<size_t>(slot)]);
}

// A flat list: each record written into its row as the engine reads it (the
// texts moved, the icon of a field named "ico" put into column 1), so that
// the values are never all held twice. What the grid shows is what a record
// set read whole would give: should the statement fail, on any row, the grid
// keeps no row of it; should a record fail to be written, the grid ends with
// that record's row, as written so far.
void fillList(short slot, VSFlexGrid& grid, const std::string& statement) {
  const std::shared_ptr<ado::Database> db = connections(slot).database();
  if (!db) {  // a closed connection fails as a record set's open does
    ado::Recordset rs;
    CloseOnExit closer(rs);
    openQuery(rs, statement, slot);
    return;
  }
  const bool icons = statement.find("ico") != std::string::npos;
  std::vector<bool> iconField;
  const int first = grid.Rows();
  int written = 0;  // rows written in full
  int made = first;
  bool writing = false;
  try {
    db->forEachRow(
        statement,
        [&](const std::vector<std::string>& names) {
          for (const std::string& name : names) iconField.push_back(icons && name == "ico");
        },
        [&](std::vector<ado::Variant>& row) {
          if (written == 0) projectFilter(slot);
          const int r = first + written;
          if (r >= made) {
            made = r + kListRowsAtOnce;
            grid.setRows(made);
          }
          writing = true;
          for (std::size_t k = 0; k < row.size(); ++k) {
            grid.setTextMatrix(r, static_cast<int>(k) + 1, row[k].takeText());
            if (iconField[k]) setcellicon(grid, r, 1, grid.TextMatrix(r, static_cast<int>(k) + 1));
          }
          writing = false;
          ++written;
        });
  } catch (...) {
    grid.setRows(writing ? first + written + 1 : first);
    throw;
  }
  grid.setRows(first + written);
}

}  // namespace

void fillgrid(short& slot, VSFlexGrid& grid, std::string& condition, int shade) {
  if (grid.Tag().empty()) return;
  GridBatch batch(grid);
  loadtableset(grid.Tag());
  if (!condition.empty() && condition.find("where") == std::string::npos) condition = " where " + condition;
  const std::string listCell = grid.TextMatrix(0, grid.Cols() - 1);
  if (!listCell.empty()) TableSettings.fieldlist = listCell;
  grid.setRows(3);
  grid.setOutlineBar(flexOutlineBarCompleteLeaf);
  grid.setOutlineCol(1);
  const TableSettingsRecord& ts = TableSettings;
  const std::string ordering = ts.sortid.empty() ? std::string() : " order by " + ts.tname + "." + ts.sortid;
  const std::string statement = "select  " + ts.fieldlist + " from " + ts.tname + ts.inner + condition + ordering;

  if (ts.syid.empty()) {
    fillList(slot, grid, statement);
  } else {
    ado::Recordset top;
    CloseOnExit closer(top);
    openQuery(top, statement, slot);
    const long count = top.RecordCount();
    if (count >= 1) {
      FillState st{slot, grid, projectFilter(slot), statement.find("ico") != std::string::npos,
                   statement.find("xmfxhf") != std::string::npos, {}, {}};
      for (long k = 0; k < count; ++k) {
        writeNode(st, top, 1);
        top.MoveNext();
      }
      grid.setRow(3);
    }
  }
  if (shade == 1) shaderows(grid);
  grid.Outline(2);
}

void shaderows(VSFlexGrid& grid) {
  GridBatch batch(grid);
  for (int r = 4; r <= grid.Rows() - 1; r += 2)
    grid.setCell(flexcpBackColor, r, 1, r, grid.Cols() - 1, static_cast<long long>(kShadeColour));
}

void addfilerows(VSFlexGrid& grid, const std::string& nodeId, int level) {
  ado::Recordset& rs = mainrs();
  CloseOnExit closer(rs);
  openQuery(rs, "select bgmc,wjid,ico from xmfxwjgl where fxid=" + nodeId, 0);
  const long count = rs.RecordCount();
  for (long k = 0; k < count; ++k) {
    grid.setRows(grid.Rows() + 1);
    const int row = grid.Rows() - 1;
    grid.setTextMatrix(row, 1, rs.Fields(0).Value().toText());
    grid.setTextMatrix(row, grid.Cols() - 1, "=" + rs.Fields(1).Value().toText());
    grid.setIsSubtotal(row, true);
    grid.setRowOutlineLevel(row, level);
    setcellicon(grid, row, 1, rs.Fields(2).Value().toText());
    rs.MoveNext();
  }
}

}  // namespace data
