// The month tools on real libraries written by the Jet writer: price columns,
// the comparison's pairs, scopes, filters, order and summary, the history's
// month order and gaps, what the product grid shows, and velmora-cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "data/browse.h"
#include "month_folder.h"
#include "platform/database/adodb.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/history.h"
#include "price_tools/months/month_order.h"

using namespace price_tools;
using months_fixture::Item;
using months_fixture::MonthFolder;

namespace {

const char* kJan = "2026年01月信息价";
const char* kFeb = "2026年02月信息价";

// January and February: February renumbers every product and 东岚钢铁 (1 -> 7);
// 螺纹钢 Φ12 rises 200 (5 %), Φ16 falls 100, 圆钢 stays, P.O42.5 rises 20,
// Φ20 had no price and has one, 中砂 is new, P.C32.5 and 线材 are gone.
struct TwoMonths {
  MonthFolder folder;
  platform::MessageBoxRecorder messages;
  TwoMonths() {
    std::vector<Item> january = months_fixture::earlierMonth();
    january.push_back({8, "线材", "Φ6.5", "吨", 1, "3700", 5});
    folder.writeLibrary(kJan, january);
    folder.writeLibrary(kFeb, months_fixture::laterMonth(), months_fixture::laterFactories());
    EXPECT_EQ(folder.open(kFeb), 1);
  }
};

// Rows as "from>to status change percent".
std::vector<std::string> rows(const Comparison& c) {
  std::vector<std::string> out;
  for (const ComparedRow& r : c.rows)
    out.push_back((r.from ? r.from->id : "-") + ">" + (r.to ? r.to->id : "-") + " " + statusName(r.status) + " " +
                  (r.change ? r.change->text() : "") + " " + (r.percent ? r.percent->text() : ""));
  return out;
}

}  // namespace

TEST(PriceColumns, AreTheNumericColumnsTheProductGridShowsUnderTheirTitles) {
  TwoMonths m;
  const auto columns = priceColumns(kFeb);
  ASSERT_EQ(columns.size(), 2u);  // not 分类编号 (width 0), not the texts
  EXPECT_EQ(columns[0].title, "价格-含税");
  EXPECT_EQ(columns[0].field, "PriceTax");
  EXPECT_EQ(columns[0].format, "0.00");
  EXPECT_EQ(columns[1].title, "价格-除税");
  EXPECT_EQ(findPriceColumn(columns, "")->field, "PriceTax");
  EXPECT_EQ(findPriceColumn(columns, "价格-除税")->field, "PriceNoTax");
  EXPECT_FALSE(findPriceColumn(columns, "含税"));
}

TEST(Comparison, PairsRenumberedProductsAndSortsBySizeOfChange) {
  TwoMonths m;
  const Comparison c = compareLibraries(kJan, kFeb, "", Scope{}, Filter::All);
  EXPECT_EQ(c.from, kJan);
  EXPECT_EQ(c.price.title, "价格-含税");
  EXPECT_EQ(rows(c), (std::vector<std::string>{"1>101 up 200 5", "2>102 down -100 -2.44", "4>104 up 20 4.44",
                                               "3>103 same 0 0", "6>106 new  ", "->107 new  ", "5>- gone  ",
                                               "8>- gone  "}));
  EXPECT_EQ(c.rows[0].product().name, "螺纹钢  HRB400");  // shown as the newer library has it
  EXPECT_EQ(c.rows[0].oldPrice->text(), "4000");
  EXPECT_EQ(c.summary.up, 2);
  EXPECT_EQ(c.summary.down, 1);
  EXPECT_EQ(c.summary.same, 1);
  EXPECT_EQ(c.summary.added, 2);
  EXPECT_EQ(c.summary.gone, 2);
  EXPECT_EQ(c.summary.medianChange->text(), "10");  // of -100, 0, 20, 200

  // The other price column: a Double, read exactly as its text.
  const Comparison noTax = compareLibraries(kJan, kFeb, "价格-除税", Scope{}, Filter::All);
  EXPECT_EQ(noTax.rows[0].oldPrice->text(), "1.5");
  EXPECT_THROW(compareLibraries(kJan, kFeb, "单位", Scope{}, Filter::All), std::invalid_argument);

  // The older library is read on a thread of its own: a library that opens
  // but has no products fails the comparison with the provider's error.
  jetwrite::Database noProducts;
  noProducts.password = "4917";
  noProducts.tables = {{"Factory", {{"ID", jetwrite::ColumnType::Long}, {"Name", jetwrite::ColumnType::Text, 50}}, {}}};
  jetwrite::writeDatabase(noProducts, m.folder.file("2025年12月信息价.zdj"));
  EXPECT_THROW(compareLibraries("2025年12月信息价", kFeb, "", Scope{}, Filter::All), ado::Error);
}

