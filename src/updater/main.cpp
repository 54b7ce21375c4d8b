// Quennar, the updater of Velmora.
#include <QApplication>
#include <QTimer>

#include "platform/messagebox/messagebox.h"
#include "platform/messagebox/messagebox_qt.h"
#include "updater/frmsoftup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("Quennar");
  app.setQuitOnLastWindowClosed(false);  // the run decides when it ends
  platform::setApplicationTitle("Ostravel");
  platform::installQtMessageBoxes();
  updater::Frmsoftup window;
  window.run().setEndProgram([] { QCoreApplication::exit(0); });
  // The load step runs inside the event loop, so that a run ending at once
  // still leaves it.
  QTimer::singleShot(0, &window, [&window] { window.run().load(); });
  return app.exec();
}
