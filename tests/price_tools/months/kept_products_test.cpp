// The products a library's cache entry keeps for whole reads: the same, to
// the unit and scale of every price, the reason of every missing one, the
// manufacturer and the key code, as the read of the rows gives them, on
// generated libraries with repeated and odd texts, unknown makers, Null and
// extreme prices; and a library or part the entry cannot serve is read from
// the rows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>

#include "month_folder.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/product_keys.h"
#include "price_tools/months/products.h"
#include "support/cache_home.h"

using namespace price_tools;
using jetwrite::ColumnType;
using jetwrite::Value;
using months_fixture::MonthFolder;

namespace {

// A library of `rows` generated products. `textIds` makes CategoryID and
// FactoryID (and Factory.ID) text columns, with ids that are numbers only at
// a glance ("007", "") beside plain ones.
void writeGenerated(MonthFolder& folder, const std::string& name, int rows, bool textIds, unsigned seed,
                    ColumnType idType = ColumnType::Long) {
  std::mt19937 rng(seed);
  auto pick = [&rng](const std::vector<Value>& from) { return from[rng() % from.size()]; };
  const ColumnType idColumn = textIds ? ColumnType::Text : ColumnType::Long;
  jetwrite::Database db;
  db.password = "4917";
  jetwrite::Table category{"Category",
                           {{"ID", ColumnType::Long}, {"ParentID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                           {{"0", "-1", "全部"}, {"4", "0", "钢材"}}};
  jetwrite::Table factory{"Factory", {{"ID", idColumn, 20}, {"Name", ColumnType::Text, 50}}, {}};
  if (textIds)
    factory.rows = {{"1", "东岚钢铁"}, {"007", "青川特钢"}, {"x", "海螺水泥"}, {"", "无名厂"}};
  else
    factory.rows = {{"1", "东岚钢铁"}, {"2", "ＤＯＮＧ  钢"}, {"3", "dong 钢"}, {"2000000", "远号厂"}, {"5", ""}};
  // Many makers, so that products of many different ones follow each other.
  if (!textIds)
    for (int f = 10; f < 1600; ++f) factory.rows.push_back({std::to_string(f), "厂" + std::to_string(f)});
  const std::vector<Value> factoryIds =
      textIds ? std::vector<Value>{"1", "007", "7", "x", "", Value(), "01"}
              : std::vector<Value>{"1", "2", "3", "2000000", "5", "9", Value(), "0"};
  const std::vector<Value> categoryIds =
      textIds ? std::vector<Value>{"04", "4", "", Value(), "abc", "18446744073709551616"}
              : std::vector<Value>{"4", "0", "-3", Value(), "2147483647"};
  const std::vector<Value> names = {"螺纹钢 HRB400", "螺纹钢  ＨＲＢ400", "", Value(), "钢'\x1b板", "圆钢"};
  const std::vector<Value> models = {"Φ12", " φ12 ", "", Value()};
  const std::vector<Value> units = {"吨", "米", Value()};
  // Amounts with every number of places, the largest and smallest ones, and
  // doubles that cannot be held exactly (too many places, too large).
  const std::vector<Value> currencies = {Value(), "0", "4100.5", "0.0001", "-3900", "922337203685477.5807",
                                         "-922337203685477.5808", "12345.6789"};
  const std::vector<Value> doubles = {Value(), "1.5", "0.1", "-2.5", "1e300", "3.4e38", "1e-7",
                                      "0.123456789012", "0.1234567890123", "123456789012345678", "0"};
  jetwrite::Table product{"CLProduct",
                          {{"ID", idType, 20},
                           {"CategoryID", idColumn, 30},
                           {"FactoryID", idColumn, 20},
                           {"Name", ColumnType::Text, 100},
                           {"Model", ColumnType::Text, 100},
                           {"Unit", ColumnType::Text, 10},
                           {"PriceTax", ColumnType::Currency},
                           {"PriceNoTax", ColumnType::Double},
                           {"Amount", ColumnType::Single},
                           {"sortid", ColumnType::Long}},
                          {}};
  for (int i = 0; i < rows; ++i) {
    // Ids out of order, some twice, some missing, a few beyond the plain form.
    const int draw = static_cast<int>(rng() % 1000);
    const Value id = draw < 20 ? Value() : draw < 30 ? Value("-" + std::to_string(draw)) : Value(std::to_string(draw));
    const Value maker = textIds || rng() % 2 ? pick(factoryIds) : Value(std::to_string(10 + rng() % 1700));
    product.rows.push_back({id, pick(categoryIds), maker, pick(names), pick(models), pick(units),
                            pick(currencies), pick(doubles), pick({Value(), "0.5", "1e38", "-7.25"}),
                            std::to_string(i)});
  }
  db.tables = {category, factory, product};
  jetwrite::writeDatabase(db, folder.file(name + ".zdj"));
}

// Everything a table tells of its products.
std::vector<std::string> described(const ProductTable& t) {
  std::vector<std::string> out;
  for (size_t i = 0; i < t.size(); ++i) {
    const ProductView p = t[i].view();
    const auto& price = t.price(i);
    out.push_back(p.id + "|" + std::string(p.name) + "|" + std::string(p.model) + "|" + std::string(p.unit) + "|" +
                  std::string(p.factory) + "|" + std::string(p.categoryId) + "|" + std::string(p.factoryId) + "|" +
                  (price ? std::to_string(price->units()) + "e-" + std::to_string(price->scale()) : "-") + "|" +
                  t.priceNote(i) + "|" + std::to_string(t.keyCode(i)));
  }
  return out;
}

// The manufacturers' names lie in the table's own map, products with the
// same name, model and unit share their texts, and the codes are those of the
// rule.
void expectHeldAsTheTableHoldsThem(const ProductTable& t) {
  std::map<std::string, const char*> first;
  for (size_t i = 0; i < t.size(); ++i) {
    const ProductEntry& e = t[i];
    const ProductView v = e.view();
    EXPECT_EQ(t.keyCode(i), keyCodeOf(v.name, v.model, v.unit, v.factory)) << i;
    if (e.factoryName) {
      const auto f = t.factories.find(std::string_view(e.view().factoryId));
      ASSERT_NE(f, t.factories.end()) << i;
      EXPECT_EQ(e.factoryName, &f->second) << i;
    }
    std::string_view name, model, unit;
    e.nameModelUnit(name, model, unit);
    const std::string key = std::string(name) + '\x1f' + std::string(model) + '\x1f' + std::string(unit);
    EXPECT_EQ(first.emplace(key, e.texts).first->second, e.texts) << i;
  }
}

std::string entryOf(const std::string& library) {
  const int fd = ::open(library.c_str(), O_RDONLY);
  struct stat st{};
  ::fstat(fd, &st);
  const ado::LibraryCache cache(library, fd, st);
  ::close(fd);
  return cache.file();
}

// Runs `sql` on a library's entry and seals it again.
void changeEntry(const std::string& library, const std::string& sql) {
  const std::string entry = entryOf(library);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(entry.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  ASSERT_TRUE(ado::resealLibraryCacheEntry(entry));
}

}  // namespace

TEST(KeptProducts, AreTheProductsTheRowsGiveInEveryColumnThatHoldsAmounts) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  for (const bool textIds : {false, true}) {
    SCOPED_TRACE(textIds ? "text ids" : "number ids");
    const std::string name = textIds ? "2026-02" : "2026-01";
    writeGenerated(folder, name, 3000, textIds, textIds ? 7u : 11u);
    for (int open = 0; open < 2; ++open) {  // imported, then from the entry
      const LibraryFile lib(name);
      const auto db = ado::Database::open(folder.file(name + ".zdj"), "4917");
      for (const std::string field : {"PriceTax", "pricenotax", "Amount"}) {
        SCOPED_TRACE(field);
        const ProductTable rows = lib.table(field, true);
        ASSERT_EQ(rows.size(), 3000u);
        ProductTable kept;
        kept.factories = readFactories(*db);
        ASSERT_TRUE(readKeptProducts(*db, field, kept));
        EXPECT_EQ(described(kept), described(rows));
        expectHeldAsTheTableHoldsThem(kept);
        EXPECT_EQ(described(lib.table(field)), described(rows));
      }
      // Other columns are read from the rows.
      ProductTable none;
      EXPECT_FALSE(readKeptProducts(*db, "sortid", none));
      EXPECT_FALSE(readKeptProducts(*db, "Remark", none));
      EXPECT_EQ(none.size(), 0u);
    }
  }
  // The edges are all there: prices that cannot be held, extreme amounts,
  // unknown makers.
  const LibraryFile lib("2026-01");
  const auto has = [](const std::vector<std::string>& all, const std::string& part) {
    return std::any_of(all.begin(), all.end(), [&](const std::string& s) { return s.find(part) != std::string::npos; });
  };
  const std::vector<std::string> doubles = described(lib.table("PriceNoTax")), amounts = described(lib.table("PriceTax"));
  EXPECT_TRUE(has(doubles, "|price cannot be represented: 1E+300|"));
  EXPECT_TRUE(has(doubles, "|123456789012e-12|"));
  EXPECT_TRUE(has(doubles, "|远号厂|"));
  EXPECT_TRUE(has(amounts, "|9223372036854775807e-4|"));
  EXPECT_TRUE(has(amounts, "|-9223372036854775808e-4|"));
}

TEST(KeptProducts, ALibraryOrPartTheEntryCannotServeIsReadFromTheRows) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  // Ids that are texts are put in order by the engine: nothing is kept.
  writeGenerated(folder, "2026-03", 200, false, 3, ColumnType::Text);
  {
    const LibraryFile lib("2026-03");
    ASSERT_TRUE(lib.keyed());
    const auto db = ado::Database::open(folder.file("2026-03.zdj"), "4917");
    ProductTable t;
    EXPECT_FALSE(readKeptProducts(*db, "PriceTax", t));
    EXPECT_EQ(described(lib.table("PriceTax")), described(lib.table("PriceTax", true)));
  }
  // A part that runs past its end, or holds more than its products, is not
  // used (the entry sealed again, as if it had been written so).
  writeGenerated(folder, "2026-04", 500, false, 5);
  const std::string path = folder.file("2026-04.zdj");
  for (const std::string change :
       {"UPDATE velmora_kept_products SET data = CAST(substr(data, 1, length(data) - 2) || x'8080' AS BLOB) "
        "WHERE part = 'rows'",
        "UPDATE velmora_kept_products SET data = CAST(substr(data, 1, length(data) - 1) || x'80' AS BLOB) "
        "WHERE part = 'price:pricetax'",
        "UPDATE velmora_kept_products SET data = CAST(x'00' || substr(data, 2) AS BLOB) WHERE part = 'price:pricetax'",
        "UPDATE velmora_kept_products SET data = CAST(substr(data, 1, length(data) - 1) || x'ff' AS BLOB) "
        "WHERE part = 'answers'",
        // 499 products where there are 500 (0xF4 0x03): parts with one more.
        "UPDATE velmora_kept_products SET data = CAST(x'01f303' || substr(data, 4) AS BLOB) "
        "WHERE part = 'head' AND hex(substr(data, 1, 3)) = '01F403'"}) {
    SCOPED_TRACE(change);
    std::vector<std::string> expected;
    {
      const LibraryFile made("2026-04");  // the entry, made afresh
      expected = described(made.table("PriceTax", true));
      ASSERT_EQ(expected.size(), 500u);
    }
    changeEntry(path, change);
    const LibraryFile lib("2026-04");
    const auto db = ado::Database::open(path, "4917");
    ProductTable t;
    t.factories = readFactories(*db);
    EXPECT_FALSE(readKeptProducts(*db, "PriceTax", t));
    EXPECT_EQ(t.size(), 0u);
    EXPECT_EQ(described(lib.table("PriceTax")), expected);
    ASSERT_EQ(std::remove(entryOf(path).c_str()), 0);
  }
}

TEST(KeptProducts, TheComparisonOfKeptMonthsIsTheComparisonOfTheirRows) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  writeGenerated(folder, "2026-05", 2000, false, 21);
  writeGenerated(folder, "2026-06", 2000, false, 22);
  ASSERT_EQ(folder.open("2026-06"), 1);
  const Comparison kept = compareLibraries("2026-05", "2026-06", "价格-除税", Scope{}, Filter::All);
  const LibraryFile from("2026-05"), to("2026-06");
  const Comparison rows =
      compareProducts(std::make_shared<const ProductTable>(from.table("PriceNoTax", true)),
                      std::make_shared<const ProductTable>(to.table("PriceNoTax", true)), kept.price, Scope{},
                      Filter::All);
  auto shown = [](const Comparison& c) {
    std::vector<std::string> out;
    for (const ComparedRow& r : c.rows)
      out.push_back((r.from ? r.from->id : "-") + ">" + (r.to ? r.to->id : "-") + " " + statusName(r.status) + " " +
                    (r.change ? r.change->text() : "") + " " + (r.percent ? r.percent->text() : "") + " " + r.note);
    return out;
  };
  ASSERT_GT(kept.rows.size(), 2000u);
  EXPECT_EQ(shown(kept), shown(rows));
  EXPECT_EQ(kept.summary.up, rows.summary.up);
  EXPECT_EQ(kept.summary.gone, rows.summary.gone);
  ASSERT_TRUE(kept.summary.medianChange && rows.summary.medianChange);
  EXPECT_EQ(kept.summary.medianChange->text(), rows.summary.medianChange->text());
}
