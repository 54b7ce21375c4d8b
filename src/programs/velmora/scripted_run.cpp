#include "programs/velmora/scripted_run.h"

#include "data/browse.h"
#include "data/skip_on_error.h"
#include "main_window/frmeq.h"
#include "main_window/frmgy.h"
#include "price_windows/host.h"
#include "programs/velmora/frmeq_host.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmora {

namespace {

bool startsWith(const char* arg, const char* prefix, const char** rest) {
  size_t n = std::strlen(prefix);
  if (std::strncmp(arg, prefix, n) != 0) return false;
  *rest = arg + n;
  return true;
}

void clickProduct(price_windows::Host& host, int n) {
  data::skipOnError("scripted run: product click", [&] {
    platform::VSFlexGrid& g = host.productGrid();
    const int row = g.FixedRows() + n;
    if (row >= g.Rows()) return;
    g.setRow(row);
    g.fireClick();
  });
}

void saveScreenshot(main_window::frmeq& window, const std::string& file) {
  QPixmap shot;
  if (QScreen* s = window.screen()) shot = s->grabWindow(window.winId());
  if (shot.isNull()) shot = window.grab();
  bool ok = shot.save(QString::fromStdString(file), "PNG");
  std::fprintf(stderr, ok ? "velmora: screenshot saved to %s\n" : "velmora: could not save %s\n", file.c_str());
}

}  // namespace

ScriptedRun parseScriptedRun(int argc, char** argv) {
  ScriptedRun o;
  o.splashMs = main_window::kSplashMs;
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

bool clickCategory(main_window::frmeq& w, const std::string& id) {
  bool found = false;
  data::skipOnError("clickCategory: click", [&] {
    const int tree = data::NavigatorSession::Categories;
    platform::VSFlexGrid& g = w.Grid1(tree);
    int row = -1;
    for (int r = g.FixedRows(); r < g.Rows() && row < 0; ++r)
      if (g.TextMatrix(r, g.Cols() - 1) == id) row = r;
    if (row < 0) {
      std::fprintf(stderr, "velmora: no category with id %s\n", id.c_str());
      return;
    }
    found = true;
    int level = g.RowOutlineLevel(row);
    for (int r = row - 1; r >= g.FixedRows() && level > 1; --r) {
      if (g.IsSubtotal(r) && g.RowOutlineLevel(r) < level) {
        g.setIsCollapsed(r, false);
        level = g.RowOutlineLevel(r);
      }
    }
    g.setRow(row);
    if (platform::GridView* view = w.Grid1View(tree)) view->showRow(row);
    g.fireClick();
  });
  return found;
}

void startScriptedRun(const ScriptedRun& run, main_window::frmeq& window) {
  main_window::frmeq* w = &window;
  if (!run.clickCategory.empty()) {
    QTimer::singleShot(300, w, [&run, w] {
      price_windows::Host& host = FrmeqHost::of(*w);
      QElapsedTimer c;
      c.start();
      clickCategory(*w, run.clickCategory);
      const qint64 handled = c.elapsed();
      if (platform::GridView* view = host.productView()) view->repaint();
      if (run.timing)
        std::fprintf(stderr, "velmora: category click listed %d products and sent the page in %lld ms, drawn at %lld ms\n",
                     host.productGrid().Rows() - price_windows::kNavigatorHeaderRows, (long long)handled,
                     (long long)c.elapsed());
      if (run.clickProduct >= 0) clickProduct(host, run.clickProduct);
    });
  }
  if (!run.screenshot.empty()) {
    QTimer::singleShot(run.screenshotDelay, w, [&run, w] {
      saveScreenshot(*w, run.screenshot);
      w->close();
    });
  }
}

}  // namespace velmora
