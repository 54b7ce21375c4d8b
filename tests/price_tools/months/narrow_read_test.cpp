// The narrow read of a library: every cell as the provider's row path gives
// it (type, text, number) for every column type, empty and missing columns,
// prices as exact as their Variants, and the products the price tools keep
// from it (whole and compact) in the order of their ids, whatever order the
// library holds them in.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "common/text_case.h"
#include "data/connections.h"
#include "month_folder.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/products.h"

using namespace price_tools;
using jetwrite::ColumnType;
using months_fixture::MonthFolder;

namespace {

const std::vector<std::string> kColumns = {"ID", "B", "By", "I", "L", "C", "S", "D", "Dt", "Tx", "M"};

// One table with a column of each type the libraries use, and the values at
// their edges: empty texts beside Null, the largest amounts (kept by the
// copy as counts of units), numbers a double writes with an exponent, and
// texts that read as numbers in several ways.
jetwrite::Table allTypes() {
  jetwrite::Table t{"T",
                    {{"ID", ColumnType::Long},
                     {"B", ColumnType::YesNo},
                     {"By", ColumnType::Byte},
                     {"I", ColumnType::Integer},
                     {"L", ColumnType::Long},
                     {"C", ColumnType::Currency},
                     {"S", ColumnType::Single},
                     {"D", ColumnType::Double},
                     {"Dt", ColumnType::DateTime},
                     {"Tx", ColumnType::Text, 50},
                     {"M", ColumnType::Memo}},
                    {}};
  using V = jetwrite::Value;
  t.rows = {
      {"3", "true", "255", "-32768", "2147483647", "922337203685477.5807", "1.5", "0.1", "2026-12-01 08:30:00",
       "4100.50", "备注"},
      {"1", V(), V(), V(), V(), V(), V(), V(), V(), V(), V()},
      {"2", "false", "0", "7", "-5", "-0.0001", "3.4e38", "1e300", "1899-12-30", "", ""},
      {"4", "true", "12", "1", "0", "200000000000.0001", "-2.5", "-1e-7", "2000-02-29 23:59:59", "1E+15", "2.5e-3"},
      {"5", "false", "1", "-1", "-2147483648", "-922337203685477.5808", "0.3", "123456789012345678",
       "1970-01-01", " 12.5 ", "0.1234567890123"},
      {"6", "true", "2", "2", "2", "0", "0", "0", "2026-01-31", "abc", "99999999999999999999"},
  };
  return t;
}

struct TypedLibrary {
  QTemporaryDir dir;
  ado::Connection connection;
  TypedLibrary() {
    jetwrite::Database db;
    db.tables = {allTypes()};
    const std::string path = dir.path().toStdString() + "/types.mdb";
    jetwrite::writeDatabase(db, path);
    connection.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path);
  }
  ado::Database& db() { return *connection.database(); }
};

// The row path's fields, row by row, in the order of the ids.
std::vector<std::vector<ado::Variant>> rowPath(ado::Database& db) {
  std::vector<std::vector<ado::Variant>> out;
  db.forEachRow("select ID, B, By, I, L, C, S, D, Dt, Tx, M from T order by ID",
                [&](std::vector<ado::Variant>& r) { out.push_back(r); });
  return out;
}

}  // namespace

TEST(NarrowRead, GivesEachCellAsTheRowPathDoes) {
  TypedLibrary lib;
  const auto expected = rowPath(lib.db());
  ASSERT_EQ(expected.size(), 6u);
  // Names in any letter case; the order asked for.
  std::vector<std::string> lower;
  for (const std::string& c : kColumns) lower.push_back(common::asciiLower(c));
  ado::ColumnReader r(lib.db(), "t", lower, "", "id");
  std::string scratch;
  size_t row = 0;
  while (r.next()) {
    ASSERT_LT(row, expected.size());
    for (size_t k = 0; k < kColumns.size(); ++k) {
      const ado::Variant& v = expected[row][k];
      SCOPED_TRACE("row " + std::to_string(row) + " column " + kColumns[k] + " " + v.toText());
      EXPECT_TRUE(r.has(k));
      ASSERT_EQ(r.type(k), v.type());
      EXPECT_EQ(r.value(k).type(), v.type());
      EXPECT_EQ(r.value(k).toText(), v.toText());
      EXPECT_EQ(std::string(r.toText(k, scratch)), v.toText());
      EXPECT_EQ(std::string(r.text(k)), v.type() == ado::Variant::Type::Text ? v.toText() : "");
      using T = ado::Variant::Type;
      if (v.type() == T::Currency) EXPECT_EQ(r.integer(k), v.currencyUnits());
      if (v.type() == T::Boolean || v.type() == T::Byte || v.type() == T::Integer || v.type() == T::Long)
        EXPECT_EQ(r.integer(k), v.toInt64());
    }
    ++row;
  }
  EXPECT_EQ(row, expected.size());
}

