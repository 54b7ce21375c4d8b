// The navigation rules and the headless navigator session.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "data/browse.h"
#include "data/connections.h"
#include "data/files.h"
#include "data/navigation.h"
#include "program_folder.h"
#include "support/test_support.h"

using namespace fixture;
using namespace platform;

TEST(Navigation, IdsSearchTextsAndThePageRow) {
  EXPECT_EQ(data::idText("12"), "12");
  EXPECT_EQ(data::idText(" 12 "), "12");
  EXPECT_EQ(data::idText("-3"), "-3");
  EXPECT_EQ(data::idText("007"), "7");
  for (const char* bad : {"", " ", "-", "12a", "1 or 1=1", "=7", "1.5", "0x10", "99999999999999999999999"})
    EXPECT_EQ(data::idText(bad), "0") << bad;

  EXPECT_EQ(data::searchCondition("产品名称", "钢"), "StrConv(CLProduct.Name, 8) like '%钢%'");
  EXPECT_EQ(data::searchCondition("生产厂家", "50%"), "StrConv(Factory.Name, 8) like '%50%%'");
  EXPECT_EQ(data::searchCondition("生产厂家", "O'Brien"), "StrConv(Factory.Name, 8) like '%O''Brien%'");
  EXPECT_EQ(data::searchCondition("产品名称", " "), "StrConv(CLProduct.Name, 8) like '% %'");
  // The typed text in its half-width form, a full-width apostrophe doubled too.
  EXPECT_EQ(data::searchCondition("产品名称", "ｈｒｂ４００＇"), "StrConv(CLProduct.Name, 8) like '%hrb400''%'");
  EXPECT_FALSE(data::searchCondition("名称", "x").has_value());

  VSFlexGrid g;
  data::prepareNavigatorGrid(g);
  g.setCols(6);
  g.setRows(6);
  EXPECT_EQ(g.LastHeaderRow(), 2);
  g.setTextMatrix(4, 3, "12");
  g.setTextMatrix(4, 4, "7");
  g.setTextMatrix(5, 3, "5");
  g.setTextMatrix(5, 4, "x");
  g.setTextMatrix(4, 5, "44");
  g.setRow(4);
  EXPECT_EQ(data::pageRow(g), 4);
  EXPECT_EQ(data::pageKey(g).categoryId, "12");
  EXPECT_EQ(data::pageKey(g).factoryId, "7");
  EXPECT_EQ(data::currentRowId(g), "44");
  g.setRow(2);  // at the last header row: the last row
  EXPECT_EQ(data::pageRow(g), 5);
  EXPECT_EQ(data::pageKey(g).factoryId, "0") << "a text that is no number counts as 0";
  g.setRow(-1);
  EXPECT_EQ(data::pageRow(g), 5);
  EXPECT_EQ(data::currentRowId(g), "0");
}

