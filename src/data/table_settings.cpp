#include "data/table_settings.h"

#include "data/connections.h"

namespace data {

TableSettingsRecord TableSettings;

void readTableSettings(ado::Recordset& rs, const ado::Connection& project, const std::string& tableName,
                       TableSettingsRecord& into) {
  into.tname = tableName;
  into.onlyid.clear();
  into.syid.clear();
  into.sortid.clear();
  into.onlyid1.clear();
  into.inner.clear();

  CloseOnExit closer(rs);
  openQuery(rs, "select * from stxmsy where tname='" + tableName + "'", project);
  if (rs.RecordCount() >= 1) {
    auto copy = [&](const char* column, std::string& field) {
      std::string v = rs.Fields(column).Value().toText();
      if (!v.empty()) field = v;
    };
    copy("onlyid", into.onlyid);
    copy("syid", into.syid);
    copy("sortid", into.sortid);
    copy("onlyid1", into.onlyid1);
    copy("inner", into.inner);
  }
}

void loadtableset(const std::string& tableName) {
  readTableSettings(renewMainrs(), connections(0), tableName, TableSettings);
}

TableSettingsRecord tableSettings(const ado::Connection& project, const std::string& tableName) {
  TableSettingsRecord out;
  ado::Recordset rs;
  readTableSettings(rs, project, tableName, out);
  return out;
}

}  // namespace data
