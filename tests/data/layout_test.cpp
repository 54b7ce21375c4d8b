// Connections, table settings and grid layout on Jet files written by the
// project's writer.
#include <gtest/gtest.h>

#include "data/browse.h"
#include "data/connections.h"
#include "data/layout.h"
#include "data/table_settings.h"
#include "program_folder.h"

using namespace fixture;
using namespace platform;

TEST(Connections, OpenReopenAndFailures) {
  ProgramFolder folder;
  {
    MessageBoxRecorder rec;
    EXPECT_EQ(data::opendatabases("lib.zdj"), 1);
    EXPECT_TRUE(rec.boxes().empty());
    EXPECT_EQ(data::connections(0).State(), 1);
    EXPECT_EQ(data::connections(1).State(), 1);
    EXPECT_NE(data::libconnstring.find("\\lib.zdj;Persist Security Info=False;Jet OLEDB:Database Password=4917"),
              std::string::npos);
    // The same library again re-opens both.
    EXPECT_EQ(data::opendatabases("lib.zdj"), 1);
    EXPECT_EQ(data::connections(1).State(), 1);
  }
  {
    // A missing library: one message, result 0, slot 0 as it was (open).
    MessageBoxRecorder rec;
    EXPECT_EQ(data::opendatabases("nowhere.zdj"), 0);
    ASSERT_EQ(rec.boxes().size(), 1u);
    EXPECT_EQ(rec.boxes()[0].text.rfind("无法连接!错误提示:", 0), 0u);
    EXPECT_NE(rec.boxes()[0].text.find(' '), std::string::npos);
    EXPECT_EQ(data::connections(1).State(), 0);
    EXPECT_EQ(data::connections(0).State(), 1);
  }
  {
    // A library under another password: the library slot stays closed.
    jetwrite::Database other = library();
    other.password = "1234";
    jetwrite::writeDatabase(other, folder.file("other.zdj"));
    MessageBoxRecorder rec;
    EXPECT_EQ(data::opendatabases("other.zdj"), 0);
    ASSERT_EQ(rec.boxes().size(), 1u);
    EXPECT_EQ(data::connections(1).State(), 0);
  }
  EXPECT_THROW(data::connections(5), ado::Error);
  EXPECT_THROW(data::connections(-1), ado::Error);
  EXPECT_NO_THROW(data::connections(4));
}

TEST(TableSettings, LookupResetsAndTakesTheFirstRow) {
  ProgramFolder folder(standardLayout(),
                       {{"A", "ID", "ParentID", "ID desc", "xmid", " inner join X on A.x=X.id"},
                        {"B", "BID", null, null, null, null},
                        {"B", "Other", "P", "S", null, null}});
  folder.open();
  data::TableSettings.fieldlist = "kept";
  data::loadtableset("A");
  EXPECT_EQ(data::TableSettings.onlyid, "ID");
  EXPECT_EQ(data::TableSettings.syid, "ParentID");
  EXPECT_EQ(data::TableSettings.sortid, "ID desc");
  EXPECT_EQ(data::TableSettings.onlyid1, "xmid");
  EXPECT_EQ(data::TableSettings.inner, " inner join X on A.x=X.id");
  data::loadtableset("B");  // null columns leave nothing of A behind
  EXPECT_EQ(data::TableSettings.tname, "B");
  EXPECT_EQ(data::TableSettings.onlyid, "BID") << "the first row delivered counts";
  EXPECT_EQ(data::TableSettings.syid, "");
  EXPECT_EQ(data::TableSettings.sortid, "");
  EXPECT_EQ(data::TableSettings.inner, "");
  EXPECT_EQ(data::TableSettings.fieldlist, "kept");
  data::loadtableset("C");
  EXPECT_EQ(data::TableSettings.tname, "C");
  EXPECT_EQ(data::TableSettings.onlyid, "");
  // A failing lookup throws with tname set and the rest empty.
  data::loadtableset("A");
  data::connections(0).Close();
  EXPECT_ANY_THROW(data::loadtableset("B"));
  EXPECT_EQ(data::TableSettings.tname, "B");
  EXPECT_EQ(data::TableSettings.onlyid, "");
  EXPECT_EQ(data::TableSettings.syid, "");
}

