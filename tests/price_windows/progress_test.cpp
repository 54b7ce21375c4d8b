// The dialog that shows while a library is copied from its Jet file: up while
// the rows come in, one for copies that follow one another, gone a moment
// after the last, not shown for a library the cache holds, and left alone by
// copies made on other threads.
#include "month_folder.h"

#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "price_windows/progress/import_progress.h"

#include <gtest/gtest.h>

#include "support/cache_home.h"
#include "support/test_support.h"
#include "support/widgets_app.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <set>
#include <thread>

namespace {

QApplication& app() { return testsupport::widgetsApp(); }

QDialog* shownDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(w); d && d->objectName() == "importProgress" && d->isVisible()) return d;
  return nullptr;
}

}  // namespace

TEST(ImportProgress, ShowsWhileALibraryIsCopiedAndGoesWhenItIsIn) {
  app();
  QTemporaryDir cacheFolder;
  const testsupport::CacheHome cacheHome(cacheFolder.path().toStdString());

  months_fixture::MonthFolder folder;
  std::vector<months_fixture::Item> items;
  for (int i = 1; i <= 10000; ++i) items.push_back({i, "螺纹钢 HRB400", "Φ" + std::to_string(i), "吨", 1, "4000"});
  folder.writeLibrary("2026年11月信息价", items);
  folder.writeLibrary("2026年12月信息价", items);
  const std::string file = folder.file("2026年11月信息价.zdj");

  price_windows::installImportProgress(0);
  // Timers run while the dialog lets the windows repaint.
  QString label;
  int highest = -1;
  std::set<QDialog*> dialogs;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (QDialog* d = shownDialog()) {
      dialogs.insert(d);
      label = d->findChild<QLabel*>()->text();
      highest = std::max(highest, d->findChild<QProgressBar*>()->value());
    }
  });
  probe.start();
  ado::Database::open(file, "4917");
  EXPECT_TRUE(label.contains("2026年11月信息价")) << label.toStdString();
  EXPECT_GT(highest, 0);
  // The next library's copy right after it shows in the same dialog.
  ado::Database::open(folder.file("2026年12月信息价.zdj"), "4917");
  EXPECT_TRUE(label.contains("2026年12月信息价")) << label.toStdString();
  EXPECT_EQ(dialogs.size(), 1u);
  // Gone a moment after the last copy.
  probe.stop();
  EXPECT_TRUE(testsupport::spinUntil([] { return shownDialog() == nullptr; }, 5000));
  probe.start();

  // From the cache: nothing to show.
  label.clear();
  ado::Database::open(file, "4917");
  QApplication::processEvents();
  EXPECT_TRUE(label.isEmpty());

  // A copy on another thread does not touch the windows.
  ado::setLibraryCacheEnabled(false);
  std::thread other([&] { ado::Database::open(file, "4917"); });
  other.join();
  QApplication::processEvents();
  EXPECT_TRUE(label.isEmpty());
  EXPECT_EQ(shownDialog(), nullptr);

  probe.stop();
  ado::setImportProgress(nullptr);
}
