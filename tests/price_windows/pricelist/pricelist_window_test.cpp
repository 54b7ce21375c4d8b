// The window 材料清单载价 on a program folder of two months, offscreen: a list
// written as an estimating program exports it (a title row, the header on
// row 3) opened and priced, the status filter, the amounts, a candidate chosen
// from a search (by name and by pinyin initials) for every line written the
// same way and restored on reopening, the adjustment with a line's own risk
// range, and the export through the save question, which never writes over
// the list itself. Reached from the band.
#include "month_folder.h"

#include "fake_host.h"

#include "platform/grid/vsflexgrid.h"
#include "platform/messagebox/messagebox.h"
#include "price_windows/band/command_band.h"
#include "price_windows/export/export_commands.h"
#include "price_windows/pricelist/pricelist_window.h"

#include <gtest/gtest.h>

#include "support/widgets_app.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include <fstream>
#include <sstream>

using months_fixture::MonthFolder;
using price_windows::PriceListWindow;
namespace pl = price_tools::pricelist;

namespace {

// The list's lines (after the title row, a blank row and the header on row 3):
// rows 4 to 11 of the file.
const char* kList =
    "\xEF\xBB\xBF"
    "某某工程 材料表,,,,,\n"
    ",,,,,\n"
    "序号,材料名称,规格型号,单位,数量,单价\n"
    "1,螺纹钢 HRB400,Φ12,t,10.5,4100\n"
    "2,水泥,P.O42.5,吨,3.333,460\n"
    "3,花岗岩板,600×600,m2,20,\n"
    "4,螺纹钢 HRB400,Φ12,t,1,4100\n"
    "5,花岗岩板,600×600,m2,0.01,\n"
    "6,铜芯聚氯乙烯绝缘电线,BV-2.5,m,300,\n"
    "7,中砂,,m3,12,\n"
    "8,螺纹钢 HRB400,,t,5,\n";

struct ListFolder {
  MonthFolder folder;
  std::unique_ptr<price_windows_test::FakeHost> w;
  std::string list;
  ListFolder() {
    testsupport::widgetsApp();
    folder.writeLibrary("2026年01月信息价", months_fixture::earlierMonth());
    folder.writeLibrary("2026年04月信息价", months_fixture::laterMonth(), months_fixture::laterFactories());
    w = std::make_unique<price_windows_test::FakeHost>();
    EXPECT_TRUE(w->load());
    list = folder.file("材料表.csv");
    std::ofstream(list, std::ios::binary) << kList;
  }
  ~ListFolder() {
    price_windows::setSaveFileQuestion({});
    w.reset();
  }
  std::unique_ptr<PriceListWindow> window() {
    auto win = std::make_unique<PriceListWindow>(w->libraryList(), w->currentLibrary());
    EXPECT_TRUE(win->openList(list));
    return win;
  }
};

// The grid row whose column `c` reads `text`, -1 for none.
int rowWith(platform::VSFlexGrid& g, int c, const std::string& text) {
  for (int r = g.FixedRows(); r < g.Rows(); ++r)
    if (g.TextMatrix(r, c) == text) return r;
  return -1;
}

std::vector<std::string> column(platform::VSFlexGrid& g, int c) {
  std::vector<std::string> out;
  for (int r = g.FixedRows(); r < g.Rows(); ++r) out.push_back(g.displayText(r, c));
  return out;
}

// The index of the priced line of a file row.
int lineOfRow(const PriceListWindow& win, int fileRow) {
  const auto& lines = win.priced()->lines;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].line->row == fileRow) return static_cast<int>(i);
  return -1;
}