TEST(NarrowRead, MissingColumnsReadEmptyAConditionNarrowsAndOnlyReadingIsAllowed) {
  TypedLibrary lib;
  ado::ColumnReader r(lib.db(), "T", {"ID", "Nope", "rowid", ""}, "L > 0 and Tx <> 'x'", "ID");
  EXPECT_TRUE(r.has(0));
  EXPECT_FALSE(r.has(1));
  EXPECT_TRUE(r.has(2));
  EXPECT_FALSE(r.has(3));
  std::vector<std::string> ids;
  std::string scratch;
  while (r.next()) {
    ids.push_back(std::string(r.toText(0, scratch)));
    EXPECT_EQ(r.type(1), ado::Variant::Type::Null);
    EXPECT_EQ(std::string(r.toText(1, scratch)), "");
    EXPECT_GT(r.integer(2), 0);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"3", "6"}));

  try {
    ado::ColumnReader none(lib.db(), "CLProduct", {"ID"});
    ADD_FAILURE() << "a missing table was read";
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.number, -2147217865);
  }
  EXPECT_THROW(ado::ColumnReader(lib.db(), "T", {"ID"}, "", "Nope"), ado::Error);
  // The engine's own tables and functions that are none of Jet's stay out.
  EXPECT_THROW(ado::ColumnReader(lib.db(), "T", {"ID"}, "ID in (select rootpage from sqlite_schema)"), ado::Error);
  EXPECT_THROW(ado::ColumnReader(lib.db(), "T", {"ID"}, "randomblob(2) is not null"), ado::Error);
  EXPECT_THROW(ado::ColumnReader(lib.db(), "T", {"ID"},
                                 "ID in (with recursive c(x) as (select 1 union all select x + 1 from c) "
                                 "select x from c limit 3)"),
               ado::Error);
}

TEST(NarrowRead, PricesAreThoseTheirVariantsGive) {
  TypedLibrary lib;
  const auto expected = rowPath(lib.db());
  ado::ColumnReader r(lib.db(), "T", kColumns, "", "ID");
  std::string scratch;
  size_t row = 0, exact = 0;
  while (r.next()) {
    for (size_t k = 0; k < kColumns.size(); ++k) {
      SCOPED_TRACE("row " + std::to_string(row) + " column " + kColumns[k]);
      const std::optional<Decimal> want = Decimal::fromVariant(expected[row][k]);
      const std::optional<Decimal> got = Decimal::fromCell(r, k, scratch);
      ASSERT_EQ(got.has_value(), want.has_value());
      if (want) {
        EXPECT_EQ(got->text(), want->text());
        ++exact;
      }
    }
    ++row;
  }
  EXPECT_GT(exact, 30u);
  // Some that tell the rules apart: text with an exponent and blanks, the
  // largest amounts, and numbers that cannot be held exactly.
  ado::ColumnReader t(lib.db(), "T", {"Tx", "M", "C", "D"}, "ID = 4 or ID = 5", "ID");
  ASSERT_TRUE(t.next());
  EXPECT_EQ(Decimal::fromCell(t, 0, scratch)->text(), "1000000000000000");
  EXPECT_EQ(Decimal::fromCell(t, 1, scratch)->text(), "0.0025");
  EXPECT_EQ(Decimal::fromCell(t, 2, scratch)->text(), "200000000000.0001");
  EXPECT_EQ(Decimal::fromCell(t, 3, scratch)->text(), "-0.0000001");
  ASSERT_TRUE(t.next());
  EXPECT_EQ(Decimal::fromCell(t, 0, scratch)->text(), "12.5");
  EXPECT_FALSE(Decimal::fromCell(t, 1, scratch));  // 13 places
  EXPECT_EQ(Decimal::fromCell(t, 2, scratch)->text(), "-922337203685477.5808");
}

