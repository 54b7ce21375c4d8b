#include "data/table_settings.h"

#include "data/connections.h"

namespace data {

TableSettingsRecord TableSettings;

void loadtableset(const std::string& tableName) {
  TableSettings.tname = tableName;
  TableSettings.onlyid.clear();
  TableSettings.syid.clear();
  TableSettings.sortid.clear();
  TableSettings.onlyid1.clear();
  TableSettings.inner.clear();

  ado::Recordset& rs = renewMainrs();
  CloseOnExit closer(rs);
  openQuery(rs, "select * from stxmsy where tname='" + tableName + "'", 0);
  if (rs.RecordCount() >= 1) {
    auto copy = [&](const char* column, std::string& field) {
      std::string v = rs.Fields(column).Value().toText();
      if (!v.empty()) field = v;
    };
    copy("onlyid", TableSettings.onlyid);
    copy("syid", TableSettings.syid);
    copy("sortid", TableSettings.sortid);
    copy("onlyid1", TableSettings.onlyid1);
    copy("inner", TableSettings.inner);
  }
}

}  // namespace data
