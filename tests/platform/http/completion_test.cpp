// The HTTP transfer against a server on 127.0.0.1 completes only whole,
// successful responses, and keeps the event loop running while it streams.
#include <gtest/gtest.h>

#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/http/http_transfer.h"
#include "support/test_server.h"
#include "support/test_support.h"

namespace {

// Runs the event loop until done() or the time is up.
bool spinUntil(const std::function<bool()>& done, int ms = 10000) {
  return testsupport::spinUntil(done, ms);
}

struct Fetch {
  platform::InetState state{};
  bool done = false;
  bool responded = false;
  std::string body;
};

Fetch fetch(const std::string& url, int timeoutMs = 5000) {
  testsupport::coreApp();
  platform::HttpTransfer t;
  t.setUrl(url);
  t.setTimeoutMs(timeoutMs);
  Fetch f;
  t.execute({[&] { f.responded = true; }, [&](std::string_view b) { f.body.append(b); },
             [&](platform::InetState s) {
               f.state = s;
               f.done = true;
             }});
  EXPECT_TRUE(spinUntil([&] { return f.done; }, 20000)) << url;
  return f;
}

}  // namespace

TEST(HttpTransfer, CompletesOnlyWholeSuccessfulResponses) {
  testsupport::coreApp();
  testhttp::Server server;
  const std::string body(300000, 'b');
  auto route = [&body](auto change) {
    testhttp::Route r;
    r.body = body;
    change(r);
    return r;
  };
  server.set("/ok", route([](auto&) {}));
  server.set("/500", route([](auto& r) { r.status = 500; }));
  server.set("/nolength", route([](auto& r) { r.contentLength = false; }));
  server.set("/truncated", route([](auto& r) { r.sendBytes = 1000; }));
  server.set("/slow", route([](auto& r) {
    r.delayMsPerChunk = 100;
    r.chunkSize = 1000;
  }));
  server.set("/stall", route([](auto& r) { r.delayBeforeHeadersMs = 1500; }));
  server.set("/chunked", route([](auto& r) {
    r.chunked = true;
    r.chunkSize = 7777;
  }));
  server.set("/chunked-cut", route([](auto& r) {
    r.chunked = true;
    r.sendBytes = 50000;
  }));
  server.set("/moved", route([&server](auto& r) {
    r.status = 302;
    r.body = "moved";
    r.location = server.url("/ok");
  }));
  server.set("/relative", route([](auto& r) {
    r.status = 301;
    r.body = "";
    r.location = "/moved";
  }));
  server.set("/loop", route([](auto& r) {
    r.status = 302;
    r.body = "";
    r.location = "/loop";
  }));

  Fetch ok = fetch(server.url("/ok"));
  EXPECT_EQ(ok.state, platform::InetState::ResponseCompleted);
  EXPECT_TRUE(ok.body == body) << ok.body.size();

  Fetch missing = fetch(server.url("/missing"));
  EXPECT_EQ(missing.state, platform::InetState::RequestFailed);
  EXPECT_FALSE(missing.responded);
  EXPECT_TRUE(missing.body.empty());  // the error page is never handed over
  EXPECT_EQ(fetch(server.url("/500")).state, platform::InetState::RequestFailed);

  Fetch nolength = fetch(server.url("/nolength"));
  EXPECT_EQ(nolength.state, platform::InetState::ResponseCompleted);
  EXPECT_TRUE(nolength.body == body) << nolength.body.size();

  EXPECT_EQ(fetch(server.url("/truncated")).state, platform::InetState::RequestFailed);

  Fetch chunked = fetch(server.url("/chunked"));
  EXPECT_EQ(chunked.state, platform::InetState::ResponseCompleted);
  EXPECT_TRUE(chunked.body == body) << chunked.body.size();
  EXPECT_EQ(fetch(server.url("/chunked-cut")).state, platform::InetState::RequestFailed);

  // Redirects are followed (absolute and relative); a loop ends as a failure.
  Fetch moved = fetch(server.url("/relative"));
  EXPECT_EQ(moved.state, platform::InetState::ResponseCompleted);
  EXPECT_TRUE(moved.body == body);
  EXPECT_EQ(fetch(server.url("/loop")).state, platform::InetState::RequestFailed);
  EXPECT_EQ(fetch(server.url("/stall"), 500).state, platform::InetState::RequestFailed);
  EXPECT_EQ(fetch("file:///etc/passwd").state, platform::InetState::RequestFailed);
  EXPECT_EQ(fetch("not an address").state, platform::InetState::RequestFailed);
  // A blank in a file name is sent escaped instead of failing the request.
  server.set("/new%20file.bin", route([](auto& r) { r.body = "blank"; }));
  Fetch blank = fetch(server.url("/new file.bin"));
  EXPECT_EQ(blank.state, platform::InetState::ResponseCompleted);
  EXPECT_EQ(blank.body, "blank");
  EXPECT_EQ(fetch("http://127.0.0.1:1/x").state, platform::InetState::RequestFailed);

  // A slow body keeps the event loop running: timers fire during the transfer.
  platform::HttpTransfer t;
  t.setUrl(server.url("/slow"));
  int ticks = 0;
  bool done = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(100);
  t.execute({nullptr, nullptr, [&](platform::InetState) { done = true; }});
  EXPECT_TRUE(spinUntil([&] { return ticks >= 5; }, 5000));
  EXPECT_FALSE(done);
  t.cancel();  // abandoned: no report follows
  spinUntil([] { return false; }, 300);
  EXPECT_FALSE(done);
  EXPECT_FALSE(t.busy());
}
