#pragma once
// An https server on 127.0.0.1 for the transfer tests, in the test's own event
// loop (QSslServer). Its key and self-signed certificate (for the address
// 127.0.0.1) are made afresh by the openssl command when it starts; a client
// trusts it only when given certificatePem(). Each path answers with a canned
// response; one request per connection.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace testhttps {

struct Route {
  int status = 200;
  std::string body;
  std::string location;                 // a Location header (for redirects)
  std::string contentLength = "<body>";  // the Content-Length text; "" for none
  bool endless = false;                 // the body repeats for ever
};

inline Route route(int status, std::string body, std::string location = {}, std::string contentLength = "<body>",
                   bool endless = false) {
  Route r;
  r.status = status;
  r.body = std::move(body);
  r.location = std::move(location);
  r.contentLength = std::move(contentLength);
  r.endless = endless;
  return r;
}

class Server {
 public:
  Server() {
    QTemporaryDir dir;
    const QString key = dir.filePath("key.pem"), cert = dir.filePath("cert.pem");
    const int rc = QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                                 "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                                                 "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                                 "-keyout", key, "-out", cert});
    if (rc != 0) throw std::runtime_error("openssl could not make a certificate");
    QFile k(key), c(cert);
    k.open(QIODevice::ReadOnly);
    c.open(QIODevice::ReadOnly);
    pem_ = c.readAll().toStdString();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificate(QSslCertificate(QByteArray::fromStdString(pem_), QSsl::Pem));
    conf.setPrivateKey(QSslKey(k.readAll(), QSsl::Ec, QSsl::Pem));
    server_.setSslConfiguration(conf);
    if (!server_.listen(QHostAddress::LocalHost, 0)) throw std::runtime_error("https server cannot listen");
    QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, &server_, [this] {
      while (server_.hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(server_.nextPendingConnection());
        if (!socket) return;
        serve(socket);
      }
    });
  }

  int port() const { return server_.serverPort(); }
  std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port()) + path; }
  const std::string& certificatePem() const { return pem_; }
  void set(const std::string& path, Route route) { routes_[path] = std::move(route); }

 private:
  void serve(QSslSocket* socket) {
    auto request = std::make_shared<QByteArray>();
    QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket, request] {
      request->append(socket->readAll());
      const qsizetype end = request->indexOf("\r\n\r\n");
      if (end < 0 || request->isEmpty()) return;
      const QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
      request->clear();
      const std::string path = line.size() > 1 ? line[1].toStdString() : "/";
      const auto it = routes_.find(path);
      const Route route = it != routes_.end() ? it->second : testhttps::route(404, "<html>not found</html>");
      std::string head = "HTTP/1.1 " + std::to_string(route.status) + " X\r\nConnection: close\r\n";
      if (!route.location.empty()) head += "Location: " + route.location + "\r\n";
      const std::string length = route.contentLength == "<body>" ? std::to_string(route.body.size()) : route.contentLength;
      if (!length.empty()) head += "Content-Length: " + length + "\r\n";
      socket->write((head + "\r\n").c_str());
      if (!route.endless) {
        socket->write(route.body.data(), static_cast<qint64>(route.body.size()));
        socket->disconnectFromHost();  // after what was written has gone
        return;
      }
      // Keep some data queued for as long as the client reads.
      auto more = [socket] {
        if (socket->bytesToWrite() < (256 << 10)) socket->write(QByteArray(64 << 10, 'e'));
      };
      QObject::connect(socket, &QSslSocket::encryptedBytesWritten, socket, more);
      more();
    });
  }

  QSslServer server_;
  std::string pem_;
  std::map<std::string, Route> routes_;
};

}  // namespace testhttps
