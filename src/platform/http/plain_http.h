#pragma once
// A plain-text HTTP/1.1 GET on one socket in the calling thread's event loop:
// the body goes from the socket straight to the caller, with one copy and no
// hand-over between threads. Used for http addresses; https goes through Qt's
// network access manager. The socket calls themselves are in socket_io.h.
//
// A host name is looked up and every address it resolves to is tried in turn
// until one accepts the connection; an address that refuses, or that does not
// answer within the time-out, passes the turn to the next one.
//
// The body's end: a Content-Length of digits only gives its length; chunked
// encoding gives its chunks; otherwise (no length, or one that is not a plain
// number) the body runs until the server closes the connection.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http/socket_io.h"

class QSocketNotifier;

namespace platform {

class PlainHttpGet : public QObject {
  Q_OBJECT

 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;
  struct Callbacks {
    // Status and headers; false stops the request (no further report).
    std::function<bool(int status, const Headers& headers)> onHeaders;
    std::function<void(std::string_view)> onData;
    // The end: ok, or the reason of the failure. Not called after a stop.
    std::function<void(bool ok, const std::string& error)> onEnd;
  };
  // Numeric addresses of a host name, in the order to try them; empty when the
  // name is unknown.
  using Resolver = std::function<std::vector<std::string>(const std::string& host)>;

  PlainHttpGet(QObject* parent = nullptr);
  ~PlainHttpGet() override;

  // Replaces the system's name lookup (for tests); an empty resolver restores it.
  void setResolver(Resolver resolver) { resolver_ = std::move(resolver); }

  // host: a name or an address; target: path and query ("/a/b?c").
  // timeoutMs: how long the connection to one address, and any pause of the
  // response, may last.
  void start(const std::string& host, int port, const std::string& target, int timeoutMs, Callbacks callbacks);
  void stop();

 private:
  void connectTo(std::vector<std::string> addresses);
  void connectNext(const std::string& lastError);
  void onWritable();
  void onReadable();
  void onTimeout();
  bool consume(const char* data, size_t size);  // false: ended
  bool parseHead();
  bool body(const char* data, size_t size);
  void end(bool ok, const std::string& error);
  void closeSocket();
  void touch() { timer_.start(); }

  Callbacks cb_;
  Resolver resolver_;
  std::string host_, target_;
  int port_ = 80;
  net::SocketHandle socket_ = net::kNoSocket;
  std::vector<std::string> addresses_;
  size_t nextAddress_ = 0;
  QSocketNotifier* readNotifier_ = nullptr;
  QSocketNotifier* writeNotifier_ = nullptr;
  QTimer timer_;
  std::string request_;
  size_t sent_ = 0;
  bool connected_ = false;
  bool inHead_ = true;
  std::string head_;
  std::optional<int64_t> length_;
  int64_t received_ = 0;
  bool chunked_ = false;
  // chunked decoding
  enum class Chunk { Size, Data, DataEnd, Trailer } chunk_ = Chunk::Size;
  std::string chunkLine_;
  int64_t chunkLeft_ = 0;
  std::vector<char> buffer_;
  unsigned lookupId_ = 0;
  bool active_ = false;
};

}  // namespace platform
