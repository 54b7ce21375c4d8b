// Grid fill, outline, file rows, icons and shading.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>

#include "data/connections.h"
#include "data/files.h"
#include "data/fill.h"
#include "data/layout.h"
#include "data/skip_on_error.h"
#include "data/table_settings.h"
#include "program_folder.h"

using namespace fixture;
using namespace platform;

namespace {

// "level name" per data row (level only for outline nodes).
std::vector<std::string> outline(const VSFlexGrid& g) {
  std::vector<std::string> out;
  for (int r = 3; r < g.Rows(); ++r)
    out.push_back((g.IsSubtotal(r) ? std::to_string(g.RowOutlineLevel(r)) + " " : "") + g.TextMatrix(r, 1));
  return out;
}

void fill(VSFlexGrid& g, std::string condition, int shade = 1) {
  data::fillgrid(data::libraryslot, g, condition, shade);
}

// A project tree kept in a table whose name carries "xmfxhf", seven levels on
// one branch, with files for some nodes.
jetwrite::Database treeLibrary(bool withBrokenNode) {
  jetwrite::Database lib = library();
  Rows rows = {{"1", "0", "根", "doc"},   {"2", "1", "A", "doc"},  {"3", "2", "A1", "doc"},
               {"4", "3", "A1a", "doc"}, {"5", "4", "L5", "doc"}, {"6", "5", "L6", "doc"},
               {"7", "6", "L7", "doc"},  {"8", "1", "B", "doc"}};
  if (withBrokenNode) rows.insert(rows.begin() + 7, {null, "1", "坏", null});
  lib.tables.push_back({"xmfxhf",
                        {{"ID", ColumnType::Long},
                         {"fid", ColumnType::Long},
                         {"mc", ColumnType::Text, 50},
                         {"ico", ColumnType::Text, 50}},
                        rows});
  return lib;
}

Rows treeLayout() {
  Rows l = standardLayout();
  l.push_back(col("xmfxhf", 1, "名称", "mc"));
  l.push_back(col("xmfxhf", 2, "图", "ico"));
  return l;
}

Rows treeSettings(const char* sortid = "ID") {
  Rows s = standardSettings();
  s.push_back({"xmfxhf", "ID", "fid", sortid, null, null});
  return s;
}

}  // namespace

TEST(FillGrid, CategoryOutlineIsPreOrderCutAtSixLevelsWithIconsDownToThree) {
  ProgramFolder folder;
  folder.open();
  VSFlexGrid g;
  g.setFixedRows(3);
  data::layoutgrid(g, "Category");
  std::string condition = "ID=0";
  data::fillgrid(data::libraryslot, g, condition, 1);
  EXPECT_EQ(condition, " where ID=0") << "the caller's text comes back with the keyword";
  EXPECT_EQ(outline(g), (std::vector<std::string>{"1 全部", "2 钢材", "3 螺纹钢", "2 水泥", "3 L3", "4 L4", "5 L5",
                                                  "6 L6"}))
      << "L7 lies below level six";
  // The id is in the last column; the fields go to columns 1, 2, ...
  EXPECT_EQ(g.TextMatrix(3, g.Cols() - 1), "0");
  EXPECT_EQ(g.TextMatrix(4, 2), "steel");
  // Icons for levels 1 to 3 only (the select list names "ico"); root.bmp is missing.
  EXPECT_EQ(g.cellPicture(3, 1), nullptr);
  EXPECT_NE(g.cellPicture(4, 1), nullptr);
  EXPECT_NE(g.cellPicture(5, 1), nullptr);
  EXPECT_NE(g.cellPicture(7, 1), nullptr);
  EXPECT_EQ(g.cellPicture(8, 1), nullptr) << "level 4 gets no icon";
  // Current row, shading and folding to level 2.
  EXPECT_EQ(g.Row(), 3);
  EXPECT_EQ(g.cellBackColor(4, 1), data::kShadeColour);
  EXPECT_FALSE(g.cellBackColor(5, 1).has_value());
  EXPECT_EQ(g.OutlineBar(), flexOutlineBarCompleteLeaf);
  EXPECT_EQ(g.OutlineCol(), 1);
  EXPECT_FALSE(g.IsCollapsed(3));
  EXPECT_TRUE(g.IsCollapsed(4));
  EXPECT_EQ(g.visibleDataRows(), (std::vector<int>{3, 4, 6}));
  // A second fill starts from the header rows again.
  fill(g, "ID=1");
  EXPECT_EQ(outline(g), (std::vector<std::string>{"1 钢材", "2 螺纹钢"}));
}