TEST(Comparison, ScopesAndFiltersNarrowTheRowsButNotTheSummary) {
  TwoMonths m;
  auto ids = [](const Comparison& c) {
    std::vector<std::string> out;
    for (const ComparedRow& r : c.rows) out.push_back(r.product().id);
    return out;
  };
  // A category with its subcategories (螺纹钢 2 > HRB400 4), in each library's tree.
  Comparison c = compareLibraries(kJan, kFeb, "", Scope{Scope::Category, "2", "", ""}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"101", "102", "106"}));
  c = compareLibraries(kJan, kFeb, "", Scope{Scope::Category, "3", "", ""}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"103"}));
  // A manufacturer by its name: 7 in February is 1 in January (线材, gone,
  // is one of its products only in January).
  c = compareLibraries(kJan, kFeb, "", Scope{Scope::Factory, "7", "", ""}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"101", "103", "106", "8"}));
  c = compareLibraries(kJan, kFeb, "", Scope{Scope::Factory, "1", "", ""}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"101", "103", "106", "8"}));
  // A search as the toolbar runs it, in both libraries: the gone one too.
  c = compareLibraries(kJan, kFeb, "", Scope{Scope::Search, "", "产品名称", "水泥"}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"104", "5"}));
  c = compareLibraries(kJan, kFeb, "", Scope{Scope::Search, "", "生产厂家", "青川"}, Filter::All);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"102"}));

  c = compareLibraries(kJan, kFeb, "", Scope{}, Filter::Up);
  EXPECT_EQ(ids(c), (std::vector<std::string>{"101", "104"}));
  EXPECT_EQ(c.summary.down, 1);
  EXPECT_EQ(ids(compareLibraries(kJan, kFeb, "", Scope{}, Filter::Down)), (std::vector<std::string>{"102"}));
  EXPECT_EQ(ids(compareLibraries(kJan, kFeb, "", Scope{}, Filter::New)), (std::vector<std::string>{"106", "107"}));
  EXPECT_EQ(ids(compareLibraries(kJan, kFeb, "", Scope{}, Filter::Gone)), (std::vector<std::string>{"5", "8"}));
  EXPECT_EQ(compareLibraries(kJan, kFeb, "", Scope{}, Filter::Changed).rows.size(), 7u);
}

// A category scope in a library whose category tree cannot be read still
// compares, and says that its subcategories are left out.
TEST(Comparison, ACategoryTreeThatCannotBeReadIsNoted) {
  TwoMonths m;
  using jetwrite::ColumnType;
  jetwrite::Database noTree;
  noTree.password = "4917";
  noTree.tables = {
      jetwrite::Table{"Factory", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}}, {{"7", "东岚钢铁"}}},
      jetwrite::Table{"CLProduct",
                      {{"ID", ColumnType::Long}, {"CategoryID", ColumnType::Long}, {"FactoryID", ColumnType::Long},
                       {"Name", ColumnType::Text, 100}, {"Model", ColumnType::Text, 100}, {"Unit", ColumnType::Text, 10},
                       {"PriceTax", ColumnType::Currency}, {"PriceNoTax", ColumnType::Double}},
                      {{"201", "4", "7", "螺纹钢", "Φ12", "吨", "4300", "3800"}}}};
  const std::string kMar = "2026年03月信息价";
  jetwrite::writeDatabase(noTree, m.folder.file(kMar + ".zdj"));

  const Scope category{Scope::Category, "2", "", ""};
  EXPECT_TRUE(compareLibraries(kJan, kFeb, "", category, Filter::All).notes.empty());
  EXPECT_TRUE(compareLibraries(kFeb, kMar, "", Scope{}, Filter::All).notes.empty());
  const Comparison c = compareLibraries(kFeb, kMar, "", category, Filter::All);
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_NE(c.notes[0].find(kMar), std::string::npos) << c.notes[0];
  EXPECT_EQ(c.notes[0].find(kFeb), std::string::npos) << c.notes[0];
  EXPECT_FALSE(c.rows.empty()) << "the comparison ran all the same";
}

