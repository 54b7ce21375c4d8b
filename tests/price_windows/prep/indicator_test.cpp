// The indicator of the libraries prepared while the window is used: its text
// while a library is imported and after, a library that arrives in the folder
// later, and the close of the window stopping the import under way.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>

#include "prep_folder.h"
#include "price_windows/prep/prep_indicator.h"
#include "support/widgets_app.h"

namespace {

using months_fixture::earlierMonth;
using prep_fixture::ImportLog;
using prep_fixture::PrepFolder;
using prep_fixture::waitFor;
using price_tools::Readiness;

// Runs the window's events until `done` holds (a bounded time).
bool eventsUntil(const std::function<bool()>& done, int ms = 10000) {
  return waitFor([&] {
    QCoreApplication::processEvents();
    return done();
  }, ms);
}

TEST(PrepIndicator, TellsTheLibraryUnderWayThenGoesAndTakesALibraryThatArrives) {
  testsupport::widgetsApp();
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", earlierMonth());
  f.writeLibrary("2026年02月信息价", earlierMonth());
  ImportLog log;
  std::atomic<bool> seen{false};
  log.setHook([&](const ImportLog::Call& c) {
    if (c.done == 0 && log.begun() == 1) waitFor([&] { return seen.load(); });
  });
  QWidget window;
  price_windows::PrepIndicator indicator(QString::fromStdString(f.path()), window, &window, 0, 50);
  EXPECT_EQ(indicator.text(), "");
  window.show();  // the preparation begins once the window has shown
  EXPECT_TRUE(eventsUntil([&] { return indicator.text() == "正在准备材料库 1/2"; })) << indicator.text().toStdString();
  EXPECT_EQ(f.readiness("2026年02月信息价.zdj"), Readiness::NotReady);
  seen = true;
  EXPECT_TRUE(eventsUntil([&] { return indicator.text().isEmpty() && log.begun() == 2; }));
  EXPECT_TRUE(eventsUntil([&] { return f.readiness("2026年01月信息价.zdj") == Readiness::Ready; }));
  EXPECT_EQ(f.readiness("2026年02月信息价.zdj"), Readiness::Ready);
  EXPECT_EQ(log.begun(), 2);

  // The updater installs a library: it is prepared in its turn.
  f.writeLibrary("2026年03月信息价", earlierMonth());
  EXPECT_TRUE(eventsUntil([&] { return f.readiness("2026年03月信息价.zdj") == Readiness::Ready; }));
  EXPECT_EQ(log.begun(), 3);
}

TEST(PrepIndicator, ClosingTheWindowStopsTheImportUnderWay) {
  testsupport::widgetsApp();
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", prep_fixture::manyProducts());
  ImportLog log;
  std::atomic<bool> copying{false}, released{false};
  log.setHook([&](const ImportLog::Call&) {
    copying = true;
    waitFor([] { return ado::importStopFlag() && ado::importStopFlag()->load(); }, 30000);
    released = true;
  });
  QWidget window;
  price_windows::PrepIndicator indicator(QString::fromStdString(f.path()), window, &window, 0, 50);
  window.show();
  ASSERT_TRUE(eventsUntil([&] { return copying.load(); }));
  window.close();
  // The copy is let go by the stop, not by the end of the test.
  EXPECT_TRUE(eventsUntil([&] { return released.load(); }, 5000));
  EXPECT_EQ(log.calls().size(), 1u);  // the copy ended at its next row
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::NotReady);
  EXPECT_EQ(indicator.text(), "");
}

}  // namespace
