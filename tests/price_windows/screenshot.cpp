// price_windows_screenshot FOLDER OUT_PREFIX [CATEGORY_ID [LIST]]
//
// Pictures of the price windows on a program folder (scripts/screenshot.sh
// runs it on the demo folder under a virtual display): the main window with
// the band after a click on a category, 价格对比 of the two latest libraries
// over that category, and 价格走势 of the category's first product. Writes
// OUT_PREFIX-main.png, OUT_PREFIX-compare.png and OUT_PREFIX-history.png, and
// OUT_PREFIX-progress.png: the dialog shown while the latest library is read
// from its Jet file (the cache left out for it). With a material list LIST,
// also 材料清单载价 on it: OUT_PREFIX-pricelist.png (a line with candidates
// selected) and OUT_PREFIX-pricelist-adjust.png (the adjustment between the
// first and the last library).
// The page views are the recording browser (no page engine).
#include "common/program_folder.h"
#include "data/connections.h"
#include "data/files.h"
#include "data/skip_on_error.h"
#include "platform/browser/recording_browser.h"
#include "price_windows/band/command_band.h"
#include "price_windows/compare/compare_window.h"
#include "price_windows/history/history_window.h"
#include "price_windows/pricelist/pricelist_window.h"
#include "price_windows/progress/import_progress.h"
#include "programs/velmora/program.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QAction>
#include <QCheckBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: price_windows_screenshot FOLDER OUT_PREFIX [CATEGORY_ID]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const std::string folder = argv[1], prefix = argv[2], category = argc > 3 ? argv[3] : "5";
  const std::string list = argc > 4 ? argv[4] : "";
  common::setProgramFolder(folder);
  main_window::FrmeqHooks hooks;
  hooks.browsers = platform::recordingBrowserFactory();
  hooks.listenForClose = false;
  hooks.exeName = "Velmora";
  velmora::MainWindow assembled = velmora::assembleMainWindow(hooks);
  main_window::frmeq* w = assembled.window.release();
  auto* band = assembled.band;
  w->resize(1400, 900);
  if (!w->Form_Load()) return 1;
  w->show();
  // Unfold the tree down to the category and click it.
  platform::VSFlexGrid& tree = w->Grid1(0);
  for (int r = tree.FixedRows(); r < tree.Rows(); ++r) {
    if (tree.IsSubtotal(r)) tree.setIsCollapsed(r, false);
    if (tree.TextMatrix(r, tree.Cols() - 1) == category) tree.setRow(r);
  }
  tree.fireClick();
  w->Grid1(1).setRow(w->Grid1(1).FixedRows());
  int status = 0;
  auto save = [&](QWidget* widget, const char* name) {
    const std::string path = prefix + "-" + name + ".png";
    if (!widget->grab().save(QString::fromStdString(path), "PNG")) status = 1;
    std::fprintf(stderr, "%s\n", path.c_str());
  };
  QTimer::singleShot(500, [&] {
    save(w, "main");
    band->actions()[0]->trigger();  // 价格对比
    auto* compare = w->findChild<price_windows::CompareWindow*>();
    compare->scopeBox()->setCurrentIndex(1);  // the clicked category
    compare->resize(1300, 700);
    QTimer::singleShot(500, [&, compare] {
      save(compare, "compare");
      band->actions()[1]->trigger();  // 价格走势 of the current product
      auto* history = w->findChild<price_windows::HistoryWindow*>();
      if (history) history->resize(1000, 720);
      QTimer::singleShot(800, [&, history] {
        if (history) save(history, "history");
        else status = 1;
        // The progress dialog: caught by a timer while it lets the windows
        // repaint, as far into the copy as it gets.
        ado::setLibraryCacheEnabled(false);
        price_windows::installImportProgress(0);
        bool saved = false;
        int shown = -1;
        QTimer probe;
        probe.setInterval(0);
        QObject::connect(&probe, &QTimer::timeout, [&] {
          for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(top);
                d && d->objectName() == "importProgress" && d->isVisible() && d->findChild<QProgressBar*>()->value() > shown) {
              shown = d->findChild<QProgressBar*>()->value();
              save(d, "progress");
              saved = true;
            }
        });
        probe.start();
        data::skipOnError("screenshot: progress", [&] {
          ado::Database::open(data::findProgramFile(w->currentLibrary() + ".zdj"), "4917");
        });
        if (!saved) status = 1;
        ado::setLibraryCacheEnabled(true);
        if (list.empty()) {
          app.quit();
          return;
        }
        for (QAction* a : band->actions())
          if (a->text() == QString::fromUtf8(price_windows::kPriceListTitle)) a->trigger();
        auto* priced = w->findChild<price_windows::PriceListWindow*>();
        if (!priced || !priced->openList(list)) {
          status = 1;
          app.quit();
          return;
        }
        priced->resize(1400, 860);
        // The first line that is not a clear match, with its candidates.
        int line = 0;
        if (const auto* p = priced->priced())
          for (size_t i = 0; i < p->lines.size(); ++i)
            if (p->lines[i].status != price_tools::pricelist::MatchStatus::Matched) {
              line = static_cast<int>(i);
              break;
            }
        priced->selectLine(line);
        QTimer::singleShot(500, [&, priced] {
          save(priced, "pricelist");
          priced->adjustBox()->setChecked(true);
          priced->tabs()->setCurrentIndex(1);
          QTimer::singleShot(500, [&, priced] {
            save(priced, "pricelist-adjust");
            app.quit();
          });
        });
      });
    });
  });
  app.exec();
  return status;
}
