// Velmora as it is put together: the price windows' host hands out the main
// window's own controls, the assembled window carries its band once, the
// scripted runs' options and category click, and a comparison's page shown
// through the host keeps the main window's record of its page true.
#include "band_window.h"
#include "month_folder.h"

#include "data/browse.h"
#include "data/navigation.h"
#include "main_window/frmeq.h"
#include "main_window/frmgy.h"
#include "platform/browser/recording_browser.h"
#include "platform/grid/vsflexgrid.h"
#include "price_windows/band/command_band.h"
#include "price_windows/compare/compare_window.h"
#include "programs/velmora/frmeq_host.h"
#include "programs/velmora/program.h"
#include "programs/velmora/scripted_run.h"

#include <gtest/gtest.h>

#include <QBoxLayout>
#include <QComboBox>

#include <cstdlib>

using price_windows::CompareWindow;

TEST(FrmeqHost, HandsOutTheMainWindowsOwnControlsAndState) {
  price_windows_test::StandardWindow win;
  ASSERT_TRUE(win.w->Form_Load());
  main_window::frmeq& w = *win.w;
  velmora::FrmeqHost& host = velmora::FrmeqHost::of(w);
  EXPECT_EQ(&velmora::FrmeqHost::of(w), &host);  // one per window
  EXPECT_EQ(host.parent(), &w);
  EXPECT_EQ(&host.widget(), &w);
  EXPECT_EQ(&host.categoryGrid(), &w.Grid1(0));
  EXPECT_EQ(&host.productGrid(), &w.Grid1(1));
  EXPECT_EQ(&host.factoryGrid(), &w.Grid1(2));
  EXPECT_EQ(host.productView(), w.Grid1View(1));
  EXPECT_EQ(host.outerToolbar(), w.ActiveBar31());
  EXPECT_EQ(host.clientArea(), w.Picture2());
  EXPECT_EQ(host.currentLibrary(), "2026年12月信息价");
  EXPECT_EQ(&host.libraryList(), &w.libraryList());
  EXPECT_EQ(&host.navigator(), &w.navigator());
  EXPECT_EQ(&host.serviceBase(), &w.serviceBase());
  // The header rows above a navigator grid's first data row.
  EXPECT_EQ(host.categoryGrid().FixedRows(), price_windows::kNavigatorHeaderRows);
  EXPECT_EQ(host.productGrid().FixedRows(), price_windows::kNavigatorHeaderRows);

  // A page shown through the host goes to the main window's page view.
  auto& page = *dynamic_cast<platform::RecordingBrowser*>(w.WebBrowser1());
  const data::PageTarget target{false, false, "http://price.example.test/web/x.htm"};
  host.showPage(target);
  ASSERT_FALSE(page.visits().empty());
  EXPECT_EQ(page.visits().back().address, target.address);
}

TEST(Program, TheAssembledWindowCarriesItsBandOnceAboveTheProductGrid) {
  price_windows_test::StandardWindow win;
  win.w.reset();
  velmora::MainWindow assembled = velmora::assembleMainWindow(price_windows_test::recordingHooks());
  main_window::frmeq& w = *assembled.window;
  ASSERT_NE(assembled.band, nullptr);
  EXPECT_EQ(assembled.host, &velmora::FrmeqHost::of(w));
  EXPECT_EQ(w.findChildren<price_windows::CommandBand*>().size(), 1);
  EXPECT_EQ(assembled.band->parentWidget(), w.Picture2());
  auto* box = qobject_cast<QBoxLayout*>(w.Picture2()->layout());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->indexOf(assembled.band), 0);
  EXPECT_EQ(&assembled.band->host(), assembled.host);
  EXPECT_EQ(price_windows::attachCommandBand(*assembled.host), assembled.band);
}

