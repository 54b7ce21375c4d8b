// Measures the main window where the user waits: the load step (splash to a
// usable window) on the demo program folder or a generated one, and a
// category click that lists 10,000 products and shows the page of the current
// row, with the grid views drawn. Offscreen, with the recording browser (the
// page engine loads in the background and is not waited for by the window).
//
//   main_window_bench [--folder=DEMO_FOLDER] [--products=10000] [--runs=5]
#include "common/large_pages.h"
#include "fixture.h"

#include "common/program_folder.h"
#include "data/connections.h"
#include "main_window/frmeq.h"
#include "platform/browser/recording_browser.h"
#include "platform/messagebox/messagebox.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::unique_ptr<main_window::frmeq> makeWindow() {
  data::resetDataModule();
  main_window::FrmeqHooks hooks;
  hooks.browsers = platform::recordingBrowserFactory();
  hooks.startHidden = [](const std::string&) {};
  hooks.endProgram = [] {};
  hooks.exeName = "Velmora";
  hooks.listenForClose = false;
  return std::make_unique<main_window::frmeq>(hooks);
}

// Load step, show, first paint.
double timeStartup() {
  QElapsedTimer t;
  t.start();
  auto w = makeWindow();
  if (!w->Form_Load()) return -1;
  w->resize(1400, 900);
  w->show();
  w->repaint();
  QCoreApplication::processEvents();
  return t.nsecsElapsed() / 1e6;
}

// Copies a folder tree (the demo folder is not written to).
void copyTree(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString file = it.next();
    const QString target = to + file.mid(from.size());
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::copy(file, target);
  }
}

void report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-58s median %8.1f ms   min %8.1f ms   max %8.1f ms   (%zu runs)\n", what, ms[ms.size() / 2],
              ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  std::string demo;
  int products = 10000;
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (!std::strncmp(argv[i], "--folder=", 9)) demo = argv[i] + 9;
    else if (!std::strncmp(argv[i], "--products=", 11)) products = std::atoi(argv[i] + 11);
    else if (!std::strncmp(argv[i], "--runs=", 7)) runs = std::max(1, std::atoi(argv[i] + 7));
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  platform::MessageBoxRecorder boxes;

  if (!demo.empty()) {
    QTemporaryDir copy;
    copyTree(QString::fromStdString(demo), copy.path());
    common::setProgramFolder(copy.path().toStdString());
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) ms.push_back(timeStartup());
    report("start-up on the demo folder (load step, show, paint)", ms);
    if (!boxes.boxes().empty()) std::printf("  message: %s\n", boxes.boxes().front().text.c_str());
  }

  fixture::Folder f;
  f.writeProMdb();
  f.writeLibrary("big.zdj", fixture::bigLibrary(products));
  f.writeText("web/Orvanta.htm", "<html><body>默认页</body></html>");
  f.writeText("web/a.htm", "<html><body>价格</body></html>");
  {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) ms.push_back(timeStartup());
    report("start-up on a generated folder", ms);
  }

  auto w = makeWindow();
  w->Form_Load();
  w->resize(1400, 900);
  w->show();
  QCoreApplication::processEvents();
  platform::VSFlexGrid& cats = w->Grid1(data::NavigatorSession::Categories);
  platform::VSFlexGrid& productGrid = w->Grid1(data::NavigatorSession::Products);
  int row12 = -1;
  for (int r = cats.FixedRows(); r < cats.Rows(); ++r)
    if (cats.TextMatrix(r, cats.Cols() - 1) == "12") row12 = r;
  if (row12 < 0) {
    std::printf("category 12 not found\n");
    return 1;
  }
  auto* page = dynamic_cast<platform::RecordingBrowser*>(w->WebBrowser1());
  std::vector<double> ms;
  int filled = 0;
  for (int i = 0; i < runs; ++i) {
    page->clearVisits();
    QElapsedTimer t;
    t.start();
    cats.setRow(row12);
    cats.fireClick();
    w->Grid1View(data::NavigatorSession::Products)->repaint();
    QCoreApplication::processEvents();
    ms.push_back(t.nsecsElapsed() / 1e6);
    filled = productGrid.Rows() - productGrid.FixedRows();
    if (page->visits().empty()) std::printf("  no page was shown\n");
  }
  char what[120];
  std::snprintf(what, sizeof what, "category click: %d products listed, page shown, drawn", filled);
  report(what, ms);
  return 0;
}