TEST(History, FollowsTheProductInMonthOrderWithGapsAndUnreadableLibraries) {
  TwoMonths m;
  // Name order puts 信息价2025-09 after the 2026年 libraries; month order first.
  m.folder.writeLibrary("信息价2025-09", {{1, "螺纹钢 HRB400", "Φ12", "吨", 1, "3800.1234"}});
  m.folder.writeLibrary("2026年03月信息价", {{1, "圆钢", "Φ8", "吨", 1, "3950"}});
  m.folder.writeLibrary("2026年04月信息价", {{1, "螺纹钢 HRB400", "Φ12", "吨", 1, "1"}}, months_fixture::standardFactories(),
                        "other");
  // In 旧库 the id 101 is another product's: the product is found by its key.
  m.folder.writeLibrary("旧库", {{101, "圆钢", "Φ8", "吨", 1, "1"}, {55, "螺纹钢HRB400", "Φ12", "吨", 1, "1"},
                                 {56, "螺纹钢 hrb400", "Φ12", "吨", 1, "4400"}});
  const History h = productHistory("101", kFeb, "");
  EXPECT_EQ(h.product.name, "螺纹钢  HRB400");
  EXPECT_EQ(h.price.title, "价格-含税");
  std::vector<std::string> got;
  for (const HistoryPoint& p : h.points)
    got.push_back(p.library + " " + (p.month ? p.month->text() : "-") + " " + (p.present ? p.id : "-") + " " +
                  (p.price ? p.price->text() : "-") + (p.error.empty() ? "" : " error"));
  EXPECT_EQ(got, (std::vector<std::string>{"信息价2025-09 2025-09 1 3800.1234", "2026年01月信息价 2026-01 1 4000",
                                           "2026年02月信息价 2026-02 101 4200", "2026年03月信息价 2026-03 - -",
                                           "2026年04月信息价 2026-04 - - error", "旧库 - 56 4400"}));
  // Without a reference library: the latest month (2026年04月, not 旧库, which
  // has no month), which cannot be read.
  EXPECT_THROW(productHistory("1", "", ""), ado::Error);
  EXPECT_THROW(productHistory("999", kFeb, ""), std::invalid_argument);
  // Only rows holding the name's Chinese characters are read from each
  // library; a full-width spelling of the rest is still the same product.
  const History fullWidth = productHistory("2", kJan, "");
  ASSERT_EQ(fullWidth.points.size(), 6u);
  EXPECT_EQ(fullWidth.points[2].id, "102");
  EXPECT_EQ(fullWidth.points[2].price->text(), "4000.5");
}

TEST(History, FollowsOneOfSeveralEqualProductsEqualIdFirstThenByOrder) {
  MonthFolder f;
  platform::MessageBoxRecorder messages;
  const Item a{501, "螺纹钢 HRB400", "Φ12", "吨", 1, "5000"}, b{502, "螺纹钢 HRB400", "Φ12", "吨", 1, "5100"};
  f.writeLibrary("2026年05月信息价", {a, b});
  Item c1 = a, c2 = a, c3 = a;
  c1.id = 1, c1.price = "6000";
  c2.id = 2, c2.price = "6100";
  c3.id = 502, c3.price = "6200";
  f.writeLibrary("2026年06月信息价", {c1, c2, c3});
  ASSERT_EQ(f.open("2026年06月信息价"), 1);
  // 502 keeps its id; 501 takes the first one left over.
  History h = productHistory("501", "2026年05月信息价", "");
  ASSERT_EQ(h.points.size(), 2u);
  EXPECT_EQ(h.points[1].id, "1");
  EXPECT_EQ(h.points[1].price->text(), "6000");
  h = productHistory("502", "2026年05月信息价", "");
  EXPECT_EQ(h.points[1].id, "502");
  EXPECT_EQ(h.points[1].price->text(), "6200");
}

