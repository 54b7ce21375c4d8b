// The band of price commands on the main window: attached once above the
// product grid, buttons, the product grid's context menu and double click,
// and the main window's own click left as it was.
#include "fixture.h"

#include "data/connections.h"
#include "main_window/frmeq.h"
#include "platform/browser/recording_browser.h"
#include "price_windows/band/command_band.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "band_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

struct Window {
  fixture::Folder folder;
  std::unique_ptr<main_window::frmeq> w;
  Window() {
    app();
    data::resetDataModule();
    folder.writeProMdb();
    folder.writeLibrary("2026年12月信息价.zdj", fixture::standardLibrary());
    main_window::FrmeqHooks hooks;
    hooks.browsers = platform::recordingBrowserFactory();
    hooks.listenForClose = false;
    hooks.exeName = "Velmora";
    w = std::make_unique<main_window::frmeq>(hooks);
  }
  ~Window() {
    w.reset();
    data::resetDataModule();
  }
  void clickCategory(const std::string& id) {
    platform::VSFlexGrid& g = w->Grid1(0);
    for (int r = 3; r < g.Rows(); ++r)
      if (g.TextMatrix(r, g.Cols() - 1) == id) {
        g.setRow(r);
        g.fireClick();
        return;
      }
    ADD_FAILURE() << "no category " << id;
  }
};

}  // namespace

TEST(CommandBand, AttachedOnceAboveTheProductGridWithItsButtons) {
  Window win;
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.w);
  ASSERT_NE(band, nullptr);
  EXPECT_EQ(price_windows::attachCommandBand(*win.w), band);
  EXPECT_EQ(win.w->findChildren<price_windows::CommandBand*>().size(), 1);
  EXPECT_EQ(band->windowTitle(), QString::fromUtf8("价格工具"));
  EXPECT_EQ(band->parentWidget(), win.w->Picture2());
  EXPECT_EQ(&band->window(), win.w.get());

  int runs = 0;
  QAction* a = band->addCommand("试验", QIcon(), [&] { ++runs; });
  auto* button = qobject_cast<QToolButton*>(band->widgetForAction(a));
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(runs, 1);
}

TEST(CommandBand, ProductMenuAndDoubleClickActOnTheRowUnderTheMouseAfterTheGridsOwnClick) {
  Window win;
  ASSERT_TRUE(win.w->Form_Load());
  price_windows::CommandBand* band = price_windows::attachCommandBand(*win.w);
  win.w->resize(1200, 800);
  win.w->show();
  win.clickCategory("12");
  platform::VSFlexGrid& g = win.w->Grid1(1);
  ASSERT_EQ(g.Rows(), 5);
  platform::GridView* view = win.w->Grid1View(1);
  QCoreApplication::processEvents();

  int clicks = 0;
  QObject::connect(&g, &platform::VSFlexGrid::Click, [&] { ++clicks; });
  std::vector<std::pair<int, int>> seen;  // (product row, clicks seen then)
  band->addProductDoubleClick([&] { seen.emplace_back(band->productRow(), clicks); });

  const QPoint second = view->cellRect(4, 1).center();
  ASSERT_FALSE(second.isNull());
  // A double click as the window system delivers it: press, release, then the
  // double click in place of the second press.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second);
  EXPECT_EQ(clicks, 1);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second);
  QCoreApplication::processEvents();
  // The press moved the row and raised one click, as before; the command came after.
  EXPECT_EQ(g.Row(), 4);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(4, 1));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(band->productRow(), 4);

  // The context menu: on the first row, while the current row stays the second.
  QAction* history = band->addCommand("走势", QIcon(), [&] { seen.emplace_back(band->productRow(), clicks); });
  band->addToProductMenu(history);
  const int clicksBefore = clicks;
  QTimer::singleShot(50, [&] {
    QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    // (Other parts put their entries on the same menu, 复制 among them.)
    ASSERT_TRUE(menu->actions().contains(history));
    history->trigger();
    menu->close();
  });
  const QPoint first = view->cellRect(3, 1).center();
  QContextMenuEvent ev(QContextMenuEvent::Mouse, first, view->viewport()->mapToGlobal(first));
  QApplication::sendEvent(view->viewport(), &ev);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].first, 3);
  EXPECT_EQ(clicks, clicksBefore);
  EXPECT_EQ(g.Row(), 4);
  EXPECT_EQ(band->productRow(), 4);
}
