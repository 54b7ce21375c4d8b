#pragma once
// One HTTP GET at a time, reported like the Internet Transfer Control the
// programs were written against: a state change 11 when the request failed,
// 12 when the response is complete. Unlike that control the body is not held
// until the end: it is handed over as it arrives (onData), so a large file
// streams to disk with flat memory, and the caller's window keeps running
// because everything happens in the event loop.
//
// A response whose status is not 2xx (an error page), one whose body is shorter
// or longer than its Content-Length, and one that stalls for longer than the
// time-out are failures (state 11); their bodies are never handed over as a
// completed response. Redirects are followed (at most five). Plain http runs
// on one socket in the calling thread (PlainHttpGet), https through Qt's
// network access manager. Needs a running Qt event loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class InetState { RequestFailed = 11, ResponseCompleted = 12 };

class HttpTransfer {
 public:
  struct Handlers {
    // The response's headers have arrived and its status is 2xx; the body follows.
    std::function<void()> onResponse;
    // The next part of the body, in arrival order.
    std::function<void(std::string_view bytes)> onData;
    // The end of the request: RequestFailed or ResponseCompleted. Runs once.
    std::function<void(InetState)> onStateChanged;
  };

  HttpTransfer();
  ~HttpTransfer();
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  void setUrl(const std::string& url) { url_ = url; }
  const std::string& url() const { return url_; }
  // Inactivity time-out: a request during which no byte moves for this long fails.
  void setTimeoutMs(int ms) { timeoutMs_ = ms; }

  // Starts an HTTP GET of url() (cancelling one under way). Only http and https
  // addresses are fetched; anything else fails at once (state 11, reported from
  // the event loop, not from within this call).
  void execute(Handlers handlers);
  // Abandons the request under way without any further report.
  void cancel();
  bool busy() const;

  // The text of a response header ("" when absent); the name is not case-sensitive.
  std::string getHeader(const std::string& name) const;
  int statusCode() const;
  // Content-Length, when the response carried a usable one.
  std::optional<int64_t> contentLength() const;
  int64_t bytesReceived() const;
  // Why the last request failed, for the record.
  std::string errorText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string url_;
  int timeoutMs_ = 30000;
};

}  // namespace platform
