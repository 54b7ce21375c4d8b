// Velmora: the splash, then the main window on the program folder of this
// executable. The options of scripted runs are in scripted_run.h.
#include "common/large_pages.h"
#include "main_window/frmeq.h"
#include "main_window/frmgy.h"
#include "platform/browser/webengine_browser.h"
#include "platform/messagebox/messagebox.h"
#include "programs/velmora/program.h"
#include "programs/velmora/scripted_run.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool haveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 && std::strncmp(platform, "wayland", 7) != 0)
    return true;  // offscreen, vnc, ...: the platform plugin brings its own screen
  return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
         (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);
  const velmora::ScriptedRun options = velmora::parseScriptedRun(argc, argv);
  if (!haveDisplay()) {
    std::fprintf(stderr,
                 "Velmora is a window program and there is no display to show it on (DISPLAY is not set).\n"
                 "On a machine without a desktop, run it under a virtual display, for example:\n"
                 "  xvfb-run -a -s \"-screen 0 1600x1000x24\" %s\n"
                 "(scripts/screenshot.sh starts it so on the demo program folder and saves a picture of the window.)\n",
                 argv[0]);
    return 1;
  }
  platform::prepareWebEngine();
  QApplication app(argc, argv);
  // The main window's close ends the program, not the splash's.
  app.setQuitOnLastWindowClosed(false);
  platform::configureWebEngine();
  velmora::registerStartUp();
  if (platform::applicationTitle().empty()) platform::setApplicationTitle("Velmora");

  // The window's controls (and with them the page engine) are made while the
  // splash shows; its load step runs when the splash hands over.
  main_window::frmeq* window = nullptr;
  auto makeWindow = [&] {
    if (window) return;
    window = velmora::assembleMainWindow(main_window::programHooks(platform::webEngineBrowserFactory())).window.release();
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
      QRect avail = s->availableGeometry();
      window->resize(std::min(avail.width(), 1440) * 9 / 10, std::min(avail.height(), 1000) * 9 / 10);
      window->move(avail.center() - window->rect().center());
    }
  };
  auto showMain = [&] {
    QElapsedTimer t;
    t.start();
    makeWindow();
    const bool loaded = window->Form_Load();
    const qint64 loadMs = t.elapsed();
    if (!loaded) {
      delete window;
      window = nullptr;
      QCoreApplication::exit(1);
      return;
    }
    window->show();
    QCoreApplication::processEvents();
    if (options.timing)
      std::fprintf(stderr, "velmora: window usable %lld ms after the splash (load step %lld ms)\n",
                   (long long)t.elapsed(), (long long)loadMs);
    velmora::startScriptedRun(options, *window);
  };
  auto* splash = new main_window::Frmgy(showMain, options.splashMs);
  splash->show();
  QTimer::singleShot(0, splash, makeWindow);
  return app.exec();
}