TEST(FillGrid, FlatListsConditionsAndFailures) {
  ProgramFolder folder;
  folder.open();
  VSFlexGrid products, factories;
  products.setFixedRows(3);
  data::layoutgrid(products, "CLProduct");
  data::layoutgrid(factories, "Factory");
  // The join lets a condition name the manufacturer's columns; the ordering
  // column (FactoryID) lands in the second-last column, the category third-last.
  fill(products, "Factory.Name like '%水泥%'");
  EXPECT_EQ(outline(products), (std::vector<std::string>{"普通硅酸盐水泥"}));
  fill(products, "CLProduct.CategoryID=3");
  ASSERT_EQ(outline(products), (std::vector<std::string>{"螺纹钢 HRB400", "螺纹钢 HRB500"}));
  const int c = products.Cols();
  EXPECT_EQ(products.TextMatrix(3, c - 3), "3");
  EXPECT_EQ(products.TextMatrix(3, c - 2), "1");
  EXPECT_EQ(products.TextMatrix(3, 2), "杭州钢铁");
  EXPECT_EQ(products.displayText(3, 3), "3.50");
  EXPECT_FALSE(products.IsSubtotal(3)) << "flat rows are no outline nodes";
  fill(factories, "");
  EXPECT_EQ(outline(factories), (std::vector<std::string>{"杭州钢铁", "O'Brien 50% Cement", "宁波水泥"}));
  // A condition with its own "where" is used unchanged.
  std::string own = " where CLProduct.ID=5";
  data::fillgrid(data::libraryslot, products, own, 1);
  EXPECT_EQ(own, " where CLProduct.ID=5");
  EXPECT_EQ(outline(products), (std::vector<std::string>{"钢板"}));
  // WHERE in capitals is not recognised: " where  WHERE ..." fails; the grid
  // keeps only its header rows and the failure reaches the caller.
  EXPECT_ANY_THROW(fill(products, " WHERE CLProduct.ID=5"));
  EXPECT_EQ(products.Rows(), 3);
  // No records: header rows only, no failure.
  EXPECT_NO_THROW(fill(products, "CLProduct.CategoryID=99"));
  EXPECT_EQ(products.Rows(), 3);
  // An empty Tag: nothing changes, not even the row count.
  VSFlexGrid blank;
  blank.setRows(5);
  blank.setCols(2);
  EXPECT_NO_THROW(fill(blank, "x"));
  EXPECT_EQ(blank.Rows(), 5);
  // A slot outside 0..4 and a closed library fail.
  short slot = 7;
  std::string none;
  EXPECT_ANY_THROW(data::fillgrid(slot, factories, none, 1));
  data::connections(1).Close();
  EXPECT_ANY_THROW(fill(factories, ""));
  EXPECT_EQ(factories.Rows(), 3);
}

TEST(FillGrid, MissingSettingsRowMakesTheListEndInACommaAndFail) {
  Rows settings = {{"Category", "ID", null, "ID", null, null}};  // no CLProduct row
  ProgramFolder folder(standardLayout(), settings);
  folder.open();
  VSFlexGrid products;
  data::layoutgrid(products, "CLProduct");
  EXPECT_EQ(products.TextMatrix(0, products.Cols() - 1), "CLProduct.Name,Factory.Name,CLProduct.Price,CLProduct.CategoryID,");
  EXPECT_ANY_THROW(fill(products, "CLProduct.CategoryID=3"));
  EXPECT_EQ(products.Rows(), 3);
  // An ordering column without a parent link: a flat list in that order.
  VSFlexGrid categories;
  data::layoutgrid(categories, "Category");
  fill(categories, "ParentID=0");
  EXPECT_EQ(outline(categories), (std::vector<std::string>{"钢材", "水泥"}));
}

