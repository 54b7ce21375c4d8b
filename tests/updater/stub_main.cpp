// A stand-in for the main program: listens for the close request under the
// caption written in stub.ini next to it, records "started" and "closed" in
// stub.log, and ends when asked to close (or after 30 s). With "stay" as the
// second item of stub.ini it records the request and goes on running, as a
// program that hangs or refuses to close.
#include <QCoreApplication>
#include <QTimer>

#include <fstream>

#include "common/items.h"
#include "platform/process/process.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::string folder = QCoreApplication::applicationDirPath().toStdString();
  const auto items = common::readItemFile(folder + "/stub.ini", 2);
  const std::string caption = items && !items->empty() ? items->front() : "stub";
  const bool stay = items && items->size() > 1 && (*items)[1] == "stay";
  auto record = [&folder](const char* what) {
    std::ofstream log(folder + "/stub.log", std::ios::app);
    log << what << "\n";
  };
  platform::CloseRequestListener listener(caption, [&] {
    record("closed");
    if (!stay) QCoreApplication::quit();
  });
  record(listener.listening() ? "started" : "started-without-channel");
  QTimer::singleShot(30000, &app, &QCoreApplication::quit);
  return app.exec();
}