TEST(NavigatorSession, LoadClickSearchAndPages) {
  ProgramFolder folder;
  {
    MessageBoxRecorder rec;
    ASSERT_EQ(data::openFolder(folder.path().string(), "lib"), 1);
  }
  std::ofstream(folder.file("web/a.htm")) << "<html></html>";
  VSFlexGrid categories, products, factories;
  for (VSFlexGrid* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession s(categories, products, factories);
  s.loadnav();
  EXPECT_EQ(categories.Rows(), 3 + 8);
  EXPECT_EQ(products.Rows(), 3) << "the product grid is laid out, not filled";
  EXPECT_EQ(products.Tag(), "CLProduct");
  EXPECT_EQ(factories.Rows(), 3 + 3);

  // A click on 螺纹钢 (id 3).
  categories.setRow(5);
  ASSERT_EQ(categories.TextMatrix(5, 1), "螺纹钢");
  EXPECT_TRUE(s.click(data::NavigatorSession::Categories));
  EXPECT_EQ(products.Rows(), 3 + 2);
  // The fill made no row current: the page row is the last one, 3/1 -> web\a.htm (present).
  data::PageTarget page = s.page("http://svc");
  EXPECT_FALSE(page.isDefault);
  EXPECT_TRUE(page.isLocal);
  EXPECT_EQ(page.address, folder.file("web/a.htm"));
  // The same page installed as WEB\A.HTM: still the local page, as it lies.
  std::filesystem::remove(folder.file("web/a.htm"));
  std::filesystem::create_directories(folder.file("WEB"));
  std::ofstream(folder.file("WEB/A.HTM")) << "<html></html>";
  page = s.page("http://svc");
  EXPECT_TRUE(page.isLocal);
  EXPECT_EQ(page.address, folder.file("WEB/A.HTM"));
  // A manufacturer click: 宁波水泥 (id 3) -> product 3 in category 2: web\b.htm is not installed.
  factories.setRow(5);
  EXPECT_TRUE(s.click(data::NavigatorSession::Factories));
  ASSERT_EQ(products.Rows(), 4);
  page = s.page("http://svc");
  EXPECT_FALSE(page.isLocal);
  EXPECT_EQ(page.address, "http://svc/vosk\\web\\b.htm");
  // A product click fills nothing.
  EXPECT_TRUE(s.click(data::NavigatorSession::Products));
  EXPECT_EQ(products.Rows(), 4);
  // A pair without a page: the default page.
  page = data::NavigatorSession::pageOf({"1", "1"}, "http://svc");
  EXPECT_TRUE(page.isDefault);
  EXPECT_EQ(page.address, data::defaultPagePath());

  // Searches: an apostrophe is doubled, so the search finds its row.
  EXPECT_EQ(s.search("产品名称", "O'Brien"), data::NavigatorSession::SearchOutcome::Filled);
  ASSERT_EQ(products.Rows(), 4);
  EXPECT_EQ(products.TextMatrix(3, 1), "O'Brien 白水泥");
  EXPECT_EQ(s.search("生产厂家", "钢铁"), data::NavigatorSession::SearchOutcome::Filled);
  EXPECT_EQ(products.Rows(), 3 + 3);
  // A text holding "where" still gets the keyword in front of the condition.
  EXPECT_EQ(s.search("产品名称", "somewhere"), data::NavigatorSession::SearchOutcome::Filled);
  EXPECT_EQ(products.Rows(), 3);
  // Full-width and half-width forms, and letter case, are one: "ｈｒｂ４" finds
  // what "hrb4" finds, "ＨＲＢ" what "hrb" finds.
  auto found = [&](const char* field, const char* typed) {
    EXPECT_EQ(s.search(field, typed), data::NavigatorSession::SearchOutcome::Filled) << typed;
    std::vector<std::string> names;
    for (int r = products.FixedRows(); r < products.Rows(); ++r) names.push_back(products.TextMatrix(r, 1));
    return names;
  };
  EXPECT_EQ(found("产品名称", "hrb4"), (std::vector<std::string>{"螺纹钢 HRB400"}));
  EXPECT_EQ(found("产品名称", "ｈｒｂ４"), found("产品名称", "hrb4"));
  EXPECT_EQ(found("产品名称", "ＨＲＢ"), (std::vector<std::string>{"螺纹钢 HRB400", "螺纹钢 HRB500"}));
  EXPECT_EQ(found("生产厂家", "ｏ＇ｂｒｉｅｎ"), (std::vector<std::string>{"O'Brien 白水泥"}));
  EXPECT_EQ(s.search("生产厂家", "钢铁"), data::NavigatorSession::SearchOutcome::Filled);
  EXPECT_EQ(s.search("产品名称", ""), data::NavigatorSession::SearchOutcome::EmptyText);
  EXPECT_EQ(s.search("其他", "x"), data::NavigatorSession::SearchOutcome::NoSuchField);
  EXPECT_EQ(products.Rows(), 3 + 3) << "neither touches the grid";

  // A navigator row whose id cell is not a plain number selects id 0.
  categories.setTextMatrix(5, categories.Cols() - 1, "3 or 1=1");
  EXPECT_TRUE(s.click(data::NavigatorSession::Categories));
  EXPECT_EQ(products.Rows(), 3);

  // No library open: the lookup cannot run, the default page.
  data::connections(data::libraryslot).Close();
  page = s.page("http://svc");
  EXPECT_TRUE(page.isDefault);
  EXPECT_FALSE(s.fillByCategory("3"));
}

TEST(Navigation, PageNamesThatLeaveTheProgramFolderShowTheDefaultPage) {
  jetwrite::Database lib = library();
  const Rows names = {{"5", "1", "\\..\\secret.htm"},   {"5", "2", "\\web\\..\\..\\secret.htm"},
                      {"5", "3", "/web/.../secret.htm"}, {"5", "4", "C:\\web\\a.htm"},
                      {"5", "5", "c:web\\a.htm"},        {"5", "6", "\\\\server\\share\\a.htm"},
                      {"5", "7", "//server/share/a.htm"}, {"5", "8", "\\web\\.. \\secret.htm"},
                      {"6", "1", "web\\a.htm"},          {"6", "2", "\\web\\.\\a.htm"},
                      {"6", "3", "\\web\\a..b.htm"}};
  for (jetwrite::Table& t : lib.tables)
    if (t.name == "HtmlRelational") t.rows.insert(t.rows.end(), names.begin(), names.end());
  ProgramFolder folder(standardLayout(), standardSettings(), {}, lib);
  folder.open();
  std::ofstream(folder.file("web/a.htm")) << "<html></html>";
  auto page = [](const char* category, const char* factory) {
    return data::NavigatorSession::pageOf({category, factory}, "http://svc");
  };
  for (const char* f : {"1", "2", "3", "4", "5", "6", "7", "8"}) {
    const data::PageTarget t = page("5", f);
    EXPECT_TRUE(t.isDefault) << "5/" << f << ": " << t.address;
    EXPECT_EQ(t.address, data::defaultPagePath());
  }
  // Names that stay inside: without the leading separator the page still lies
  // in the program folder, not in a folder beside it that shares its name.
  EXPECT_EQ(page("6", "1").address, folder.file("web/a.htm"));
  EXPECT_TRUE(page("6", "2").isLocal);
  EXPECT_EQ(page("6", "3").address, "http://svc/vosk\\web\\a..b.htm");
  EXPECT_TRUE(data::pageNameStaysInFolder("\\web\\a.htm"));
  EXPECT_FALSE(data::pageNameStaysInFolder(std::string("\\web\\a.htm\0/../x", 17)));
}

TEST(Navigation, RowsByTheirIdAndLibraryFilesAsTheyLie) {
  VSFlexGrid g;
  data::prepareNavigatorGrid(g);
  g.setCols(4);
  g.setRows(7);
  g.setTextMatrix(1, 3, "7");  // a header row is no row of the grid's data
  g.setTextMatrix(3, 3, "70");
  g.setTextMatrix(4, 2, "7");  // only the last column holds the id
  g.setTextMatrix(5, 3, "7");
  g.setTextMatrix(6, 3, "7");
  EXPECT_EQ(data::rowWithId(g, "7"), 5);
  EXPECT_EQ(data::rowWithId(g, "70"), 3);
  EXPECT_EQ(data::rowWithId(g, "8"), -1);
  EXPECT_EQ(data::rowWithId(VSFlexGrid{}, "7"), -1);

  testsupport::ProgramFolder folder;
  for (const char* name : {"Upper.ZDJ", "exact.zdj", "EXACT.zdj", "whole.ZDJ"}) testsupport::writeFile(folder / name, "");
  EXPECT_EQ(data::libraryFileName("upper"), "Upper.ZDJ");
  EXPECT_EQ(data::libraryFileName("exact"), "exact.zdj");
  EXPECT_EQ(data::libraryFileName("EXACT"), "EXACT.zdj");
  // A listed whole file name, and a library that is not there.
  EXPECT_EQ(data::libraryFileName("whole.ZDJ"), "whole.ZDJ");
  EXPECT_EQ(data::libraryFileName("gone"), "gone.zdj");
  EXPECT_EQ(data::storedFileName("UPPER.zdj"), "Upper.ZDJ");
  EXPECT_EQ(data::storedFileName("gone.zdj"), "gone.zdj");
}

// Names stored in full-width forms (as some libraries hold them) are found by
// what is typed in either form, by 产品名称 and by 生产厂家 alike.
TEST(NavigatorSession, NamesStoredInFullWidthFormsAreFoundInEitherForm) {
  jetwrite::Database lib = library();
  for (jetwrite::Table& t : lib.tables) {
    if (t.name == "CLProduct") t.rows[0][1] = "螺纹钢 ＨＲＢ４００";
    if (t.name == "Factory") t.rows[1][1] = "Ｏ＇Ｂｒｉｅｎ ５０％ Ｃｅｍｅｎｔ";
  }
  ProgramFolder folder(standardLayout(), standardSettings(), {}, lib);
  {
    MessageBoxRecorder rec;
    ASSERT_EQ(data::openFolder(folder.path().string(), "lib"), 1);
  }
  VSFlexGrid categories, products, factories;
  for (VSFlexGrid* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession s(categories, products, factories);
  s.loadnav();
  auto found = [&](const char* field, const char* typed) {
    EXPECT_EQ(s.search(field, typed), data::NavigatorSession::SearchOutcome::Filled) << typed;
    std::vector<std::string> names;
    for (int r = products.FixedRows(); r < products.Rows(); ++r) names.push_back(products.TextMatrix(r, 1));
    return names;
  };
  const std::vector<std::string> wide{"螺纹钢 ＨＲＢ４００"};
  EXPECT_EQ(found("产品名称", "hrb400"), wide);
  EXPECT_EQ(found("产品名称", "ＨＲＢ４００"), wide);
  EXPECT_EQ(found("产品名称", "ｈｒｂ4"), wide);  // the two forms mixed in what is typed
  EXPECT_EQ(found("产品名称", "HRB"), (std::vector<std::string>{"螺纹钢 ＨＲＢ４００", "螺纹钢 HRB500"}));
  const std::vector<std::string> cement{"O'Brien 白水泥"};
  EXPECT_EQ(found("生产厂家", "o'brien 50%"), cement);
  EXPECT_EQ(found("生产厂家", "Ｏ＇ＢＲＩＥＮ"), cement);
  EXPECT_EQ(found("生产厂家", "50% cement"), cement);
}