TEST(FillGrid, FileRowsUnderLeavesAndBelowLevelSix) {
  Rows files = {{"3", "报告一", "31", "doc"}, {"3", "报告二", "32", ""},  {"3", "报告三", "33", "missing"},
                {"6", "深层", "61", "doc"},   {"8", "B的文件", "81", "doc"}, {"2", "不显示", "21", "doc"}};
  ProgramFolder folder(treeLayout(), treeSettings(), files, treeLibrary(false));
  folder.open();
  VSFlexGrid g;
  g.setFixedRows(3);
  data::layoutgrid(g, "xmfxhf");
  fill(g, "ID=1");
  EXPECT_EQ(outline(g), (std::vector<std::string>{"1 根", "2 A", "3 A1", "4 A1a", "5 L5", "6 L6", "7 深层", "2 B",
                                                  "3 B的文件"}))
      << "files only under nodes without children; a level-6 node gets its files on level 7";
  const int last = g.Cols() - 1;
  EXPECT_EQ(g.TextMatrix(9, last), "=61");
  EXPECT_EQ(g.TextMatrix(11, last), "=81");
  EXPECT_NE(g.cellPicture(11, 1), nullptr) << "file rows always ask for their icon";
  EXPECT_EQ(g.cellPicture(8, 1), nullptr) << "node rows below level 3 get no icon";

  // addfilerows on its own: three files at level 3, empty and missing icons.
  VSFlexGrid h;
  data::layoutgrid(h, "xmfxhf");
  h.setRows(4);
  data::addfilerows(h, "3", 3);
  ASSERT_EQ(h.Rows(), 7);
  EXPECT_EQ(outline(h), (std::vector<std::string>{"", "3 报告一", "3 报告二", "3 报告三"}));
  EXPECT_EQ(h.TextMatrix(5, h.Cols() - 1), "=32");
  EXPECT_NE(h.cellPicture(4, 1), nullptr);
  EXPECT_EQ(h.cellPicture(5, 1), nullptr);
  EXPECT_EQ(h.cellPicture(6, 1), nullptr);
  EXPECT_EQ(h.TextMatrix(4, 2), "") << "other columns stay empty";
  data::addfilerows(h, "99", 2);
  EXPECT_EQ(h.Rows(), 7) << "a node without files adds nothing";
  EXPECT_ANY_THROW(data::addfilerows(h, "", 2)) << "an empty node id fails";
}

TEST(FillGrid, FailureInTheMiddleOfAnOutlineKeepsRowsAndSkipsTheRest) {
  // Descending, so that the node without an id comes last among its siblings.
  ProgramFolder folder(treeLayout(), treeSettings("ID desc"), {}, treeLibrary(true));
  folder.open();
  VSFlexGrid g;
  g.setFixedRows(3);
  data::layoutgrid(g, "xmfxhf");
  g.setRow(-1);
  const bool completed = data::skipOnError("test: fill", [&] { fill(g, "ID=1"); });
  EXPECT_FALSE(completed);
  // The node without an id is written, its child statement fails.
  EXPECT_EQ(outline(g), (std::vector<std::string>{"1 根", "2 B", "2 A", "3 A1", "4 A1a", "5 L5", "6 L6", "2 坏"}));
  EXPECT_FALSE(g.cellBackColor(4, 1).has_value()) << "no shading after a failure";
  EXPECT_FALSE(g.IsCollapsed(4)) << "Outline skipped";
  EXPECT_EQ(g.Row(), -1) << "Row not set";
  EXPECT_EQ(data::mainrs().State(), 0);
}

