#pragma once
// The one QApplication of a test program with windows: made at the first
// call, whichever test of the program comes first, and never destroyed (Qt's
// own globals go first at exit).
#include <QApplication>

namespace testsupport {

inline QApplication& widgetsApp() {
  if (auto* running = qobject_cast<QApplication*>(QCoreApplication::instance())) return *running;
  static int argc = 1;
  static char name[] = "velmora-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace testsupport
