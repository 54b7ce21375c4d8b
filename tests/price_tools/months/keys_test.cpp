// The matching keys kept in the library cache: the codes the cache entry
// holds agree with the rule, pairs by code are confirmed by the texts, the
// cache builds a derived table once and again only for another version, and
// the bounded open-then-read routine keeps its bound.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <sqlite3.h>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "month_folder.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/bounded_pipeline.h"
#include "price_tools/months/history.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/product_keys.h"
#include "support/cache_home.h"

using namespace price_tools;
using months_fixture::Item;
using months_fixture::MonthFolder;

namespace {

Product product(const std::string& id, const std::string& name, int64_t code) {
  Product p;
  p.id = id;
  p.name = name;
  p.model = "Φ12";
  p.unit = "吨";
  p.keyCode = code;
  return p;
}

std::vector<std::string> pairs(const std::vector<Product>& from, const std::vector<Product>& to) {
  std::vector<std::string> out;
  for (const MatchedPair& m : matchProducts(from, to))
    out.push_back((m.from >= 0 ? from[size_t(m.from)].id : "-") + "-" + (m.to >= 0 ? to[size_t(m.to)].id : "-"));
  return out;
}

// One month whose names differ only by what normalising folds, with a name
// holding a quote and control characters.
std::vector<Item> oddMonth() {
  return {{1, "螺纹钢", "HRB400 Φ12", "吨", 2, "4000", 1},
          {2, "ＰＶＣ　管", " De110 ", "米", 3, "12.5", 2},
          {3, "PVC 管", "DE110", "米", 3, "13", 2},
          {4, std::string("钢'\x1b\x01") + "板", "δ10", "吨", 1, "5000", 1},
          {5, "圆钢", "Φ8", "吨", 3, "", 9}};  // a maker the library does not list
}

}  // namespace

TEST(ProductKeys, TheCodesTheCacheHoldsAreTheCodesOfTheRule) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  platform::MessageBoxRecorder quiet;
  folder.writeLibrary("2026-03", oddMonth());
  for (int open = 0; open < 2; ++open) {  // imported, then from the entry
    const LibraryFile lib("2026-03");
    ASSERT_TRUE(lib.keyed());
    const LibraryProducts read = lib.products("PriceTax");
    ASSERT_EQ(read.products.size(), 5u);
    for (Product p : read.products) {
      ASSERT_GE(p.keyCode, 0) << p.id;
      const int64_t stored = p.keyCode;
      p.keyCode = -1;
      EXPECT_EQ(stored, keyCode(p)) << p.id;
    }
    // Read with a condition, the few products get their codes as well.
    const auto one = lib.products("PriceTax", nullptr, "ID=4", false);
    ASSERT_EQ(one.products.size(), 1u);
    EXPECT_EQ(one.products[0].keyCode, read.products[3].keyCode);
    // Full-width and blanks fold to one key, hence one code; another text another.
    EXPECT_EQ(read.products[1].keyCode, read.products[2].keyCode);
    EXPECT_NE(read.products[0].keyCode, read.products[1].keyCode);
    // An answer's range holds its products of every maker, and no other.
    const auto [low, high] = answerCodes(normalised("PVC 管") + '\x1f' + normalised("DE110") + '\x1f' + "米");
    EXPECT_TRUE(low <= read.products[1].keyCode && read.products[1].keyCode <= high);
    EXPECT_FALSE(low <= read.products[0].keyCode && read.products[0].keyCode <= high);
  }
  // Found through the index, the product with the quote and control bytes too.
  ASSERT_EQ(folder.open("2026-03"), 1);
  const History h = productHistory("4", "2026-03", "", {"2026-03"});
  ASSERT_EQ(h.points.size(), 1u);
  EXPECT_TRUE(h.points[0].present);
}

TEST(ProductKeys, PairsByCodeAreConfirmedByTheTexts) {
  // Different keys under one code (as a digest may give them) are never
  // paired, alone or among several; equal keys written differently are.
  EXPECT_EQ(pairs({product("1", "螺纹钢", 7)}, {product("2", "圆钢", 7)}), (std::vector<std::string>{"--2", "1--"}));
  EXPECT_EQ(pairs({product("1", "螺纹钢", 7), product("3", "圆钢", 7)}, {product("2", "圆钢", 7)}),
            (std::vector<std::string>{"3-2", "1--"}));
  EXPECT_EQ(pairs({product("1", "ＰＶＣ管", 5)}, {product("2", "pvc管", 5)}), (std::vector<std::string>{"1-2"}));
  // Codes not read are made from the texts.
  EXPECT_EQ(pairs({product("1", "ＰＶＣ管", -1)}, {product("2", "pvc管", -1)}), (std::vector<std::string>{"1-2"}));
}

