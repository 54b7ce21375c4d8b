// The band of price commands on its host: attached once above the product
// grid, buttons, the product grid's context menu and double click, and the
// grid's own click left as it was.
#include "fake_host.h"
#include "fixture.h"

#include "platform/messagebox/messagebox.h"
#include "price_windows/band/command_band.h"
#include "price_windows/history/history_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// The host over a program folder with the main window tests' standard library
// as 2026年12月信息价.
struct Window {
  fixture::Folder folder;
  std::unique_ptr<price_windows_test::FakeHost> host;
  Window() {
    testsupport::widgetsApp();
    data::resetDataModule();
    folder.writeProMdb();
    folder.writeLibrary("2026年12月信息价.zdj", fixture::standardLibrary());
    host = std::make_unique<price_windows_test::FakeHost>();
  }
};

}  // namespace

TEST(CommandBand, AttachedOnceAboveTheProductGridWithItsButtons) {
  Window win;
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.host);
  ASSERT_NE(band, nullptr);
  EXPECT_EQ(price_windows::attachCommandBand(*win.host), band);
  EXPECT_EQ(win.host->widget().findChildren<price_windows::CommandBand*>().size(), 1);
  EXPECT_EQ(band->windowTitle(), QString::fromUtf8("价格工具"));
  EXPECT_EQ(band->parentWidget(), win.host->clientArea());
  // Above the product grid in the client area's box.
  EXPECT_EQ(win.host->clientArea()->layout()->indexOf(band), 0);
  EXPECT_EQ(win.host->clientArea()->layout()->indexOf(win.host->productView()), 1);
  EXPECT_EQ(&band->host(), win.host.get());

  ASSERT_GE(band->actions().size(), 2);  // 价格对比, 价格走势, then the export commands
  int runs = 0;
  QAction* a = band->addCommand("试验", QIcon(), [&] { ++runs; });
  auto* button = qobject_cast<QToolButton*>(band->widgetForAction(a));
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(runs, 1);
}

namespace {
std::vector<price_windows::HistoryWindow*> histories(price_windows::Host& host) {
  QCoreApplication::processEvents();
  const auto found = host.widget().findChildren<price_windows::HistoryWindow*>();
  return {found.begin(), found.end()};
}
}  // namespace

TEST(CommandBand, HistoryOpensForTheRowUnderTheMouseAfterTheGridsOwnClick) {
  Window win;
  platform::MessageBoxRecorder boxes;
  ASSERT_TRUE(win.host->load());
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.host);
  win.host->widget().resize(1200, 800);
  win.host->widget().show();
  QCoreApplication::processEvents();
  ASSERT_GE(band->actions().size(), 2);
  EXPECT_EQ(band->actions()[0]->text(), QString::fromUtf8("价格对比"));
  EXPECT_EQ(band->actions()[1]->text(), QString::fromUtf8("价格走势"));

  // Nothing chosen yet: the command asks for a product.
  band->actions()[1]->trigger();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "请先选择一个产品!");

  win.host->clickCategory("12");
  platform::VSFlexGrid& g = win.host->productGrid();
  ASSERT_EQ(g.Rows(), 5);
  platform::GridView* view = win.host->productView();
  QCoreApplication::processEvents();
  int clicks = 0;
  QObject::connect(&g, &platform::VSFlexGrid::Click, [&] { ++clicks; });
  int clicksAtCommand = -1;
  band->addProductDoubleClick([&] { clicksAtCommand = clicks; });

  // A double click as the window system delivers it: press, release, then the
  // double click in place of the second press.
  const QPoint second = view->cellRect(4, 1).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(clicks, 1);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second);
  auto open = histories(*win.host);
  // The press moved the row and raised one click, as before; the commands came after.
  EXPECT_EQ(g.Row(), 4);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(clicksAtCommand, 1);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0]->history().product.id, g.TextMatrix(4, g.Cols() - 1));
  EXPECT_EQ(open[0]->history().product.name, "螺纹钢 HRB500");
  EXPECT_EQ(band->productRow(), 4);

  // The context menu on the first row, while the current row stays the second.
  QTimer::singleShot(50, [&] {
    QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    // (Other parts put their entries on the same menu, 复制 among them.)
    ASSERT_TRUE(menu->actions().contains(band->actions()[1]));
    band->actions()[1]->trigger();
    menu->close();
  });
  const QPoint first = view->cellRect(3, 1).center();
  QContextMenuEvent ev(QContextMenuEvent::Mouse, first, view->viewport()->mapToGlobal(first));
  QApplication::sendEvent(view->viewport(), &ev);
  open = histories(*win.host);
  ASSERT_EQ(open.size(), 2u);
  const auto* newest = open[0]->history().product.id == g.TextMatrix(4, g.Cols() - 1) ? open[1] : open[0];
  EXPECT_EQ(newest->history().product.name, "螺纹钢 HRB400");
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(g.Row(), 4);
  EXPECT_EQ(band->productRow(), 4);
  EXPECT_EQ(boxes.boxes().size(), 1u);
}
