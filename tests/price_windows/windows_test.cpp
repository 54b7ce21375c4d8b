// The windows 价格对比 and 价格走势 on a host over monthly libraries,
// offscreen: defaults, scopes offered by what the product grid shows,
// filters, colours, summary, the page of a clicked row; the chart's gaps and
// the table of the history.
#include "month_folder.h"

#include "fake_host.h"

#include "data/navigation.h"
#include "platform/grid/vsflexgrid.h"
#include "price_windows/compare/compare_window.h"
#include "price_windows/history/history_window.h"

#include <gtest/gtest.h>

#include "support/widgets_app.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLineSeries>
#include <QStandardItemModel>

using months_fixture::MonthFolder;
using price_windows::CompareWindow;

namespace {

QApplication& app() { return testsupport::widgetsApp(); }

// January, March (without 螺纹钢 Φ12) and April (renumbered, as February in
// the month tools' tests) under a host, which opened April, the last library
// in name order.
struct MonthWindow {
  MonthFolder folder;
  std::unique_ptr<price_windows_test::FakeHost> w;
  explicit MonthWindow(const std::vector<months_fixture::Page>& aprilPages = {}) {
    app();
    folder.writeLibrary("2026年01月信息价", months_fixture::earlierMonth());
    folder.writeLibrary("2026年03月信息价", {{1, "圆钢", "Φ8", "吨", 1, "3950", 3}});
    folder.writeLibrary("2026年04月信息价", months_fixture::laterMonth(), months_fixture::laterFactories(), "4917",
                        aprilPages);
    w = std::make_unique<price_windows_test::FakeHost>();
    EXPECT_TRUE(w->load());
  }
  ~MonthWindow() { w.reset(); }
};

bool enabled(QComboBox* box, int i) {
  auto* model = qobject_cast<QStandardItemModel*>(box->model());
  return model->item(i)->isEnabled();
}

std::vector<std::string> column(platform::VSFlexGrid& g, int c) {
  std::vector<std::string> out;
  for (int r = g.FixedRows(); r < g.Rows(); ++r) out.push_back(g.displayText(r, c));
  return out;
}

}  // namespace

