#pragma once
// The tables of pro.mdb as the tests write them with the Jet writer: the
// grids' layouts (stbgset), the navigator tables' settings (stxmsy) and the
// file rows (xmfxwjgl), each with the rows a test gives.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jetwrite/jetwriter.h"

namespace testsupport {

using jetwrite::ColumnType;
using jetwrite::Value;
using Rows = std::vector<std::vector<Value>>;
constexpr std::nullopt_t null = std::nullopt;

inline jetwrite::Table stbgset(Rows rows) {
  return {"stbgset",
          {{"tname", ColumnType::Text, 50},
           {"zhlb", ColumnType::Text, 50},
           {"yc", ColumnType::Long},
           {"sortid", ColumnType::Long},
           {"mc", ColumnType::Text, 100},
           {"DataField", ColumnType::Text, 100},
           {"Width", ColumnType::Long},
           {"Alignment", ColumnType::Long},
           {"DataFormat", ColumnType::Text, 50},
           {"BackColor", ColumnType::Long},
           {"Editable", ColumnType::Integer},  // -1 true, 0 false, may be null
           {"list", ColumnType::Memo}},
          std::move(rows)};
}

// One default layout row (zhlb "-1", shown), the rest as given.
inline std::vector<Value> col(const std::string& table, int sortid, const std::string& title,
                              const std::string& field, Value width = "600", Value format = null, Value list = null,
                              Value editable = "0", Value zhlb = "-1") {
  return {table, zhlb, "0", std::to_string(sortid), title, field, width, "1", format, "12632256", editable, list};
}

inline jetwrite::Table stxmsy(Rows rows) {
  return {"stxmsy",
          {{"tname", ColumnType::Text, 50},
           {"onlyid", ColumnType::Text, 50},
           {"syid", ColumnType::Text, 50},
           {"sortid", ColumnType::Text, 50},
           {"onlyid1", ColumnType::Text, 50},
           {"inner", ColumnType::Text, 255}},
          std::move(rows)};
}

// The settings of the three navigator tables: the category tree by ParentID,
// products joined to their manufacturer and ordered by it.
inline Rows standardSettings() {
  return {{"Category", "ID", "ParentID", "ID", null, null},
          {"CLProduct", "ID", null, "FactoryID", null, " inner join Factory on CLProduct.FactoryID=Factory.ID"},
          {"Factory", "ID", null, "ID", null, null}};
}

inline jetwrite::Table xmfxwjgl(Rows rows) {
  return {"xmfxwjgl",
          {{"fxid", ColumnType::Long}, {"bgmc", ColumnType::Text, 100}, {"wjid", ColumnType::Long},
           {"ico", ColumnType::Text, 50}},
          std::move(rows)};
}

// pro.mdb with its password and the three tables.
inline jetwrite::Database proMdb(Rows layout, Rows settings = standardSettings(), Rows files = {}) {
  jetwrite::Database db;
  db.password = "tqwmzhpbnk3";
  db.tables = {stbgset(std::move(layout)), stxmsy(std::move(settings)), xmfxwjgl(std::move(files))};
  return db;
}

}  // namespace testsupport