TEST(LayoutGrid, TwoLevelTitlesWidthsFormatsListsAndHiddenData) {
  Rows layout = {
      // An administrator row and default rows, mixed in sortid order.
      col("T", 1, "A-B-C", "Name", "500", "check", null, "-1", "系统管理员"),
      col("T", 2, "A-", "Q.Price", "0", "Check", "a|b"),
      col("T", 3, "-B", "Unit", "300", "0.00", "select Name from Unit", null),
      col("T", 4, "Plain", "Other", "-1", null, "select Name from NoUnit"),
      {"T", "-1", "0", "5", "Nulls", "N", null, null, null, null, null, null},
      // Hidden rows and other roles take no part.
      {"T", "-1", "1", "6", "Hidden", "H", "100", "1", null, "0", "-1", null},
      {"T", "guest", "0", "7", "Guest", "G", "100", "1", null, "0", "-1", null},
      {"U", "-1", "0", "1", "X-Y", "x", "100", "1", null, "0", "-1", null},
      {"U", "-1", "0", "2", "A-", "y", "100", "1", null, "0", "-1", null},
  };
  ProgramFolder folder(layout, {{"T", "ID", "ParentID", "ID desc", "xmid", null}});
  folder.open();
  VSFlexGrid g;
  data::prepareNavigatorGrid(g);
  g.setWidth(10000);
  g.setCols(1);
  g.setColWidth(0, 200);
  data::layoutgrid(g, "T");
  EXPECT_EQ(g.Tag(), "T");
  EXPECT_EQ(g.Rows(), 3);
  ASSERT_EQ(g.Cols(), 5 + 3);
  // Titles: A-B-C gives A over B-C; A- gives A over ""; -B gives "" over B.
  EXPECT_EQ(g.TextMatrix(0, 1), "A");
  EXPECT_EQ(g.TextMatrix(1, 1), "B-C");
  EXPECT_EQ(g.TextMatrix(0, 2), "A");
  EXPECT_EQ(g.TextMatrix(1, 2), "");
  EXPECT_EQ(g.TextMatrix(0, 3), "");
  EXPECT_EQ(g.TextMatrix(1, 3), "B");
  EXPECT_EQ(g.TextMatrix(0, 4), "Plain");
  EXPECT_EQ(g.TextMatrix(1, 4), "Plain");
  EXPECT_EQ(g.Cell(flexcpAlignment, 0, 4).number(), flexAlignCenterCenter);
  EXPECT_EQ(g.Cell(flexcpAlignment, 1, 4).number(), flexAlignCenterCenter);
  // The last title with a "-" was -B: two header rows.
  EXPECT_FALSE(g.RowHidden(1));
  EXPECT_EQ(g.RowHeight(0), 280);
  EXPECT_TRUE(g.RowHidden(2));
  // Row 2: fields and editability.
  EXPECT_EQ(g.TextMatrix(2, 1), "Name");
  EXPECT_EQ(g.TextMatrix(2, 2), "Q.Price");
  EXPECT_EQ(g.Cell(flexcpChecked, 2, 1).number(), flexChecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 2, 2).number(), flexUnchecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 2, 3).number(), flexChecked) << "null Editable counts as editable";
  // Widths: 2 x Width; 0 stays 0; -1 reaches 400 short of the grid's edge.
  EXPECT_EQ(g.ColWidth(1), 1000);
  EXPECT_EQ(g.ColWidth(2), 0);
  EXPECT_EQ(g.ColWidth(3), 600);
  EXPECT_EQ(g.ColWidth(4), 10000 - (200 + 1000 + 0 + 600) - 400);
  // Nulls leave the grid's own values.
  EXPECT_EQ(g.ColWidth(5), -1);
  EXPECT_EQ(g.ColAlignment(5), flexAlignGeneral);
  EXPECT_FALSE(g.cellBackColor(0, 5).has_value());
  EXPECT_EQ(g.cellBackColor(0, 1), 12632256u);
  EXPECT_EQ(g.ColAlignment(1), 1);
  // check vs Check.
  EXPECT_EQ(g.ColDataType(1), flexDTBoolean);
  EXPECT_EQ(g.ColDataType(2), flexDTDefault);
  EXPECT_EQ(g.ColFormat(2), "Check");
  EXPECT_EQ(g.ColFormat(3), "0.00");
  // Lists: ready, from a statement, from an empty statement.
  EXPECT_EQ(g.ColComboList(2), "a|b");
  EXPECT_EQ(g.ColComboList(3), "|吨|米|");
  EXPECT_EQ(g.ColComboList(4), "");
  // Hidden trailing columns.
  EXPECT_EQ(g.TextMatrix(0, 7), "T.Name,Q.Price,T.Unit,T.Other,T.N,T.ID,T.ID");
  EXPECT_EQ(g.TextMatrix(1, 7), "xmid");
  EXPECT_EQ(g.TextMatrix(2, 7), "ID");
  EXPECT_EQ(g.TextMatrix(0, 6), "ParentID");
  EXPECT_EQ(g.TextMatrix(1, 6), "ID desc");
  EXPECT_EQ(g.TextMatrix(2, 6), "ID desc");
  EXPECT_TRUE(g.ColHidden(6));
  EXPECT_TRUE(g.ColHidden(7));
  EXPECT_EQ(g.TextMatrix(0, 0), " ");
  EXPECT_TRUE(g.MergeCol(0) && g.MergeCol(3) && g.MergeRow(0) && g.MergeRow(1));
  EXPECT_EQ(data::TableSettings.fieldlist, g.TextMatrix(0, 7));

  // Only the last title with a "-" counts: X-Y then A- hides row 1. Without
  // settings the list ends in ",".
  data::layoutgrid(g, "U");
  EXPECT_EQ(g.Cols(), 2 + 3);
  EXPECT_TRUE(g.RowHidden(1));
  EXPECT_EQ(g.RowHeight(0), 350);
  EXPECT_EQ(g.TextMatrix(0, 4), "U.x,U.y,");
  EXPECT_EQ(g.ColComboList(2), "") << "a new layout drops the old columns' lists";
}

