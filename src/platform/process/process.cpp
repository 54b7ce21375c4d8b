#include "platform/process/process.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>


#include "platform/process/this_process.h"

namespace platform {

namespace {

const QByteArray kCloseRequest = "close\n";

QString channel(const std::string& caption) { return QString::fromStdString(closeChannelName(caption)); }

// Connects to the listener of caption; nullptr-like (unconnected) socket when none.
bool connectTo(QLocalSocket& socket, const std::string& caption, int timeoutMs) {
  socket.connectToServer(channel(caption));
  return socket.waitForConnected(timeoutMs);
}

}  // namespace

std::string closeChannelName(const std::string& caption) {
  QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(caption), QCryptographicHash::Sha256).toHex();
  // The user's key keeps the programs of two users on one machine apart.
  return "velmora-close-" + userKey() + "-" + hash.left(24).toStdString();
}

struct CloseRequestListener::Impl {
  QLocalServer server;
  std::function<void()> onClose;
  bool listening = false;
};

CloseRequestListener::CloseRequestListener(const std::string& caption, std::function<void()> onClose)
    : impl_(std::make_unique<Impl>()) {
  impl_->onClose = std::move(onClose);
  const QString name = channel(caption);
  impl_->server.setSocketOptions(QLocalServer::UserAccessOption);
  // One program per caption: a live listener keeps the channel. A channel left
  // behind by a program that ended without closing it is taken over.
  QLocalSocket probe;
  if (!connectTo(probe, caption, 200)) {
    QLocalServer::removeServer(name);
    impl_->listening = impl_->server.listen(name);
  }
  Impl* impl = impl_.get();
  QObject::connect(&impl->server, &QLocalServer::newConnection, &impl->server, [impl] {
    while (QLocalSocket* socket = impl->server.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [impl, socket] {
        // Only whole requests count; anything else on the channel is ignored.
        while (socket->canReadLine()) {
          const QByteArray line = socket->readLine(64);
          if (!line.endsWith('\n')) {
            // A line longer than any request: its last piece must not pass
            // for one.
            socket->abort();
            return;
          }
          if (line == kCloseRequest && impl->onClose) {
            // Run the close after this handler has returned: closing may
            // destroy the listener, and with it this socket.
            QMetaObject::invokeMethod(
                &impl->server, [impl] { impl->onClose(); }, Qt::QueuedConnection);
            return;
          }
        }
        if (socket->bytesAvailable() > 64) socket->abort();
      });
    }
  });
}

CloseRequestListener::~CloseRequestListener() = default;

bool CloseRequestListener::listening() const { return impl_->listening; }

bool requestClose(const std::string& caption) {
  QLocalSocket socket;
  if (!connectTo(socket, caption, 1000)) return false;
  socket.write(kCloseRequest);
  const bool written = socket.waitForBytesWritten(1000);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(200);
  return written;
}

bool isListening(const std::string& caption) {
  QLocalSocket socket;
  const bool connected = connectTo(socket, caption, 200);
  if (connected) socket.abort();
  return connected;
}

bool waitUntilClosed(const std::string& caption, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (isListening(caption)) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

bool startProgram(const std::string& path, bool hidden) {
  const QString program = QString::fromStdString(path);
  QFileInfo info(program);
  if (!info.isFile() || !info.isExecutable()) return false;
  QProcess process;
  process.setProgram(info.absoluteFilePath());
  process.setWorkingDirectory(info.absolutePath());
  if (hidden) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELMORA_START_HIDDEN", "1");
    process.setProcessEnvironment(env);
  }
  return process.startDetached();
}

bool shellOpen(const std::string& path, bool hidden) {
  QFileInfo info(QString::fromStdString(path));
  if (!info.isFile()) return false;
  if (info.isExecutable()) return startProgram(path, hidden);
  return QProcess::startDetached("xdg-open", {info.absoluteFilePath()});
}

}  // namespace platform
