#include "data/layout.h"

#include <cmath>
#include <cstdlib>
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

}  // namespace

void layoutgrid(VSFlexGrid& grid, const std::string& tableName) {
  GridBatch batch(grid);
  skipOnError("layoutgrid: tag", [&] { grid.setTag(tableName); });
  if (grid.Tag().empty()) return;
  skipOnError("layoutgrid: table settings", [&] { loadtableset(grid.Tag()); });

  ado::Recordset& rs = renewMainrs();
  std::string lastLower;
  {
    CloseOnExit closer(rs);
    long count = 0;
    skipOnError("layoutgrid: layout rows of the role", [&] {
      openQuery(rs,
                "select * from stbgset where tname='" + tableName + "' and zhlb='" + currentrole +
                    "' and yc=0 order by sortid",
                0);
      count = rs.RecordCount();
    });
    if (count <= 0) {
      skipOnError("layoutgrid: close layout rows", [&] {
        if (rs.State() == 1) rs.Close();
      });
      skipOnError("layoutgrid: layout rows of the administrator", [&] {
        openQuery(rs,
                  "select * from stbgset where tname='" + tableName + "' and zhlb='系统管理员' and yc=0 Or  tname='" +
                      tableName + "' and zhlb='-1' and yc=0 order by sortid",
                  0);
        count = rs.RecordCount();
      });
    }
    skipOnError("layoutgrid: header rows", [&] { grid.setRows(3); });
    skipOnError("layoutgrid: first column", [&] { grid.setCols(1); });
    TableSettings.fieldlist.clear();

    if (count > 0) {
      const int n = static_cast<int>(count);
      skipOnError("layoutgrid: columns", [&] { grid.setCols(n + 3); });
      for (int i = 1; i <= n; ++i) {
        std::string upper;
        skipOnError("layoutgrid: column title", [&] {
          const std::string title = rs.Fields("mc").Value().toText();
          const size_t dash = title.find('-');
          if (dash != std::string::npos) {
            upper = title.substr(0, dash);
            const std::string lower = title.substr(dash + 1);
            lastLower = lower;
            grid.setCell(flexcpText, 1, i, lower);
          } else {
            upper = title;
            grid.setCell(flexcpText, 1, i, title);
          }
        });
        skipOnError("layoutgrid: merge column", [&] { grid.setMergeCol(i, true); });
        skipOnError("layoutgrid: upper title", [&] { grid.setCell(flexcpText, 0, i, upper); });
        std::string dataField;
        skipOnError("layoutgrid: column field", [&] {
          dataField = rs.Fields("DataField").Value().toText();
          grid.setCell(flexcpText, 2, i, dataField);
        });
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
          ado::Recordset& aux = auxrs();
          CloseOnExit auxCloser(aux);
          openQuery(aux, list, libraryslot);
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
        skipOnError("layoutgrid: select list", [&] {
          if (dataField.find('.') != std::string::npos)
            TableSettings.fieldlist += dataField + ",";
          else
            TableSettings.fieldlist += tableName + "." + dataField + ",";
        });
        skipOnError("layoutgrid: next layout row", [&] { rs.MoveNext(); });
      }
      skipOnError("layoutgrid: id column", [&] {
        grid.setCell(flexcpText, 0, grid.Cols() - 1, 2, grid.Cols() - 1, TableSettings.onlyid);
      });
      skipOnError("layoutgrid: order column", [&] {
        grid.setCell(flexcpText, 0, grid.Cols() - 2, 2, grid.Cols() - 2, TableSettings.sortid);
      });
      if (!TableSettings.sortid.empty()) TableSettings.fieldlist += tableName + "." + beforeBlank(TableSettings.sortid);
      if (!TableSettings.onlyid.empty()) TableSettings.fieldlist += "," + tableName + "." + TableSettings.onlyid;
    }
  }  // mainrs closed here

  skipOnError("layoutgrid: hidden select list", [&] { grid.setCell(flexcpText, 0, grid.Cols() - 1, TableSettings.fieldlist); });
  skipOnError("layoutgrid: hidden second id", [&] { grid.setCell(flexcpText, 1, grid.Cols() - 1, TableSettings.onlyid1); });
  skipOnError("layoutgrid: hidden display id", [&] { grid.setCell(flexcpText, 0, grid.Cols() - 2, TableSettings.syid); });
  skipOnError("layoutgrid: hidden order", [&] { grid.setCell(flexcpText, 1, grid.Cols() - 2, TableSettings.sortid); });
  skipOnError("layoutgrid: merge first column", [&] { grid.setMergeCol(0, true); });
  skipOnError("layoutgrid: corner upper", [&] { grid.setCell(flexcpText, 0, 0, " "); });
  skipOnError("layoutgrid: corner lower", [&] { grid.setCell(flexcpText, 1, 0, " "); });
  skipOnError("layoutgrid: merge upper header", [&] { grid.setMergeRow(0, true); });
  skipOnError("layoutgrid: merge lower header", [&] { grid.setMergeRow(1, true); });
  if (!lastLower.empty()) {
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

}  // namespace data