TEST(FillGrid, FailureInTheMiddleOfAFlatListKeepsTheRowsUpToItsRecord) {
  // A flat list (no parent-link column) whose second record's icon is no
  // picture: the fill ends in that record's row, after its icon's text.
  jetwrite::Database lib = library();
  lib.tables.push_back({"xmfxhf",
                        {{"ID", ColumnType::Long}, {"fid", ColumnType::Long}, {"mc", ColumnType::Text, 50},
                         {"ico", ColumnType::Text, 50}},
                        {{"1", "0", "甲", "doc"}, {"2", "0", "乙", "broken"}, {"3", "0", "5", "doc"}}});
  Rows settings = standardSettings();
  settings.push_back({"xmfxhf", "ID", null, "ID", null, null});
  ProgramFolder folder(treeLayout(), settings, {}, lib);
  folder.open();
  VSFlexGrid g;
  g.setFixedRows(3);
  data::layoutgrid(g, "xmfxhf");
  EXPECT_FALSE(data::skipOnError("test: fill", [&] { fill(g, ""); }));
  ASSERT_EQ(g.Rows(), 5);
  EXPECT_EQ(g.TextMatrix(3, 1), "甲");
  EXPECT_EQ(g.TextMatrix(3, 2), "doc");
  EXPECT_NE(g.cellPicture(3, 1), nullptr);
  EXPECT_EQ(g.TextMatrix(4, 1), "乙");
  EXPECT_EQ(g.TextMatrix(4, 2), "broken");
  EXPECT_EQ(g.cellPicture(4, 1), nullptr);
  EXPECT_FALSE(g.cellBackColor(4, 1).has_value()) << "no shading after a failure";
  // A statement that fails while it reads its records (a condition that
  // cannot add "乙" to a number): none of its rows stay.
  g.setRows(9);
  EXPECT_FALSE(data::skipOnError("test: fill", [&] { fill(g, "xmfxhf.ID + xmfxhf.mc > 0"); }));
  EXPECT_EQ(g.Rows(), 3);
  // The same list without the broken icon: every row, shaded.
  VSFlexGrid whole;
  whole.setFixedRows(3);
  data::layoutgrid(whole, "xmfxhf");
  fill(whole, "ID<>2");
  ASSERT_EQ(whole.Rows(), 5);
  EXPECT_EQ(whole.TextMatrix(4, 1), "5");
  EXPECT_NE(whole.cellPicture(4, 1), nullptr);
  EXPECT_TRUE(whole.cellBackColor(4, 1).has_value());
}

namespace {

// The standard library with other category rows (ID, ParentID, Name).
jetwrite::Database categoryLibrary(const Rows& categories) {
  jetwrite::Database lib = library();
  for (jetwrite::Table& t : lib.tables)
    if (t.name == "Category") {
      t.rows.clear();
      for (const auto& c : categories) t.rows.push_back({c[0], c[1], c[2], null});
    }
  return lib;
}

std::vector<std::string> categoryOutline(const Rows& categories, const std::string& condition) {
  ProgramFolder folder(standardLayout(), standardSettings(), {}, categoryLibrary(categories));
  folder.open();
  VSFlexGrid g;
  g.setFixedRows(3);
  data::layoutgrid(g, "Category");
  fill(g, condition);
  return outline(g);
}

}  // namespace

TEST(FillGrid, ParentLinksThatComeRoundAgainDoNotMultiplyTheOutline) {
  // Real data: the root is its own parent. It shows once, its children below it.
  EXPECT_EQ(categoryOutline({{"0", "0", "全部"}, {"1", "0", "钢材"}, {"2", "0", "水泥"}, {"3", "1", "螺纹钢"}}, "ID=0"),
            (std::vector<std::string>{"1 全部", "2 钢材", "3 螺纹钢", "2 水泥"}));
  // Rows that are all their own parents, under one id: each shows once, on
  // level 1 (written out to six levels they were 3 + 9 + ... + 729 rows).
  Rows selfParents;
  for (int i = 0; i < 3; ++i) selfParents.push_back({"0", "0", "根" + std::to_string(i)});
  EXPECT_EQ(categoryOutline(selfParents, "ID=0"), (std::vector<std::string>{"1 根0", "1 根1", "1 根2"}));
  // A longer cycle, A -> B -> C -> A: cut where A would come again.
  EXPECT_EQ(categoryOutline({{"1", "3", "A"}, {"2", "1", "B"}, {"3", "2", "C"}, {"4", "3", "D"}}, "ID=1"),
            (std::vector<std::string>{"1 A", "2 B", "3 C", "4 D"}));
  // Ids that repeat (two rows per id, each pair the parent of the next):
  // every row once, not 2, 4, 8, ... copies level by level.
  Rows twins = {{"0", "-1", "全部"}};
  for (int id = 1; id <= 5; ++id)
    for (const char* copy : {"a", "b"})
      twins.push_back({std::to_string(id), std::to_string(id - 1), std::to_string(id) + copy});
  const std::vector<std::string> rows = categoryOutline(twins, "ID=0");
  EXPECT_LE(rows.size(), twins.size()) << "no more rows than the table has";
  EXPECT_EQ(rows, (std::vector<std::string>{"1 全部", "2 1a", "3 2a", "4 3a", "5 4a", "6 5a", "6 5b", "5 4b", "4 3b",
                                            "3 2b", "2 1b"}));
}

