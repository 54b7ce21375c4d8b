#include "platform/screen/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace platform {

double screenDpi() {
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    if (QScreen* screen = app->primaryScreen()) return screen->logicalDotsPerInch();
  return 96.0;
}

int twipsToPixels(double twips) { return static_cast<int>(std::lround(twips * screenDpi() / 1440.0)); }

double pixelsToTwips(int pixels) { return pixels * 1440.0 / screenDpi(); }

}  // namespace platform
