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
  skipOnError([&] { grid.setTag(tableName); });
  if (grid.Tag().empty()) return;
  skipOnError([&] { loadtableset(grid.Tag()); });

  ado::Recordset& rs = renewMainrs();
  std::string lastLower;
  {
    CloseOnExit closer(rs);
    long count = 0;
    skipOnError([&] {
      openQuery(rs,
                "select * from stbgset where tname='" + tableName + "' and zhlb='" + currentrole +
                    "' and yc=0 order by sortid",
                0);
      count = rs.RecordCount();
    });
    if (count <= 0) {
      skipOnError([&] {
        if (rs.State() == 1) rs.Close();
      });
      skipOnError([&] {
        openQuery(rs,
                  "select * from stbgset where tname='" + tableName + "' and zhlb='系统管理员' and yc=0 Or  tname='" +
                      tableName + "' and zhlb='-1' and yc=0 order by sortid",
                  0);
        count = rs.RecordCount();
      });
    }
    skipOnError([&] { grid.setRows(3); });
    skipOnError([&] { grid.setCols(1); });
    TableSettings.fieldlist.clear();

    if (count > 0) {
      const int n = static_cast<int>(count);
      skipOnError([&] { grid.setCols(n + 3); });
      for (int i = 1; i <= n; ++i) {
        std::string upper;
        skipOnError([&] {
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
        skipOnError([&] { grid.setMergeCol(i, true); });
        skipOnError([&] { grid.setCell(flexcpText, 0, i, upper); });
        std::string dataField;
        skipOnError([&] {
          dataField = rs.Fields("DataField").Value().toText();
          grid.setCell(flexcpText, 2, i, dataField);
        });
        skipOnError([&] { grid.setCell(flexcpAlignment, 0, i, 1, i, flexAlignCenterCenter); });
        skipOnError([&] {
          const double width = numberOf(rs.Fields("Width").Value());
          if (width == -1) {
            const long long left = grid.Cell(flexcpLeft, 0, i).number();
            grid.setColWidth(i, static_cast<int>(grid.Width() - left - 400));
          } else {
            grid.setColWidth(i, static_cast<int>(std::lround(2 * width)));
          }
        });
        skipOnError([&] { grid.setColAlignment(i, wholeNumberOf(rs.Fields("Alignment").Value())); });
        skipOnError([&] {
          const std::string format = rs.Fields("DataFormat").Value().toText();
          if (!format.empty()) {
            if (format == "check")
              grid.setColDataType(i, flexDTBoolean);
            else
              grid.setColFormat(i, format);
          }
        });
        skipOnError([&] {
          grid.setCell(flexcpBackColor, 0, i, static_cast<long long>(numberOf(rs.Fields("BackColor").Value())));
        });
        skipOnError([&] {
          const bool editable = editableValue(rs.Fields("Editable").Value());
          grid.setCell(flexcpChecked, 2, i, editable ? flexChecked : flexUnchecked);
          grid.setColEditable(i, editable);
        });
        skipOnError([&] {
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
        skipOnError([&] {
          if (dataField.find('.') != std::string::npos)
            TableSettings.fieldlist += dataField + ",";
          else
            TableSettings.fieldlist += tableName + "." + dataField + ",";
        });
        skipOnError([&] { rs.MoveNext(); });
      }
      skipOnError([&] {
        grid.setCell(flexcpText, 0, grid.Cols() - 1, 2, grid.Cols() - 1, TableSettings.onlyid);
      });
      skipOnError([&] {
        grid.setCell(flexcpText, 0, grid.Cols() - 2, 2, grid.Cols() - 2, TableSettings.sortid);
      });
      if (!TableSettings.sortid.empty()) TableSettings.fieldlist += tableName + "." + beforeBlank(TableSettings.sortid);
      if (!TableSettings.onlyid.empty()) TableSettings.fieldlist += "," + tableName + "." + TableSettings.onlyid;
    }
  }  // mainrs closed here

  skipOnError([&] { grid.setCell(flexcpText, 0, grid.Cols() - 1, TableSettings.fieldlist); });
  skipOnError([&] { grid.setCell(flexcpText, 1, grid.Cols() - 1, TableSettings.onlyid1); });
  skipOnError([&] { grid.setCell(flexcpText, 0, grid.Cols() - 2, TableSettings.syid); });
  skipOnError([&] { grid.setCell(flexcpText, 1, grid.Cols() - 2, TableSettings.sortid); });
  skipOnError([&] { grid.setMergeCol(0, true); });
  skipOnError([&] { grid.setCell(flexcpText, 0, 0, " "); });
  skipOnError([&] { grid.setCell(flexcpText, 1, 0, " "); });
  skipOnError([&] { grid.setMergeRow(0, true); });
  skipOnError([&] { grid.setMergeRow(1, true); });
  if (!lastLower.empty()) {
    skipOnError([&] { grid.setRowHidden(1, false); });
    skipOnError([&] { grid.setRowHeight(0, 280); });
  } else {
    skipOnError([&] { grid.setRowHidden(1, true); });
    skipOnError([&] { grid.setRowHeight(0, 350); });
  }
  skipOnError([&] { grid.setRowHidden(2, true); });
  skipOnError([&] { grid.setColHidden(grid.Cols() - 1, true); });
  skipOnError([&] { grid.setColHidden(grid.Cols() - 2, true); });
}

}  // namespace data