TEST(FillGrid, ANodeWhoseOnlyChildIsItselfGetsItsFileRows) {
  jetwrite::Database lib = library();
  lib.tables.push_back({"xmfxhf",
                        {{"ID", ColumnType::Long},
                         {"fid", ColumnType::Long},
                         {"mc", ColumnType::Text, 50},
                         {"ico", ColumnType::Text, 50}},
                        {{"1", "1", "根", null}}});
  ProgramFolder folder(treeLayout(), treeSettings(), {{"1", "报告", "11", null}}, lib);
  folder.open();
  VSFlexGrid g;
  data::layoutgrid(g, "xmfxhf");
  fill(g, "ID=1");
  EXPECT_EQ(outline(g), (std::vector<std::string>{"1 根", "2 报告"}));
}

TEST(FillGrid, ShadingIconsAndFileTest) {
  ProgramFolder folder;
  VSFlexGrid g;
  g.setCols(4);
  g.setRows(8);  // five data rows
  data::shaderows(g);
  for (int r : {4, 6}) {
    EXPECT_EQ(g.cellBackColor(r, 1), data::kShadeColour);
    EXPECT_EQ(g.cellBackColor(r, 3), data::kShadeColour);
    EXPECT_FALSE(g.cellBackColor(r, 0).has_value());
  }
  for (int r : {3, 5, 7}) EXPECT_FALSE(g.cellBackColor(r, 1).has_value());
  // Shade colour: red 240, green 248, blue 255.
  EXPECT_EQ(data::kShadeColour & 0xFF, 240u);

  // fileexists: files yes; folders, "", bad names, a FIFO no (at once: opening
  // a FIFO for reading would wait for a writer); nothing left open or changed.
  const std::string f = folder.file("web/page.htm");
  std::ofstream(f) << "x";
  const std::string fifo = folder.file("web/fifo.htm");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto openBefore = openDescriptors();
  const auto timeBefore = std::filesystem::last_write_time(f);
  EXPECT_TRUE(data::fileexists(f));
  EXPECT_TRUE(data::fileexists(f));
  EXPECT_FALSE(data::fileexists(folder.file("web")));
  EXPECT_FALSE(data::fileexists(""));
  EXPECT_FALSE(data::fileexists(folder.file("web/nothing.htm")));
  EXPECT_FALSE(data::fileexists(std::string("a\0b", 3)));
  {
    auto answer = std::async(std::launch::async, [&] { return data::fileexists(fifo); });
    const bool atOnce = answer.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!atOnce) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // let the waiting open go
    EXPECT_TRUE(atOnce) << "fileexists waits on a FIFO";
    EXPECT_FALSE(answer.get());
  }
  EXPECT_EQ(openDescriptors(), openBefore) << "fileexists left a file open";
  EXPECT_EQ(std::filesystem::last_write_time(f), timeBefore);
  std::ifstream in(f);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << "the FIFO is left as it was";

  // setcellicon: empty name nothing, missing bitmap nothing, a name with an
  // extension of its own looks for name + ".bmp", a broken bitmap fails.
  g.setTextMatrix(3, 1, "text");
  EXPECT_NO_THROW(data::setcellicon(g, 3, 1, ""));
  EXPECT_NO_THROW(data::setcellicon(g, 3, 1, "missing"));
  EXPECT_EQ(g.cellPicture(3, 1), nullptr);
  EXPECT_NO_THROW(data::setcellicon(g, 3, 1, "steel.bmp"));
  EXPECT_EQ(g.cellPicture(3, 1), nullptr);
  EXPECT_EQ(data::iconPath("steel.bmp"), folder.file("图标/steel.bmp.bmp"));
  data::setcellicon(g, 3, 1, "steel");
  EXPECT_NE(g.cellPicture(3, 1), nullptr);
  EXPECT_EQ(g.TextMatrix(3, 1), "text");
  // A picture of another kind under the .bmp name is loaded by its content.
  QImage png(8, 8, QImage::Format_RGB32);
  png.fill(Qt::red);
  ASSERT_TRUE(png.save(QString::fromStdString(folder.file("图标/png.bmp")), "PNG"));
  data::setcellicon(g, 5, 1, "png");
  ASSERT_NE(g.cellPicture(5, 1), nullptr);
  EXPECT_EQ(g.cellPicture(5, 1)->width(), 8);
  EXPECT_ANY_THROW(data::setcellicon(g, 3, 1, "broken"));
  EXPECT_ANY_THROW(data::setcellicon(g, 30, 1, "steel"));
}