namespace {

// A library whose CLProduct lacks Model and Unit, holds its products out of
// the order of their ids (one id twice, one missing), a product without a
// price and one whose maker it does not list.
void writeNarrowLibrary(MonthFolder& folder, const std::string& name, ColumnType idType) {
  jetwrite::Database db;
  db.password = "4917";
  jetwrite::Table category{"Category",
                           {{"ID", ColumnType::Long}, {"ParentID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                           {{"0", "-1", "全部"}, {"4", "0", "钢材"}}};
  jetwrite::Table factory{"Factory", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                          {{"1", "东岚钢铁"}, {"2", "青川特钢"}}};
  jetwrite::Table product{"CLProduct",
                          {{"ID", idType},
                           {"CategoryID", ColumnType::Long},
                           {"FactoryID", ColumnType::Long},
                           {"Name", ColumnType::Text, 100},
                           {"PriceTax", ColumnType::Currency}},
                          {{"30", "4", "1", "圆钢", "3900"},
                           {"10", "4", "2", "螺纹钢 HRB400", "4000.5"},
                           {"200", "4", "9", "线材", jetwrite::Value()},
                           {"10", "4", "1", "螺纹钢 HRB400", "4100"},
                           {jetwrite::Value(), "4", "1", "无编号", "1"},
                           {"9", "4", "2", "盘条", "0.0001"}}};
  db.tables = {category, factory, product};
  jetwrite::writeDatabase(db, folder.file(name + ".zdj"));
}

std::vector<std::string> described(const LibraryProducts& lib) {
  std::vector<std::string> out;
  for (const Product& p : lib.products)
    out.push_back(p.id + "|" + p.name + "|" + p.model + "|" + p.unit + "|" + p.factory + "|" + p.categoryId + "|" +
                  p.factoryId + "|" + (p.price ? p.price->text() : "-"));
  return out;
}

std::vector<std::string> described(const ProductTable& table) {
  std::vector<std::string> out;
  for (size_t i = 0; i < table.size(); ++i) {
    const ProductView p = table[i].view();
    out.push_back(p.id + "|" + std::string(p.name) + "|" + std::string(p.model) + "|" + std::string(p.unit) + "|" +
                  std::string(p.factory) + "|" + std::string(p.categoryId) + "|" + std::string(p.factoryId) + "|" +
                  (table.price(i) ? table.price(i)->text() : "-"));
  }
  return out;
}

}  // namespace

TEST(NarrowRead, KeepsTheProductsOfTheLibraryInTheOrderOfTheirIds) {
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  writeNarrowLibrary(folder, "2026-01", ColumnType::Long);
  const std::vector<std::string> expected = {
      "|无编号|||东岚钢铁|4|1|1",          "9|盘条|||青川特钢|4|2|0.0001",     "10|螺纹钢 HRB400|||青川特钢|4|2|4000.5",
      "10|螺纹钢 HRB400|||东岚钢铁|4|1|4100", "30|圆钢|||东岚钢铁|4|1|3900", "200|线材||||4|9|-"};
  const LibraryFile lib("2026-01");
  EXPECT_EQ(described(lib.products("PriceTax")), expected);
  const ProductTable table = lib.table("PriceTax");
  EXPECT_EQ(described(table), expected);
  EXPECT_EQ(table.categoryParents.at("4"), "0");
  // A price column the library lacks gives no prices.
  for (const std::string& p : described(lib.table("PriceNoTax"))) EXPECT_EQ(p.back(), '-') << p;

  // Text ids are put in order as the engine orders texts.
  writeNarrowLibrary(folder, "2026-02", ColumnType::Text);
  const LibraryFile texts("2026-02");
  const std::vector<std::string> byText = described(texts.products("PriceTax"));
  EXPECT_EQ(byText.front().substr(0, 4), "|无");
  EXPECT_EQ(byText[1].substr(0, 3), "10|");
  EXPECT_EQ(byText[3].substr(0, 4), "200|");
  EXPECT_EQ(described(texts.table("PriceTax")), byText);
}

TEST(NarrowRead, TheComparisonShowsTheProductsItKeeps) {
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  writeNarrowLibrary(folder, "2026-01", ColumnType::Long);
  writeNarrowLibrary(folder, "2026-02", ColumnType::Long);
  ASSERT_EQ(folder.open("2026-02"), 1);
  const Comparison c = compareLibraries("2026-01", "2026-02", "", Scope{}, Filter::All);
  ASSERT_EQ(c.rows.size(), 6u);
  std::vector<std::string> shown;
  for (const ComparedRow& r : c.rows) {
    const ProductView p = r.product();
    shown.push_back(r.from->id + ">" + r.to->id + " " + std::string(p.name) + " " + std::string(p.factory) + " " +
                    statusName(r.status));
  }
  // Same prices: in the newer library's order; the product without a price is gone.
  EXPECT_EQ(shown, (std::vector<std::string>{"> 无编号 东岚钢铁 same", "9>9 盘条 青川特钢 same",
                                             "10>10 螺纹钢 HRB400 青川特钢 same", "10>10 螺纹钢 HRB400 东岚钢铁 same",
                                             "30>30 圆钢 东岚钢铁 same", "200>200 线材  gone"}));
}

TEST(NarrowRead, TheComparisonSortsChangesAndPerCentsOfEveryScale) {
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  folder.writeLibrary("2026-01", {{1, "甲", "x", "吨", 1, "10"},
                                  {2, "乙", "x", "吨", 1, "30"},
                                  {3, "丙", "x", "吨", 1, "4"},
                                  {4, "丁", "x", "吨", 1, "1"},
                                  {5, "戊", "x", "吨", 1, "8"}});
  folder.writeLibrary("2026-02", {{1, "甲", "x", "吨", 1, "12"},
                                  {2, "乙", "x", "吨", 1, "32"},
                                  {3, "丙", "x", "吨", 1, "4.5"},
                                  {4, "丁", "x", "吨", 1, "4"},
                                  {5, "戊", "x", "吨", 1, "6.75"}});
  ASSERT_EQ(folder.open("2026-02"), 1);
  const Comparison c = compareLibraries("2026-01", "2026-02", "", Scope{}, Filter::All);
  std::vector<std::string> order;
  for (const ComparedRow& r : c.rows) order.push_back(r.to->id + " " + r.change->text() + " " + r.percent->text());
  // 3 before 2 before -1.25 before 0.5; of the two changes of 2, 20 % before 6.67 %.
  EXPECT_EQ(order, (std::vector<std::string>{"4 3 300", "1 2 20", "2 2 6.67", "5 -1.25 -15.63", "3 0.5 12.5"}));
}