TEST(ShownProducts, RecordsTheProductGridsLastFill) {
  TwoMonths m;
  platform::VSFlexGrid categories, products, factories;
  for (auto* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession s(categories, products, factories);
  using Shown = data::NavigatorSession::ShownProducts;
  s.loadnav();
  EXPECT_EQ(s.shown().kind, Shown::None);
  EXPECT_TRUE(s.fillByCategory(" 4"));
  EXPECT_EQ(s.shown().kind, Shown::Category);
  EXPECT_EQ(s.shown().id, "4");
  EXPECT_EQ(products.Rows(), 3 + 3);
  s.fillByFactory("1 or 1=1");
  EXPECT_EQ(s.shown().kind, Shown::Factory);
  EXPECT_EQ(s.shown().id, "0");
  EXPECT_EQ(s.search("产品名称", ""), data::NavigatorSession::SearchOutcome::EmptyText);
  EXPECT_EQ(s.search("型号", "x"), data::NavigatorSession::SearchOutcome::NoSuchField);
  EXPECT_EQ(s.shown().kind, Shown::Factory);
  EXPECT_EQ(s.search("生产厂家", "海螺"), data::NavigatorSession::SearchOutcome::Filled);
  EXPECT_EQ(s.shown().kind, Shown::Search);
  EXPECT_EQ(s.shown().field, "生产厂家");
  EXPECT_EQ(s.shown().text, "海螺");
  s.loadnav();
  EXPECT_EQ(s.shown().kind, Shown::None);
}

#ifdef VELMORA_CLI
namespace {
std::string run(const std::string& args, int* status = nullptr) {
  const std::string cmd = std::string(VELMORA_CLI) + " " + args + " 2>/dev/null";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}
}  // namespace

TEST(MonthCommands, CompareAndHistoryPrintTheSameRowsAsJsonCsvAndText) {
  TwoMonths m;
  const std::string folder = "'" + m.folder.path() + "'";
  int status = -1;
  std::string out = run("compare " + folder + " --only down --format json", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "{\"from\":\"2026年01月信息价\",\"to\":\"2026年02月信息价\",\"price\":\"价格-含税\",\"rows\":[\n"
            "{\"id_from\":\"2\",\"id_to\":\"102\",\"name\":\"螺纹钢 ＨＲＢ400\",\"model\":\"Φ16\",\"unit\":\"吨\","
            "\"factory\":\"青川特钢\",\"old\":4100.5,\"new\":4000.5,\"change\":-100,\"percent\":-2.44,"
            "\"status\":\"down\"}\n]}\n");
  out = run("compare " + folder + " --from 2026年01月信息价 --to 2026年02月信息价 --search 产品名称 水泥 --format json");
  EXPECT_NE(out.find("\"id_from\":\"5\",\"id_to\":null,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"new\":null,\"change\":null,\"percent\":null,\"status\":\"gone\""), std::string::npos) << out;
  // The initials search of the window, in each library by its own names.
  EXPECT_EQ(run("compare " + folder + " --from 2026年01月信息价 --to 2026年02月信息价 --search 拼音简码 sn --format json", &status),
            out);
  EXPECT_EQ(status, 0);
  run("compare " + folder + " --search 型号 x", &status);
  EXPECT_EQ(status, 2);
  out = run("compare " + folder + " --category 3 --format csv");
  EXPECT_EQ(out, "id_from,id_to,name,model,unit,factory,old,new,change,percent,status\r\n"
                 "3,103,圆钢,Φ8,吨,东岚钢铁,3900,3900,0,0,same\r\n");
  out = run("compare " + folder + " --only up");  // text: formatted as the grid formats 价格-含税
  EXPECT_NE(out.find("1\t101\t螺纹钢  HRB400\tΦ12\t吨\t东岚钢铁\t4000.00\t4200.00\t200.00\t5.00%\tup\n"),
            std::string::npos)
      << out;
  run("compare " + folder + " --only sideways", &status);
  EXPECT_EQ(status, 2);
  run("compare " + folder + " --category 1 --factory 2", &status);
  EXPECT_EQ(status, 2);
  run("compare " + folder + " --price 单位", &status);
  EXPECT_EQ(status, 1);
  for (const char* bad : {"abc", "-1", "1.5", ""}) {
    out = run("compare " + folder + " --category '" + bad + "' --format csv", &status);
    EXPECT_EQ(status, 2) << bad;
    EXPECT_EQ(out, "") << bad;
    run("compare " + folder + " --factory '" + bad + "'", &status);
    EXPECT_EQ(status, 2) << bad;
  }

  out = run("history " + folder + " --product 3 --library 2026年01月信息价 --format json", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "{\"product\":{\"name\":\"圆钢\",\"model\":\"Φ8\",\"unit\":\"吨\",\"factory\":\"东岚钢铁\"},"
            "\"price\":\"价格-含税\",\"points\":[\n"
            "{\"library\":\"2026年01月信息价\",\"month\":\"2026-01\",\"id\":\"3\",\"price\":3900},\n"
            "{\"library\":\"2026年02月信息价\",\"month\":\"2026-02\",\"id\":\"103\",\"price\":3900}\n]}\n");
  out = run("history " + folder + " --product 5 --library 2026年01月信息价 --format csv");
  EXPECT_EQ(out, "library,month,id,price\r\n2026年01月信息价,2026-01,5,400\r\n2026年02月信息价,2026-02,,\r\n");
  run("history " + folder + " --product 5", &status);  // not in the latest library
  EXPECT_EQ(status, 1);
  run("history " + folder, &status);
  EXPECT_EQ(status, 2);
  // A library that cannot be read: its month is marked, the run fails.
  {
    std::ofstream(m.folder.file("2026年03月信息价.zdj"), std::ios::binary) << std::string(4096, 'x');
    out = run("history " + folder + " --product 3 --library 2026年01月信息价 --format json", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("{\"library\":\"2026年03月信息价\",\"month\":\"2026-03\",\"id\":null,\"price\":null,"
                       "\"error\":\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"id\":\"103\",\"price\":3900}"), std::string::npos) << out;
    std::filesystem::remove(m.folder.file("2026年03月信息价.zdj"));
  }

  // Without --from: the month before --to, not the one before the latest.
  m.folder.writeLibrary("2026年03月信息价", {{1, "圆钢", "Φ8", "吨", 1, "3950", 3}});
  out = run("compare " + folder + " --to 2026年02月信息价 --category 3 --format csv");
  EXPECT_EQ(out, "id_from,id_to,name,model,unit,factory,old,new,change,percent,status\r\n"
                 "3,103,圆钢,Φ8,吨,东岚钢铁,3900,3900,0,0,same\r\n");
}

// Control characters from a library reach text output escaped (they would
// steer the terminal), CSV and JSON exactly.
TEST(MonthCommands, TextOutputEscapesControlCharactersCsvAndJsonKeepThem) {
  MonthFolder folder;
  const std::string name = std::string("钢\x1b[2J\a\x7f\x01\\z") + "\xc2\x9b" + std::string(1, '\0') + "|";
  const std::string escaped = "钢\\e[2J\\a\\x7F\\x01\\z\\u009B\\0|";
  folder.writeLibrary("2026-01", {{1, name, "Φ8", "吨", 1, "3900", 3}});
  folder.writeLibrary("2026-02", {{7, name, "Φ8", "吨", 1, "3950", 3}});
  const std::string dir = "'" + folder.path() + "'";
  std::string out = run("compare " + dir);
  EXPECT_NE(out.find("1\t7\t" + escaped + "\tΦ8\t"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\a'), std::string::npos) << out;
  EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;
  out = run("compare " + dir + " --format csv");
  EXPECT_NE(out.find("1,7," + name + ",Φ8,"), std::string::npos) << out;
  out = run("compare " + dir + " --format json");
  EXPECT_NE(out.find("\"name\":\"钢\\u001b[2J\\u0007\x7f\\u0001\\\\z\xc2\x9b"), std::string::npos) << out;
  out = run("browse " + dir + " category 3");
  EXPECT_NE(out.find("\t" + escaped + "\tΦ8\t"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  out = run("browse " + dir + " --format csv category 3");
  EXPECT_NE(out.find("," + name + ",Φ8,"), std::string::npos) << out;

  // A library name holding ESC, in history's text.
  std::filesystem::rename(folder.file("2026-01.zdj"), folder.file("2026-01\x1b]0;x\a.zdj"));
  out = run("history " + dir + " --product 7");
  EXPECT_NE(out.find("2026-01\\e]0;x\\a\t2026-01\t1\t3900.00\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  out = run("history " + dir + " --product 7 --format csv");
  EXPECT_NE(out.find("2026-01\x1b]0;x\a,2026-01,1,3900\r\n"), std::string::npos) << out;
}

// Libraries whose file names differ only in letter case are each listed once
// and each read from its own file.
TEST(MonthCommands, LibrariesWhoseNamesDifferOnlyInCaseAreEachReadFromTheirOwnFile) {
  MonthFolder folder;
  folder.writeLibrary("2026-10", {{1, "圆钢", "Φ8", "吨", 1, "100", 3}});
  const std::vector<std::pair<std::string, std::string>> files = {
      {"A2026-11.zdj", "111"}, {"A2026-11.Zdj", "112"}, {"a2026-11.ZDJ", "113"}};
  for (const auto& [file, price] : files) {
    folder.writeLibrary("x", {{1, "圆钢", "Φ8", "吨", 1, price, 3}});
    std::filesystem::rename(folder.file("x.zdj"), folder.file(file));
  }
  std::vector<std::string> listed = libraryList(folder.path());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"2026-10", "A2026-11", "A2026-11.Zdj", "a2026-11.ZDJ"}));

  const std::string dir = "'" + folder.path() + "'";
  int status = -1;
  const std::string out = run("history " + dir + " --product 1 --library 2026-10 --format csv", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
  EXPECT_EQ(out.find("2026-10,2026-10,1,100\r\n"), 24u) << out;
  for (const std::string line :
       {"A2026-11,2026-11,1,111\r\n", "A2026-11.Zdj,2026-11,1,112\r\n", "a2026-11.ZDJ,2026-11,1,113\r\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << out;
  EXPECT_EQ(run("compare " + dir + " --from A2026-11.Zdj --to a2026-11.ZDJ --format csv", &status),
            "id_from,id_to,name,model,unit,factory,old,new,change,percent,status\r\n"
            "1,1,圆钢,Φ8,吨,东岚钢铁,112,113,1,0.89,up\r\n");
  EXPECT_EQ(status, 0);
}

// A price, change or per cent beyond what a price can hold marks its own
// row; the other products are still compared.
TEST(MonthCommands, PricesThatCannotBeRepresentedMarkTheirProductNotTheRun) {
  MonthFolder folder;
  folder.writeLibrary("2026-01", {{1, "钢A", "x", "吨", 1, "-922337203685477.5807", 3},
                                  {2, "钢B", "x", "吨", 1, "100", 3},
                                  {3, "钢C", "x", "吨", 1, "100", 3},
                                  {4, "钢D", "x", "吨", 1, "0.0001", 3}});
  folder.writeLibrary("2026-02", {{1, "钢A", "x", "吨", 1, "922337203685477.5807", 3},
                                  {2, "钢B", "x", "吨", 1, "110", 3},
                                  {3, "钢C", "x", "吨", 1, "100", 3, "1e300"},
                                  {4, "钢D", "x", "吨", 1, "900000000000000", 3}});
  const std::string dir = "'" + folder.path() + "'";
  int status = -1;
  std::string out = run("compare " + dir + " --format json", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"name\":\"钢B\",\"model\":\"x\",\"unit\":\"吨\",\"factory\":"
                     "\"东岚钢铁\",\"old\":100,"
                     "\"new\":110,\"change\":10,\"percent\":10,\"status\":\"up\"}"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"old\":-922337203685477.5807,\"new\":922337203685477."
                     "5807,\"change\":null,\"percent\":null,"
                     "\"status\":\"up\",\"note\":\"change out of range\"}"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"old\":0.0001,\"new\":900000000000000,\"change\":"
                     "899999999999999.9999,\"percent\":null,"
                     "\"status\":\"up\",\"note\":\"per cent out of range\"}"),
            std::string::npos)
      << out;
  out = run("compare " + dir + " --price 价格-除税 --format json", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"name\":\"钢C\",\"model\":\"x\",\"unit\":\"吨\","
                     "\"factory\":\"东岚钢铁\",\"old\":1.5,"
                     "\"new\":null,\"change\":null,\"percent\":null,\"status\":"
                     "\"gone\",\"note\":\"price cannot be "
                     "represented: "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"name\":\"钢B\",\"model\":\"x\",\"unit\":\"吨\",\"factory\":"
                     "\"东岚钢铁\",\"old\":1.5,"
                     "\"new\":1.5,\"change\":0,\"percent\":0,\"status\":\"same\"}"),
            std::string::npos)
      << out;
}
#endif