// Searches for the selected line and clicks the first answer named `name` with model `model`.
void searchAndChoose(PriceListWindow& win, int field, const std::string& typed, const std::string& name,
                     const std::string& model) {
  win.searchFieldBox()->setCurrentIndex(field);
  win.searchEdit()->setText(QString::fromStdString(typed));
  win.search();
  platform::VSFlexGrid& c = win.candidateGrid();
  for (int r = c.FixedRows(); r < c.Rows(); ++r)
    if (c.TextMatrix(r, PriceListWindow::CName) == name && c.TextMatrix(r, PriceListWindow::CModel) == model) {
      c.setRow(r);
      c.fireClick();
      return;
    }
  ADD_FAILURE() << "the search for " << typed << " found no " << name << " " << model;
}

// With VELMORA_SCREENSHOT_DIR set, a picture of the window there.
void shoot(QWidget& widget, const char* name) {
  const QByteArray dir = qgetenv("VELMORA_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  widget.show();
  QCoreApplication::processEvents();
  widget.grab().save(QString::fromLocal8Bit(dir) + "/" + name);
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(PriceListWindow, PricesTheListWithColouredStatusesAFilterAndExactAmounts) {
  ListFolder f;
  auto win = f.window();
  ASSERT_NE(win->priced(), nullptr) << win->summaryText().toStdString();
  EXPECT_EQ(win->windowTitle(), QString::fromUtf8("材料清单载价"));
  // The main window's library (April, the last) prices by default; its price columns are offered.
  EXPECT_EQ(win->libraryBox()->currentText(), QString::fromUtf8("2026年04月信息价"));
  ASSERT_EQ(win->priceBox()->count(), 2);
  EXPECT_EQ(win->priceBox()->currentText(), QString::fromUtf8("价格-含税"));
  EXPECT_EQ(win->severalBox()->currentText(), QString::fromUtf8("平均价"));

  platform::VSFlexGrid& g = win->lineGrid();
  using W = PriceListWindow;
  EXPECT_EQ(column(g, W::LRow), (std::vector<std::string>{"4", "5", "6", "7", "8", "9", "10", "11"}));
  const pl::PricedList& p = *win->priced();
  ASSERT_EQ(p.lines.size(), 8u);
  // 螺纹钢 HRB400 without a size: several sizes answer it, none clearly.
  EXPECT_EQ(g.TextMatrix(rowWith(g, W::LRow, "11"), W::LStatus), "待确认");
  // Every line shows its status on the status's colour and its amount, as exact two places.
  for (int r = g.FixedRows(); r < g.Rows(); ++r) {
    const pl::PricedLine& line = p.lines[size_t(std::stoi(g.TextMatrix(r, W::LIndex)))];
    EXPECT_EQ(g.TextMatrix(r, W::LStatus), pl::statusText(line.status));
    const unsigned colour = line.status == pl::MatchStatus::Matched ? price_windows::kMatchedColour
                            : line.status == pl::MatchStatus::Check ? price_windows::kCheckColour
                                                                    : price_windows::kNoneColour;
    EXPECT_EQ(g.cellBackColor(r, W::LStatus), colour) << r;
    EXPECT_EQ(g.displayText(r, W::LAmount), line.amount ? platform::formatCellText("0.00", line.amount->text()) : "");
  }
  // The granite the library does not carry is 未匹配, with no product and no amount.
  const int granite = rowWith(g, W::LRow, "6");
  ASSERT_GE(granite, 0);
  EXPECT_EQ(g.TextMatrix(granite, W::LStatus), "未匹配");
  EXPECT_EQ(g.TextMatrix(granite, W::LMatch), "");
  EXPECT_EQ(g.cellBackColor(granite, W::LStatus), price_windows::kNoneColour);

  // The filter keeps the lines of one status, and all of them.
  for (int k = 1; k <= 3; ++k) {
    win->filterBox()->setCurrentIndex(k);
    const pl::MatchStatus wanted = k == 1 ? pl::MatchStatus::Matched : k == 2 ? pl::MatchStatus::Check : pl::MatchStatus::None;
    std::vector<std::string> rows;
    for (const auto& line : p.lines)
      if (line.status == wanted) rows.push_back(std::to_string(line.line->row));
    EXPECT_EQ(column(g, W::LRow), rows) << k;
  }
  win->filterBox()->setCurrentIndex(3);
  EXPECT_NE(rowWith(g, W::LRow, "6"), -1);
  win->filterBox()->setCurrentIndex(0);
  EXPECT_EQ(g.Rows() - g.FixedRows(), 8);

  // A product chosen for the granite prices it: 0.01 × 4000.5 is 40.005, shown 40.01 (half away from zero).
  win->selectLine(lineOfRow(*win, 8));
  searchAndChoose(*win, 0, "螺纹钢", "螺纹钢 ＨＲＢ400", "Φ16");
  EXPECT_EQ(g.displayText(rowWith(g, W::LRow, "8"), W::LAmount), "40.01");
  EXPECT_EQ(g.TextMatrix(rowWith(g, W::LRow, "8"), W::LMatch), "螺纹钢 ＨＲＢ400");
  EXPECT_NE(win->summaryText().toStdString().find("2026年04月信息价：共 8 行"), std::string::npos)
      << win->summaryText().toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the wait cursor is gone
}

TEST(PriceListWindow, AChoiceFromASearchHoldsForEveryLineWrittenTheSameWayAndIsRestoredOnReopening) {
  ListFolder f;
  using W = PriceListWindow;
  {
    auto win = f.window();
    ASSERT_NE(win->priced(), nullptr);
    // The selected line lists its ranked candidates with their scores.
    win->selectLine(lineOfRow(*win, 4));
    EXPECT_NE(win->lineText().toStdString().find("第 4 行：螺纹钢 HRB400  Φ12  t  数量 10.5"), std::string::npos)
        << win->lineText().toStdString();
    const auto& candidates = win->priced()->lines[size_t(lineOfRow(*win, 4))].candidates;
    ASSERT_EQ(win->candidateGrid().Rows() - 1, static_cast<int>(candidates.size()));
    for (size_t i = 0; i < candidates.size(); ++i)
      EXPECT_EQ(win->candidateGrid().TextMatrix(int(i) + 1, W::CScore), std::to_string(candidates[i].score));

    // The granite (rows 6 and 8, written alike) gets 中砂 found by its pinyin initials.
    shoot(*win, "pricelist-candidates.png");
    win->selectLine(lineOfRow(*win, 6));
    win->searchFieldBox()->setCurrentIndex(2);
    win->searchEdit()->setText("lwg");
    win->search();
    shoot(*win, "pricelist-search.png");
    EXPECT_EQ(column(win->candidateGrid(), W::CName),
              (std::vector<std::string>{"螺纹钢  HRB400", "螺纹钢 ＨＲＢ400", "螺纹钢 HRB400"}));
    searchAndChoose(*win, 2, "s", "砂", "中砂");
    for (int row : {6, 8}) {
      const pl::PricedLine& line = win->priced()->lines[size_t(lineOfRow(*win, row))];
      ASSERT_TRUE(line.match) << row;
      EXPECT_EQ(line.match->name, "砂");
      EXPECT_TRUE(line.chosen);
      EXPECT_EQ(line.status, pl::MatchStatus::Matched);
    }
    EXPECT_EQ(win->lineGrid().displayText(rowWith(win->lineGrid(), W::LRow, "6"), W::LAmount), "2400.00");
    shoot(*win, "pricelist-chosen.png");
    EXPECT_EQ(win->candidateGrid().TextMatrix(1, W::CChosen), "✔");

    // 水泥 found by the manufacturer's name; the line says the library has no answer for 电线.
    win->selectLine(lineOfRow(*win, 9));
    win->chooseNone();
    EXPECT_FALSE(win->priced()->lines[size_t(lineOfRow(*win, 9))].match);
    EXPECT_EQ(win->priced()->lines[size_t(lineOfRow(*win, 9))].status, pl::MatchStatus::None);
  }
  ASSERT_TRUE(QFile::exists(QString::fromStdString(pl::Choices::besidePath(f.list))));

  // Reopened: both choices are back.
  auto again = f.window();
  ASSERT_NE(again->priced(), nullptr);
  EXPECT_EQ(again->choices().size(), 2u);
  for (int row : {6, 8}) {
    const pl::PricedLine& line = again->priced()->lines[size_t(lineOfRow(*again, row))];
    ASSERT_TRUE(line.match) << row;
    EXPECT_EQ(line.match->name, "砂");
    EXPECT_TRUE(line.chosen);
  }
  const pl::PricedLine& wire = again->priced()->lines[size_t(lineOfRow(*again, 9))];
  EXPECT_FALSE(wire.match);
  EXPECT_TRUE(wire.chosen);

  // 取消选择 forgets a choice, in the file as well.
  again->selectLine(lineOfRow(*again, 6));
  again->clearChoice();
  EXPECT_FALSE(again->priced()->lines[size_t(lineOfRow(*again, 8))].chosen);
  EXPECT_EQ(pl::Choices::load(pl::Choices::besidePath(f.list)).size(), 1u);
}

TEST(PriceListWindow, AChoicesFileThatCannotBeReadIsLeftAsItIs) {
  ListFolder f;
  const std::string beside = pl::Choices::besidePath(f.list);
  std::ofstream(beside, std::ios::binary) << "{ not json";
  platform::MessageBoxRecorder boxes;
  auto win = f.window();
  ASSERT_NE(win->priced(), nullptr);
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_NE(boxes.boxes()[0].text.find("无法读取保存的选择"), std::string::npos) << boxes.boxes()[0].text;
  win->selectLine(lineOfRow(*win, 6));
  win->chooseNone();
  EXPECT_EQ(readAll(beside), "{ not json");
}

TEST(PriceListWindow, AListThatCannotBeReadIsReportedAndLeavesTheWindowAsItWas) {
  ListFolder f;
  auto win = f.window();
  ASSERT_NE(win->priced(), nullptr);
  const std::string bad = f.folder.file("无表头.csv");
  std::ofstream(bad, std::ios::binary) << "甲,乙\n1,2\n";
  platform::MessageBoxRecorder boxes;
  EXPECT_FALSE(win->openList(bad));
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_NE(boxes.boxes()[0].text.find("无表头.csv"), std::string::npos) << boxes.boxes()[0].text;
  EXPECT_EQ(win->priced()->lines.size(), 8u);  // the open list stays
}

TEST(PriceListWindow, TheAdjustmentTabShowsBaseCurrentAndALinesOwnRiskRange) {
  ListFolder f;
  auto win = f.window();
  ASSERT_NE(win->priced(), nullptr);
  EXPECT_FALSE(win->tabs()->isTabEnabled(1));
  win->adjustBox()->setChecked(true);
  EXPECT_TRUE(win->tabs()->isTabEnabled(1));
  ASSERT_TRUE(win->priced()->adjusted);
  EXPECT_EQ(win->baseBox()->currentText(), QString::fromUtf8("2026年01月信息价"));
  EXPECT_EQ(win->fromBox()->currentText(), QString::fromUtf8("2026年04月信息价"));
  using W = PriceListWindow;
  platform::VSFlexGrid& a = win->adjustmentGrid();
  EXPECT_EQ(a.Rows() - a.FixedRows(), 8);

  // 水泥 P.O42.5 at row 5: base 450 (January), bid 460, current 470 (April).
  const int cement = lineOfRow(*win, 5);
  const pl::PricedLine& line = win->priced()->lines[size_t(cement)];
  ASSERT_TRUE(line.match);
  ASSERT_EQ(line.match->model, "P.O42.5");
  int r = rowWith(a, W::ARow, "5");
  ASSERT_GE(r, 0);
  EXPECT_EQ(a.displayText(r, W::ABase), "450.00");
  EXPECT_EQ(a.displayText(r, W::ABid), "460.00");
  EXPECT_EQ(a.displayText(r, W::ACurrent), "470.00");
  EXPECT_EQ(a.TextMatrix(r, W::ARisk), "5");
  // Within 5 %: nothing; with the line's own range of 1 %: 470 − 460 × 1.01 = 5.40, × 3.333 = 18.00.
  EXPECT_EQ(a.displayText(r, W::APerUnit), "0.00");
  win->selectLine(cement);
  win->lineRiskEdit()->setText("1");
  win->applyLineRisk();
  r = rowWith(a, W::ARow, "5");
  EXPECT_EQ(a.TextMatrix(r, W::ARisk), "1");
  EXPECT_EQ(a.displayText(r, W::APerUnit), "5.40");
  EXPECT_EQ(a.displayText(r, W::AAmount), "18.00");
  EXPECT_EQ(a.cellBackColor(r, W::AAmount), price_windows::kNoneColour);  // a rise
  win->tabs()->setCurrentIndex(1);
  shoot(*win, "pricelist-adjust.png");
  EXPECT_NE(win->adjustmentSummaryText().toStdString().find("调增 18.00"), std::string::npos)
      << win->adjustmentSummaryText().toStdString();
  // The line keeps its range when the list is priced again.
  win->riskEdit()->setText("4");
  emit win->riskEdit()->editingFinished();
  r = rowWith(a, W::ARow, "5");
  EXPECT_EQ(a.displayText(r, W::AAmount), "18.00");
  EXPECT_EQ(win->priced()->risk, price_tools::Decimal(4, 2));
}

TEST(PriceListWindow, ExportsThroughTheSaveQuestionAndNeverWritesOverTheList) {
  ListFolder f;
  auto win = f.window();
  ASSERT_NE(win->priced(), nullptr);
  QString proposed;
  std::string answer = f.folder.file("载价.csv");
  int filter = 1;
  price_windows::setSaveFileQuestion([&](QWidget*, const QString&, const QString& offered, const QStringList& filters,
                                         QString* chosen) {
    proposed = offered;
    *chosen = filters[filter];
    return QString::fromStdString(answer);
  });
  EXPECT_TRUE(win->exportList());
  EXPECT_EQ(proposed.toStdString(), f.folder.file("材料表-载价.xlsx"));
  const std::string csv = readAll(answer);
  EXPECT_NE(csv.find("匹配材料"), std::string::npos);
  EXPECT_NE(csv.find("花岗岩板"), std::string::npos);

  // xlsx: the extension follows the filter chosen.
  answer = f.folder.file("载价.csv");
  filter = 0;
  EXPECT_TRUE(win->exportList());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(f.folder.file("载价.xlsx"))));

  // The list itself (here as a CSV export over 材料表.csv) is refused and left as it was.
  platform::MessageBoxRecorder boxes;
  answer = f.list;
  filter = 1;
  EXPECT_FALSE(win->exportList());
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_NE(boxes.boxes()[0].text.find("不能覆盖材料清单本身"), std::string::npos);
  EXPECT_EQ(readAll(f.list), kList);
}

TEST(PriceListWindow, TheBandOpensOneWindowWithTheMainWindowsLibraries) {
  ListFolder f;
  auto* band = price_windows::attachCommandBand(*f.w);
  QAction* command = nullptr;
  for (QAction* a : band->actions())
    if (a->text() == QString::fromUtf8("材料清单载价")) command = a;
  ASSERT_NE(command, nullptr);
  command->trigger();
  command->trigger();
  const auto windows = f.w->widget().findChildren<PriceListWindow*>();
  ASSERT_EQ(windows.size(), 1);
  EXPECT_TRUE(windows[0]->isVisible());
  EXPECT_EQ(windows[0]->libraryBox()->count(), 2);
  EXPECT_EQ(windows[0]->libraryBox()->currentText(), QString::fromUtf8("2026年04月信息价"));
  EXPECT_NE(windows[0]->summaryText().toStdString().find("请打开材料清单"), std::string::npos);
  delete windows[0];
}