TEST(LayoutGrid, EmptyLayoutsNamesAndEndingsOfTheSelectList) {
  Rows layout = {col("S", 1, "名称", "Name")};
  ProgramFolder folder(layout, {{"S", "ID", null, null, null, null}});
  folder.open();
  VSFlexGrid g;
  g.setRows(7);
  g.setCols(4);
  // An empty name: Tag "" and nothing else changes.
  data::layoutgrid(g, "");
  EXPECT_EQ(g.Tag(), "");
  EXPECT_EQ(g.Rows(), 7);
  EXPECT_EQ(g.Cols(), 4);
  // sortid empty, onlyid set: two commas before the id column.
  data::layoutgrid(g, "S");
  EXPECT_EQ(g.TextMatrix(0, g.Cols() - 1), "S.Name,,S.ID");
  // No layout rows at all.
  data::layoutgrid(g, "Nothing");
  EXPECT_EQ(g.Tag(), "Nothing");
  EXPECT_EQ(g.Rows(), 3);
  EXPECT_EQ(g.Cols(), 1);
  EXPECT_TRUE(g.ColHidden(0));
  EXPECT_TRUE(g.RowHidden(1));
  EXPECT_TRUE(g.RowHidden(2));
  EXPECT_EQ(g.RowHeight(0), 350);
  // An apostrophe in the name makes the query fail: the empty layout.
  data::layoutgrid(g, "S'x");
  EXPECT_EQ(g.Cols(), 1);
  // A closed project database: the empty layout, no error.
  data::connections(0).Close();
  EXPECT_NO_THROW(data::layoutgrid(g, "S"));
  EXPECT_EQ(g.Cols(), 1);
  EXPECT_EQ(data::mainrs().State(), 0);
  EXPECT_EQ(data::auxrs().State(), 0);
}

namespace {

// What a layout leaves in a grid, cell by cell and column by column.
std::string laidOut(const VSFlexGrid& g) {
  std::string out = g.Tag() + " " + std::to_string(g.Rows()) + "x" + std::to_string(g.Cols()) +
                    (g.RowHidden(1) ? " one" : " two") + std::to_string(g.RowHeight(0)) + "\n";
  for (int c = 0; c < g.Cols(); ++c) {
    for (int r = 0; r < g.Rows(); ++r) out += g.TextMatrix(r, c) + "|";
    out += std::to_string(g.ColWidth(c)) + " " + g.ColFormat(c) + " " + g.ColComboList(c) +
           (g.ColHidden(c) ? " hidden" : "") + (g.ColEditable(c) ? " editable" : "") + "\n";
  }
  return out;
}

}  // namespace

