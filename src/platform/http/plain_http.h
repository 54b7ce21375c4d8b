#pragma once
// A plain-text HTTP/1.1 GET on one socket in the calling thread's event loop:
// the body goes from the socket straight to the caller, with one copy and no
// hand-over between threads. Used for http addresses; https goes through Qt's
// network access manager.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

  PlainHttpGet(QObject* parent = nullptr);
  ~PlainHttpGet() override;

  // host: a name or an address; target: path and query ("/a/b?c").
  void start(const std::string& host, int port, const std::string& target, int timeoutMs, Callbacks callbacks);
  void stop();

 private:
  void connectTo(const std::vector<std::string>& addresses);
  void onWritable();
  void onReadable();
  bool consume(const char* data, size_t size);  // false: ended
  bool parseHead();
  bool body(const char* data, size_t size);
  void end(bool ok, const std::string& error);
  void closeSocket();
  void touch() { timer_.start(); }

  Callbacks cb_;
  std::string host_, target_;
  int port_ = 80;
  int fd_ = -1;
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
