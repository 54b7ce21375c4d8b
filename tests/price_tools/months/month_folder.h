#pragma once
// A throw-away program folder of monthly libraries for the price tools,
// written by the project's Jet writer: pro.mdb lays the product grid out with
// the columns 产品名称, 规格型号, 单位, 价格-含税 (Currency, format 0.00),
// 价格-除税 (Double), 生产厂家 (Factory.Name), 备注 (Memo) and 分类编号
// (CategoryID, width 0), and each library holds a category tree
// 0 > 1 钢材 > {2 螺纹钢 > 4 HRB400, 3 圆钢}, 5 水泥 and the manufacturers and
// products a test gives.
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "common/program_folder.h"
#include "data/connections.h"
#include "jetwrite/jetwriter.h"
#include "support/pro_mdb.h"

namespace months_fixture {

struct Item {
  int id;
  std::string name;
  std::string model;
  std::string unit;
  int factoryId;
  std::string price;  // Currency text, "" for empty
  int categoryId = 4;
  std::string priceNoTax = "1.5";  // Double text
};

using Factories = std::vector<std::pair<int, std::string>>;

// A product page: the HtmlRelational row of a category and a manufacturer.
struct Page {
  int categoryId;
  int factoryId;
  std::string file;
};

inline Factories standardFactories() { return {{1, "东岚钢铁"}, {2, "青川特钢"}, {3, "海螺水泥"}}; }

// Two months of the same products. The earlier month: 螺纹钢 HRB400 Φ12, Φ16
// and Φ20 (no price), 圆钢 Φ8, 水泥 P.O42.5 and P.C32.5.
inline std::vector<Item> earlierMonth() {
  return {{1, "螺纹钢 HRB400", "Φ12", "吨", 1, "4000.0000"}, {2, "螺纹钢 HRB400", "Φ16", "吨", 2, "4100.5000"},
          {3, "圆钢", "Φ8", "吨", 1, "3900", 3},           {4, "水泥", "P.O42.5", "吨", 3, "450", 5},
          {5, "水泥", "P.C32.5", "吨", 3, "400", 5},       {6, "螺纹钢 HRB400", "Φ20", "吨", 1, ""}};
}
// The later month renumbers every product and 东岚钢铁 (1 -> 7, see
// laterFactories), with blanks and full-width letters in names: Φ12 rises 200
// (5 %), Φ16 falls 100, 圆钢 stays, P.O42.5 rises 20, Φ20 has a price, 中砂 is
// new, P.C32.5 is gone.
inline std::vector<Item> laterMonth() {
  return {{101, "螺纹钢  HRB400", "Φ12", "吨", 7, "4200"}, {102, "螺纹钢 ＨＲＢ400", "Φ16", "吨", 2, "4000.5"},
          {103, "圆钢", "Φ8", "吨", 7, "3900.0000", 3},     {104, "水泥", "P.O42.5", "吨", 3, "470", 5},
          {106, "螺纹钢 HRB400", "Φ20", "吨", 7, "4300"},   {107, "砂", "中砂", "m3", 3, "120", 5}};
}
inline Factories laterFactories() { return {{7, "东岚钢铁"}, {2, "青川特钢"}, {3, "海螺水泥"}}; }

class MonthFolder {
 public:
  MonthFolder() : path_(dir_.path().toStdString()) {
    data::resetDataModule();
    common::setProgramFolder(path_);
    writeProMdb();
  }
  ~MonthFolder() { data::resetDataModule(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  void writeLibrary(const std::string& name, const std::vector<Item>& items,
                    const Factories& factories = standardFactories(), const std::string& password = "4917",
                    const std::vector<Page>& pageRows = {}) {
    using jetwrite::ColumnType;
    jetwrite::Database db;
    db.password = password;
    jetwrite::Table category{"Category",
                             {{"ID", ColumnType::Long}, {"ParentID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                             {{"0", "-1", "全部"}, {"1", "0", "钢材"}, {"2", "1", "螺纹钢"}, {"4", "2", "HRB400"},
                              {"3", "1", "圆钢"}, {"5", "0", "水泥"}}};
    jetwrite::Table factory{"Factory", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}}, {}};
    for (const auto& [id, n] : factories) factory.rows.push_back({std::to_string(id), n});
    jetwrite::Table product{"CLProduct",
                            {{"ID", ColumnType::Long},
                             {"CategoryID", ColumnType::Long},
                             {"FactoryID", ColumnType::Long},
                             {"Name", ColumnType::Text, 100},
                             {"Model", ColumnType::Text, 100},
                             {"Unit", ColumnType::Text, 10},
                             {"PriceTax", ColumnType::Currency},
                             {"PriceNoTax", ColumnType::Double},
                             {"Remark", ColumnType::Memo}},
                            {}};
    for (const Item& it : items)
      product.rows.push_back({std::to_string(it.id), std::to_string(it.categoryId), std::to_string(it.factoryId),
                              it.name, it.model, it.unit,
                              it.price.empty() ? jetwrite::Value() : jetwrite::Value(it.price), it.priceNoTax, "备注"});
    jetwrite::Table pages{"HtmlRelational",
                          {{"ID", ColumnType::Long},
                           {"CategoryID", ColumnType::Long},
                           {"FactoryID", ColumnType::Long},
                           {"HtmlFileName", ColumnType::Text, 200}},
                          {}};
    for (size_t i = 0; i < pageRows.size(); ++i)
      pages.rows.push_back({std::to_string(i + 1), std::to_string(pageRows[i].categoryId),
                            std::to_string(pageRows[i].factoryId), pageRows[i].file});
    db.tables = {category, factory, product, pages};
    jetwrite::writeDatabase(db, file(name + ".zdj"));
  }

  // Opens a library and pro.mdb as the main window does.
  int open(const std::string& library) {
    data::libraryslot = 1;
    return data::opendatabases(library + ".zdj");
  }

 private:
  void writeProMdb() {
    using testsupport::col;
    jetwrite::writeDatabase(
        testsupport::proMdb({col("CLProduct", 1, "产品名称", "Name", "700"), col("CLProduct", 2, "规格型号", "Model", "600"),
                             col("CLProduct", 3, "单位", "Unit", "300"),
                             col("CLProduct", 4, "价格-含税", "PriceTax", "500", "0.00"),
                             col("CLProduct", 5, "价格-除税", "PriceNoTax", "500"),
                             col("CLProduct", 6, "生产厂家", "Factory.Name", "900"),
                             col("CLProduct", 7, "备注", "Remark", "-1"), col("CLProduct", 8, "分类编号", "CategoryID", "0"),
                             col("Category", 1, "分类", "Name", "-1"), col("Factory", 1, "厂家", "Name", "-1")}),
        file("pro.mdb"));
  }

  QTemporaryDir dir_;
  std::string path_;
};

}  // namespace months_fixture
