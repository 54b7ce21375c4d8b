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
// completed response. Redirects are followed (at most five; https never goes
// back to http). Plain http runs on one socket in the calling thread
// (PlainHttpGet), https through Qt's network access manager, with the
// system's certificate checks. Needs a running Qt event loop.
//
// Bounds against a server that is not ours: a ceiling on the body (a declared
// length above it fails at once, a body that grows past it fails when it does),
// and a minimum speed (fewer than a given number of body bytes in a window of
// time fails the request), besides the inactivity time-out. No byte past the
// ceiling is handed over.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class InetState { RequestFailed = 11, ResponseCompleted = 12 };

// The number a Content-Length text stands for, read as the transfer control
// read it: blanks skipped, then the leading digits; none gives 0. A number
// too large for 64 bits gives the largest one.
int64_t contentLengthValue(std::string_view text);

// The default minimum speed: at least this many body bytes in each window.
// A 56k modem moves this in a second or two; only a server that holds a
// connection open on purpose stays below it for a minute.
inline constexpr int64_t kDefaultMinimumBytes = 10 * 1024;
inline constexpr int kDefaultSpeedWindowMs = 60000;

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
  // Inactivity time-out: a request during which no byte moves for this long
  // fails; with several addresses for a host, each gets this long to answer.
  void setTimeoutMs(int ms) { timeoutMs_ = ms; }
  // The ceiling of the body in bytes (no ceiling by default).
  void setMaxBytes(int64_t bytes) { maxBytes_ = bytes; }
  // Fewer than bytes of the body in any windowMs from the request on fails it.
  // The last, shorter window of a finished response is not judged.
  void setMinimumSpeed(int64_t bytes, int windowMs) {
    minBytes_ = bytes;
    speedWindowMs_ = windowMs;
  }
  // Replaces the system's host-name lookup of plain http addresses: the
  // addresses to try, in order (for tests; an empty function restores it).
  void setResolver(std::function<std::vector<std::string>(const std::string& host)> resolver);
  // Certificates (PEM text) that https trusts besides the system's own, for a
  // test server's certificate. The checks themselves always run.
  void addTrustedCertificates(const std::string& pem);

  // Starts an HTTP GET of url() (cancelling one under way). Only http and https
  // addresses are fetched; anything else fails at once (state 11, reported from
  // the event loop, not from within this call).
  void execute(Handlers handlers);
  // Abandons the request under way without any further report. May be called
  // from within one of that request's handlers (which then runs to its end).
  void cancel();
  bool busy() const;

  // The text of a response header ("" when absent); the name is not case-sensitive.
  std::string getHeader(const std::string& name) const;
  int statusCode() const;
  // The expected size: contentLengthValue of the Content-Length header, 0 when
  // there is none or the body comes in chunks.
  int64_t contentLength() const;
  int64_t bytesReceived() const;
  // Why the last request failed, for the record.
  std::string errorText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string url_;
  int timeoutMs_ = 30000;
  int64_t maxBytes_ = std::numeric_limits<int64_t>::max();
  int64_t minBytes_ = kDefaultMinimumBytes;
  int speedWindowMs_ = kDefaultSpeedWindowMs;
};

}  // namespace platform