// A layout asked of given databases is the window's layout of those
// databases, and leaves the window's record sets and settings alone.
TEST(LayoutGrid, OnGivenDatabasesLaysOutAsTheWindowAndLeavesTheModuleAlone) {
  const Rows layout = {col("T", 1, "A-B", "Name", "500", "0.00"), col("T", 2, "单位", "Unit", "300", null, "select Name from Unit")};
  ProgramFolder folder(layout, {{"T", "ID", "ParentID", "ID desc", "xmid", " inner join U on T.u=U.id"}});
  folder.open();
  VSFlexGrid byWindow, given;
  for (VSFlexGrid* g : {&byWindow, &given}) data::prepareNavigatorGrid(*g);
  data::layoutgrid(byWindow, "T");
  const data::TableSettingsRecord windowSettings = data::TableSettings;
  ASSERT_EQ(byWindow.ColComboList(2), "|吨|米|");

  data::TableSettings = {"mine", "a", "b", "c", "d", "e", "f"};
  data::openQuery(data::mainrs(), "select * from stbgset", 0);
  data::openQuery(data::auxrs(), "select * from Unit", 1);
  const data::TableSettingsRecord got = data::layoutgridOn(given, "T", data::connections(0), data::connections(1));
  EXPECT_EQ(laidOut(given), laidOut(byWindow));
  EXPECT_EQ(got.tname, "T");
  EXPECT_EQ(got.onlyid, windowSettings.onlyid);
  EXPECT_EQ(got.syid, windowSettings.syid);
  EXPECT_EQ(got.sortid, windowSettings.sortid);
  EXPECT_EQ(got.onlyid1, windowSettings.onlyid1);
  EXPECT_EQ(got.inner, windowSettings.inner);
  EXPECT_EQ(got.fieldlist, "T.Name,T.Unit,T.ID,T.ID");
  EXPECT_EQ(got.fieldlist, windowSettings.fieldlist);
  EXPECT_EQ(data::TableSettings.tname, "mine");
  EXPECT_EQ(data::TableSettings.fieldlist, "f");
  EXPECT_EQ(data::mainrs().State(), 1) << "the window's record sets are not used";
  EXPECT_EQ(data::auxrs().State(), 1);

  // Another pro.mdb and another library, on connections of their own: the
  // layout, the settings and the column's list come from them.
  jetwrite::writeDatabase(testsupport::proMdb({col("T", 1, "其他", "Other", "100", null, "select Name from Unit")},
                                              {{"T", "OID", null, null, null, null}}),
                          folder.file("second.mdb"));
  jetwrite::Database units = library();
  for (auto& t : units.tables)
    if (t.name == "Unit") t.rows = {{"箱"}};
  jetwrite::writeDatabase(units, folder.file("second.zdj"));
  ado::Connection project, lib;
  project.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder.file("second.mdb") +
               ";Jet OLEDB:Database Password=tqwmzhpbnk3");
  lib.Open(data::libraryConnectionString("second.zdj"));
  VSFlexGrid other;
  data::prepareNavigatorGrid(other);
  const data::TableSettingsRecord second = data::layoutgridOn(other, "T", project, lib);
  ASSERT_EQ(other.Cols(), 1 + 3);
  EXPECT_EQ(other.TextMatrix(0, 1), "其他");
  EXPECT_EQ(other.ColComboList(1), "|箱|");
  EXPECT_EQ(second.onlyid, "OID");
  EXPECT_EQ(second.syid, "");
  EXPECT_EQ(second.fieldlist, "T.Other,,T.OID");
  EXPECT_EQ(other.TextMatrix(0, 3), second.fieldlist);

  // The settings alone, as a value.
  EXPECT_EQ(data::tableSettings(project, "T").onlyid, "OID");
  EXPECT_EQ(data::tableSettings(data::connections(0), "T").inner, " inner join U on T.u=U.id");
  EXPECT_EQ(data::tableSettings(project, "None").onlyid, "");
  EXPECT_EQ(data::TableSettings.tname, "mine");
  EXPECT_EQ(data::TableSettings.onlyid, "a");
  project.Close();
  EXPECT_ANY_THROW(data::tableSettings(project, "T"));
}

// A library whose file name holds ";" reaches the provider whole; other names
// go into the connection string unchanged.
TEST(Connections, ALibraryNamedWithASemicolon) {
  ProgramFolder folder;
  std::filesystem::copy_file(common::inProgramFolder("lib.zdj"), common::inProgramFolder("a;b.zdj"));
  MessageBoxRecorder rec;
  EXPECT_EQ(data::opendatabases("a;b.zdj"), 1);
  EXPECT_TRUE(rec.boxes().empty()) << rec.boxes()[0].text;
  EXPECT_EQ(data::connections(1).State(), 1);
  EXPECT_NE(data::libconnstring.find("Data Source=\"" + common::programFolder() + "\\a;b.zdj\";"), std::string::npos)
      << data::libconnstring;
  EXPECT_NE(data::libraryConnectionString("材料 库.zdj").find("Data Source=" + common::programFolder() + "\\材料 库.zdj;"),
            std::string::npos);
}

// The libraries come in the order of a Chinese system's file list (glibc's
// zh_CN): digits first (months stay in order), then Chinese by pinyin, then
// Latin, case ignored.
TEST(Connections, LibraryNamesInTheSystemsOrder) {
  ProgramFolder folder;
  for (const char* name : {"云岭.zdj", "北辰.ZDJ", "2026年12月信息价.zdj", "2026年01月信息价.zdj", "2026年11月信息价.zdj",
                           "b.zdj", "A.zdj", "华通.zdj", "note.txt"})
    std::filesystem::copy_file(common::inProgramFolder("lib.zdj"), common::inProgramFolder(name));
  EXPECT_EQ(data::libraryNames(common::programFolder()),
            (std::vector<std::string>{"2026年01月信息价", "2026年11月信息价", "2026年12月信息价", "北辰", "华通", "云岭",
                                      "A", "b", "lib"}));
}