TEST(CompareWindow, ComparesTheTwoLatestMonthsWithScopesFiltersColoursAndSummary) {
  MonthWindow m;
  ASSERT_EQ(m.w->currentLibrary(), "2026年04月信息价");
  CompareWindow c(*m.w);
  EXPECT_EQ(c.windowTitle(), QString::fromUtf8("价格对比"));
  EXPECT_EQ(c.fromBox()->currentText(), QString::fromUtf8("2026年03月信息价"));
  EXPECT_EQ(c.toBox()->currentText(), QString::fromUtf8("2026年04月信息价"));
  ASSERT_EQ(c.priceBox()->count(), 2);
  EXPECT_EQ(c.priceBox()->itemText(0), QString::fromUtf8("价格-含税"));
  // Nothing shown in the product grid yet: only the whole library.
  EXPECT_TRUE(enabled(c.scopeBox(), 0));
  EXPECT_FALSE(enabled(c.scopeBox(), 1));
  EXPECT_FALSE(enabled(c.scopeBox(), 2));
  EXPECT_FALSE(enabled(c.scopeBox(), 3));

  c.fromBox()->setCurrentIndex(0);  // January
  platform::VSFlexGrid& g = c.grid();
  using W = CompareWindow;
  EXPECT_EQ(column(g, W::ColName), (std::vector<std::string>{"螺纹钢  HRB400", "螺纹钢 ＨＲＢ400", "水泥", "圆钢",
                                                             "螺纹钢 HRB400", "砂", "水泥"}));
  // Prices as the product grid's format shows them; the status where there is no change.
  EXPECT_EQ(column(g, W::ColOld), (std::vector<std::string>{"4000.00", "4100.50", "450.00", "3900.00", "", "", "400.00"}));
  EXPECT_EQ(column(g, W::ColChange),
            (std::vector<std::string>{"200.00", "-100.00", "20.00", "0.00", "新增", "新增", "停用"}));
  EXPECT_EQ(column(g, W::ColPercent), (std::vector<std::string>{"5.00", "-2.44", "4.44", "0.00", "", "", ""}));
  // Rises on red, falls on green, the rest as it is.
  EXPECT_EQ(g.cellBackColor(1, W::ColChange), price_windows::kRiseColour);
  EXPECT_EQ(g.cellBackColor(1, W::ColPercent), price_windows::kRiseColour);
  EXPECT_EQ(g.cellBackColor(2, W::ColChange), price_windows::kFallColour);
  EXPECT_FALSE(g.cellBackColor(4, W::ColChange));
  EXPECT_FALSE(g.cellBackColor(1, W::ColNew));
  EXPECT_EQ(c.summaryText().toStdString(),
            "2026年01月信息价 → 2026年04月信息价，价格-含税：上涨 2，下跌 1，持平 1，新增 2，停用 1；涨跌中位数 10.00");

  c.filterBox()->setCurrentIndex(3);  // 下跌
  EXPECT_EQ(column(g, W::ColName), (std::vector<std::string>{"螺纹钢 ＨＲＢ400"}));
  c.filterBox()->setCurrentIndex(0);

  // A category clicked in the host's navigator is offered as the scope.
  m.w->clickCategory("2");
  c.reload();
  EXPECT_TRUE(enabled(c.scopeBox(), 1));
  EXPECT_FALSE(enabled(c.scopeBox(), 2));
  EXPECT_EQ(c.scopeBox()->currentIndex(), 0);
  c.fromBox()->setCurrentIndex(0);
  c.scopeBox()->setCurrentIndex(1);
  EXPECT_EQ(column(g, W::ColName), (std::vector<std::string>{"螺纹钢  HRB400", "螺纹钢 ＨＲＢ400", "螺纹钢 HRB400"}));

  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the wait cursor is gone

  // A click on a row asks the host to show its page.
  const size_t visits = m.w->pages().size();
  g.setRow(1);
  g.fireClick();
  ASSERT_EQ(m.w->pages().size(), visits + 1);
  EXPECT_EQ(m.w->pages().back().address, data::defaultPagePath());
}

TEST(HistoryWindow, DrawsALinePerRunOfMonthsAndTabulatesTheGaps) {
  MonthWindow m;
  price_windows::HistoryWindow h("101", "2026年04月信息价", m.w->libraryList());
  EXPECT_EQ(h.windowTitle(), QString::fromUtf8("价格走势"));
  EXPECT_EQ(h.headline().toStdString(), "螺纹钢  HRB400  Φ12  吨  东岚钢铁");
  platform::VSFlexGrid& t = h.table();
  EXPECT_EQ(column(t, 1), (std::vector<std::string>{"2026年01月信息价", "2026年03月信息价", "2026年04月信息价"}));
  EXPECT_EQ(column(t, 2), (std::vector<std::string>{"2026-01", "2026-03", "2026-04"}));
  EXPECT_EQ(column(t, 3), (std::vector<std::string>{"1", "无此产品", "101"}));
  EXPECT_EQ(column(t, 4), (std::vector<std::string>{"4000.00", "", "4200.00"}));
  EXPECT_EQ(h.pointText(0).toStdString(), "2026年01月信息价\n价格-含税: 4000.00");
  EXPECT_EQ(h.pointText(1).toStdString(), "2026年03月信息价\n价格-含税: 无");
  // Two lines (January, April: March is a gap) and one series of dots.
  int lines = 0, points = 0;
  for (QAbstractSeries* s : h.chartView()->chart()->series()) {
    if (s->type() == QAbstractSeries::SeriesTypeLine) ++lines, points += static_cast<QLineSeries*>(s)->count();
  }
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(points, 2);
  EXPECT_EQ(h.chartView()->chart()->series().size(), 3);

  h.priceBox()->setCurrentIndex(1);
  EXPECT_EQ(h.history().price.title, "价格-除税");
  EXPECT_EQ(column(t, 4), (std::vector<std::string>{"1.5", "", "1.5"}));
}
