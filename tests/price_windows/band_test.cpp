// The band of price commands on the main window: attached once above the
// product grid, buttons, the product grid's context menu and double click,
// and the main window's own click left as it was.
#include "band_window.h"

#include "data/connections.h"
#include "main_window/frmeq.h"
#include "platform/messagebox/messagebox.h"
#include "price_windows/band/command_band.h"
#include "price_windows/history/history_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using Window = price_windows_test::StandardWindow;

TEST(CommandBand, AttachedOnceAboveTheProductGridWithItsButtons) {
  Window win;
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.w);
  ASSERT_NE(band, nullptr);
  EXPECT_EQ(price_windows::attachCommandBand(*win.w), band);
  EXPECT_EQ(win.w->findChildren<price_windows::CommandBand*>().size(), 1);
  EXPECT_EQ(band->windowTitle(), QString::fromUtf8("价格工具"));
  EXPECT_EQ(band->parentWidget(), win.w->Picture2());
  EXPECT_EQ(&band->window(), win.w.get());

  ASSERT_GE(band->actions().size(), 2);  // 价格对比, 价格走势, then the export commands
  int runs = 0;
  QAction* a = band->addCommand("试验", QIcon(), [&] { ++runs; });
  auto* button = qobject_cast<QToolButton*>(band->widgetForAction(a));
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(runs, 1);
}

namespace {
std::vector<price_windows::HistoryWindow*> histories(main_window::frmeq& w) {
  QCoreApplication::processEvents();
  const auto found = w.findChildren<price_windows::HistoryWindow*>();
  return {found.begin(), found.end()};
}
}  // namespace

TEST(CommandBand, HistoryOpensForTheRowUnderTheMouseAfterTheGridsOwnClick) {
  Window win;
  platform::MessageBoxRecorder boxes;
  ASSERT_TRUE(win.w->Form_Load());
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.w);
  win.w->resize(1200, 800);
  win.w->show();
  QCoreApplication::processEvents();
  ASSERT_GE(band->actions().size(), 2);
  EXPECT_EQ(band->actions()[0]->text(), QString::fromUtf8("价格对比"));
  EXPECT_EQ(band->actions()[1]->text(), QString::fromUtf8("价格走势"));

  // Nothing chosen yet: the command asks for a product.
  band->actions()[1]->trigger();
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, "请先选择一个产品!");

  win.clickCategory("12");
  platform::VSFlexGrid& g = win.w->Grid1(1);
  ASSERT_EQ(g.Rows(), 5);
  platform::GridView* view = win.w->Grid1View(1);
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
  auto open = histories(*win.w);
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
  open = histories(*win.w);
  ASSERT_EQ(open.size(), 2u);
  const auto* newest = open[0]->history().product.id == g.TextMatrix(4, g.Cols() - 1) ? open[1] : open[0];
  EXPECT_EQ(newest->history().product.name, "螺纹钢 HRB400");
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(g.Row(), 4);
  EXPECT_EQ(band->productRow(), 4);
  EXPECT_EQ(boxes.boxes().size(), 1u);
}