TEST(ScriptedRun, ReadsItsOptionsAndClicksANestedCategory) {
  ::unsetenv("VELMORA_SPLASH_MS");
  const char* args[] = {"Velmora", "--splash-ms=-5", "--click-category=12", "--click-product=2",
                        "--screenshot=/tmp/x.png", "--screenshot-delay=700", "--timing", "-platform"};
  const velmora::ScriptedRun run = velmora::parseScriptedRun(8, const_cast<char**>(args));
  EXPECT_EQ(run.splashMs, 0);
  EXPECT_EQ(run.clickCategory, "12");
  EXPECT_EQ(run.clickProduct, 2);
  EXPECT_EQ(run.screenshot, "/tmp/x.png");
  EXPECT_EQ(run.screenshotDelay, 700);
  EXPECT_TRUE(run.timing);
  const char* none[] = {"Velmora"};
  const velmora::ScriptedRun plain = velmora::parseScriptedRun(1, const_cast<char**>(none));
  EXPECT_EQ(plain.splashMs, main_window::kSplashMs);
  EXPECT_TRUE(plain.clickCategory.empty());
  EXPECT_EQ(plain.clickProduct, -1);
  EXPECT_FALSE(plain.timing);

  price_windows_test::StandardWindow win;
  ASSERT_TRUE(win.w->Form_Load());
  EXPECT_FALSE(velmora::clickCategory(*win.w, "999"));
  // 螺纹钢 (12) lies under 钢材; the click lists its two products.
  EXPECT_TRUE(velmora::clickCategory(*win.w, "12"));
  EXPECT_EQ(win.w->navigator().shown().kind, data::NavigatorSession::ShownProducts::Category);
  EXPECT_EQ(win.w->Grid1(1).Rows() - price_windows::kNavigatorHeaderRows, 2);
}

namespace {

// January, March and April (renumbered) under a main window, which opened April.
struct MonthWindow {
  months_fixture::MonthFolder folder;
  std::unique_ptr<main_window::frmeq> w;
  explicit MonthWindow(const std::vector<months_fixture::Page>& aprilPages) {
    testsupport::widgetsApp();
    folder.writeLibrary("2026年01月信息价", months_fixture::earlierMonth());
    folder.writeLibrary("2026年03月信息价", {{1, "圆钢", "Φ8", "吨", 1, "3950", 3}});
    folder.writeLibrary("2026年04月信息价", months_fixture::laterMonth(), months_fixture::laterFactories(), "4917",
                        aprilPages);
    w = std::make_unique<main_window::frmeq>(price_windows_test::recordingHooks());
    EXPECT_TRUE(w->Form_Load());
  }
  platform::RecordingBrowser& page() { return *dynamic_cast<platform::RecordingBrowser*>(w->WebBrowser1()); }
};

}  // namespace

TEST(CompareWindow, ARowsPageLeavesTheMainWindowShowingItsOwnProductsPageOnTheirNextClick) {
  MonthWindow m({{4, 7, "web/dl.htm"}, {4, 2, "web/qc.htm"}});
  auto rowWith = [](platform::VSFlexGrid& g, const std::string& id) {
    for (int r = g.FixedRows(); r < g.Rows(); ++r)
      if (g.TextMatrix(r, g.Cols() - 1) == id) return r;
    return -1;
  };
  auto lastPage = [&] { return m.page().visits().back().address; };
  // The main window: HRB400, then product 101 of 东岚钢铁.
  m.w->Grid1(0).setRow(rowWith(m.w->Grid1(0), "4"));
  m.w->Grid1(0).fireClick();
  const int product = rowWith(m.w->Grid1(1), "101");
  ASSERT_GE(product, 0);
  m.w->Grid1(1).setRow(product);
  m.w->Grid1(1).fireClick();
  EXPECT_NE(lastPage().find("dl.htm"), std::string::npos) << lastPage();

  // A comparison row of 青川特钢 shows its page.
  CompareWindow c(velmora::FrmeqHost::of(*m.w));
  c.fromBox()->setCurrentIndex(0);
  ASSERT_EQ(c.grid().TextMatrix(2, CompareWindow::ColName), "螺纹钢 ＨＲＢ400");
  c.grid().setRow(2);
  c.grid().fireClick();
  EXPECT_NE(lastPage().find("qc.htm"), std::string::npos) << lastPage();

  // Product 101 clicked again in the main window shows its page again.
  m.w->Grid1(1).fireClick();
  EXPECT_NE(lastPage().find("dl.htm"), std::string::npos) << lastPage();
}