TEST(DerivedTables, AreBuiltOnceAndAgainOnlyForAnotherVersion) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  folder.writeLibrary("2026-04", oddMonth());
  const std::string path = folder.file("2026-04.zdj");
  std::atomic<int> builds{0};
  auto builder = [&builds](ado::Database& db) {
    ++builds;
    ASSERT_EQ(sqlite3_exec(db.sqlite(), "CREATE TABLE t_derived(x)", nullptr, nullptr, nullptr), 0);
  };
  ado::registerDerivedTable({"t_derived", 1, builder});
  EXPECT_EQ(ado::derivedTableVersion(*ado::Database::open(path, "4917"), "t_derived"), 1);
  EXPECT_EQ(ado::derivedTableVersion(*ado::Database::open(path, "4917"), "t_derived"), 1);
  EXPECT_EQ(builds, 1);  // the second open is served from the entry, table and all
  ado::registerDerivedTable({"t_derived", 2, builder});
  EXPECT_EQ(ado::derivedTableVersion(*ado::Database::open(path, "4917"), "t_derived"), 2);
  EXPECT_EQ(ado::derivedTableVersion(*ado::Database::open(path, "4917"), "t_derived"), 2);
  EXPECT_EQ(builds, 2);
  // A build that fails leaves no table and no version; the open goes on.
  ado::registerDerivedTable({"t_derived", 3, [](ado::Database& db) {
                               sqlite3_exec(db.sqlite(), "CREATE TABLE t_derived(x)", nullptr, nullptr, nullptr);
                               throw std::runtime_error("no");
                             }});
  const auto db = ado::Database::open(path, "4917");
  EXPECT_EQ(ado::derivedTableVersion(*db, "t_derived"), 0);
  EXPECT_THROW(db->execute("select * from t_derived"), ado::Error);
  EXPECT_EQ(db->execute("select count(*) from CLProduct").cells.at(0).toText(), "5");
  ado::registerDerivedTable({"t_derived", 3, nullptr});  // leaves later tests alone
}

TEST(OpenThenRead, KeepsItsBoundReadsEachOpenedItemOnceAndPassesTheFirstFailureOn) {
  std::mutex m;
  std::atomic<int> held{0}, most{0};
  std::vector<int> reads(40, 0);
  openThenRead(
      40,
      [&](size_t i) {
        const int now = ++held;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        if (i % 7 == 3) {  // could not be opened: not read
          --held;
          return false;
        }
        return true;
      },
      [&](size_t i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        {
          const std::lock_guard<std::mutex> g(m);
          ++reads[i];
        }
        --held;
      },
      {2, 3});
  EXPECT_LE(most, 3);
  EXPECT_GE(most, 2);  // the reads did overlap the opens
  for (size_t i = 0; i < reads.size(); ++i) EXPECT_EQ(reads[i], i % 7 == 3 ? 0 : 1) << i;

  // A failing open stops the opening; the reads begun end first.
  std::atomic<int> opened{0}, done{0};
  EXPECT_THROW(openThenRead(
                   10,
                   [&](size_t i) {
                     if (i == 4) throw std::runtime_error("open");
                     ++opened;
                     return true;
                   },
                   [&](size_t) {
                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                     ++done;
                   }),
               std::runtime_error);
  EXPECT_EQ(opened, 4);
  EXPECT_EQ(done, 4);
  // A failing read is passed on after the others.
  done = 0;
  EXPECT_THROW(openThenRead(
                   6, [](size_t) { return true; },
                   [&](size_t i) {
                     ++done;
                     if (i == 1) throw std::logic_error("read");
                   }),
               std::logic_error);
  EXPECT_EQ(done, 6);
}

TEST(ProductKeys, AStreamOfCodesGivesEachRowItsCodeAlsoAskedOutOfOrder) {
  QTemporaryDir cache;
  testsupport::CacheHome home(cache.path().toStdString());
  MonthFolder folder;
  folder.writeLibrary("2026-05", oddMonth());
  useProductKeys();
  const auto db = ado::Database::open(folder.file("2026-05.zdj"), "4917");
  ASSERT_TRUE(hasProductKeys(*db));
  const auto all = keyCodes(*db);  // by rid
  ASSERT_EQ(all.size(), 5u);
  {
    KeyCodeStream stream(*db);
    for (const auto& [rid, code] : all) EXPECT_EQ(stream(rid), code) << rid;
    EXPECT_EQ(stream(all.back().first + 1), -1);
  }
  // Rows skipped, then one behind, then on again, and one that is not there.
  KeyCodeStream stream(*db);
  EXPECT_EQ(stream(all[3].first), all[3].second);
  EXPECT_EQ(stream(all[1].first), all[1].second);
  EXPECT_EQ(stream(all[4].first), all[4].second);
  EXPECT_EQ(stream(all[4].first + 100), -1);
  EXPECT_EQ(stream(all[0].first), all[0].second);
}
