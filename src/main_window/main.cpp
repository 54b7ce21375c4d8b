// Velmora: the splash, then the main window on the program folder of this
// executable.
//
// Options for scripted runs (not for users):
//   --splash-ms=N          splash time (default 2000)
//   --click-category=ID    after the load step, click the category with this
//                          id in the category navigator
//   --click-product=N      then click the N-th product row (0 = first)
//   --screenshot=FILE      save a picture of the main window as PNG, then end
//   --screenshot-delay=MS  time from showing the window to the picture (3000)
//   --timing               report the load step's and the click's times on stderr
#include "data/navigation.h"
#include "data/skip_on_error.h"
#include "main_window/frmeq.h"
#include "main_window/frmgy.h"
#include "platform/browser/webengine_browser.h"
#include "platform/messagebox/messagebox.h"
#include "platform/messagebox/messagebox_qt.h"
#include "price_windows/band/command_band.h"
#include "price_windows/progress/import_progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
  int splashMs = main_window::kSplashMs;
  std::string clickCategory;
  int clickProduct = -1;
  std::string screenshot;
  int screenshotDelay = 3000;
  bool timing = false;
};

bool startsWith(const char* arg, const char* prefix, const char** rest) {
  size_t n = std::strlen(prefix);
  if (std::strncmp(arg, prefix, n) != 0) return false;
  *rest = arg + n;
  return true;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  if (const char* s = std::getenv("VELMORA_SPLASH_MS")) o.splashMs = std::atoi(s);
  for (int i = 1; i < argc; ++i) {
    const char* v = nullptr;
    if (startsWith(argv[i], "--splash-ms=", &v)) o.splashMs = std::atoi(v);
    else if (startsWith(argv[i], "--click-category=", &v)) o.clickCategory = v;
    else if (startsWith(argv[i], "--click-product=", &v)) o.clickProduct = std::atoi(v);
    else if (startsWith(argv[i], "--screenshot=", &v)) o.screenshot = v;
    else if (startsWith(argv[i], "--screenshot-delay=", &v)) o.screenshotDelay = std::atoi(v);
    else if (std::strcmp(argv[i], "--timing") == 0) o.timing = true;
  }
  if (o.splashMs < 0) o.splashMs = 0;
  return o;
}

bool haveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0 && std::strncmp(platform, "wayland", 7) != 0)
    return true;  // offscreen, vnc, ...: the platform plugin brings its own screen
  return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
         (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

// Clicks the category whose id is id, unfolding the nodes above it first.
void clickCategory(main_window::frmeq& w, const std::string& id) {
  data::skipOnError("clickCategory: click", [&] {
    platform::VSFlexGrid& g = w.Grid1(0);
    const int row = data::rowWithId(g, id);
    if (row < 0) {
      std::fprintf(stderr, "velmora: no category with id %s\n", id.c_str());
      return;
    }
    int level = g.RowOutlineLevel(row);
    for (int r = row - 1; r >= g.FixedRows() && level > 1; --r) {
      if (g.IsSubtotal(r) && g.RowOutlineLevel(r) < level) {
        g.setIsCollapsed(r, false);
        level = g.RowOutlineLevel(r);
      }
    }
    g.setRow(row);
    if (platform::GridView* view = w.Grid1View(0)) view->showRow(row);
    g.fireClick();
  });
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
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
  platform::installQtMessageBoxes();
  if (platform::applicationTitle().empty()) platform::setApplicationTitle("Velmora");
  price_windows::installImportProgress();

  // The window's controls (and with them the page engine) are made while the
  // splash shows; its load step runs when the splash hands over.
  main_window::frmeq* window = nullptr;
  auto makeWindow = [&] {
    if (window) return;
    window = new main_window::frmeq(main_window::programHooks(platform::webEngineBrowserFactory()));
    window->setAttribute(Qt::WA_DeleteOnClose);
    price_windows::attachCommandBand(*window);
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
    if (!options.clickCategory.empty()) {
      QTimer::singleShot(300, window, [&options, window] {
        QElapsedTimer c;
        c.start();
        clickCategory(*window, options.clickCategory);
        const qint64 handled = c.elapsed();
        window->Grid1View(1)->repaint();
        if (options.timing)
          std::fprintf(stderr, "velmora: category click listed %d products and sent the page in %lld ms, drawn at %lld ms\n",
                       window->Grid1(1).Rows() - 3, (long long)handled, (long long)c.elapsed());
        if (options.clickProduct >= 0) {
          data::skipOnError("scripted run: product click", [&] {
            platform::VSFlexGrid& g = window->Grid1(1);
            const int row = g.FixedRows() + options.clickProduct;
            if (row >= g.Rows()) return;
            g.setRow(row);
            g.fireClick();
          });
        }
      });
    }
    if (!options.screenshot.empty()) {
      QTimer::singleShot(options.screenshotDelay, window, [&options, window] {
        QPixmap shot;
        if (QScreen* s = window->screen()) shot = s->grabWindow(window->winId());
        if (shot.isNull()) shot = window->grab();
        bool ok = shot.save(QString::fromStdString(options.screenshot), "PNG");
        std::fprintf(stderr, ok ? "velmora: screenshot saved to %s\n" : "velmora: could not save %s\n",
                     options.screenshot.c_str());
        window->close();
      });
    }
  };
  auto* splash = new main_window::Frmgy(showMain, options.splashMs);
  splash->show();
  QTimer::singleShot(0, splash, makeWindow);
  return app.exec();
}
