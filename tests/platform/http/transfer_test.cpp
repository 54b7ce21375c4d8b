// The HTTP transfer against hostile and unusual servers on 127.0.0.1: the
// Content-Length rule, ceilings, the minimum speed, every address of a host
// name, and the https path with its certificate check and redirects.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/http/http_transfer.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "support/tls_server.h"

using platform::InetState;

namespace {

bool spinUntil(const std::function<bool()>& done, int ms = 20000) {
  return testsupport::spinUntil(done, ms);
}

struct Fetch {
  InetState state{};
  bool done = false;
  bool responded = false;
  int64_t expected = -1;  // contentLength() when the response arrived
  std::string body;
  std::string error;
};

// One GET; configure() adjusts the transfer before it starts.
Fetch fetch(const std::string& url, const std::function<void(platform::HttpTransfer&)>& configure = {}) {
  testsupport::coreApp();
  platform::HttpTransfer t;
  t.setUrl(url);
  t.setTimeoutMs(5000);
  if (configure) configure(t);
  Fetch f;
  t.execute({[&] {
               f.responded = true;
               f.expected = t.contentLength();
             },
             [&](std::string_view b) { f.body.append(b); },
             [&](InetState s) {
               f.state = s;
               f.done = true;
             }});
  EXPECT_TRUE(spinUntil([&] { return f.done; })) << url;
  f.error = t.errorText();
  return f;
}

testhttp::Route plain(const std::string& body) {
  testhttp::Route r;
  r.body = body;
  return r;
}

}  // namespace

TEST(ContentLength, LeadingDigitsNoneGivesZeroAndHugeSaturates) {
  EXPECT_EQ(platform::contentLengthValue("1536"), 1536);
  EXPECT_EQ(platform::contentLengthValue("  2048 bytes"), 2048);
  EXPECT_EQ(platform::contentLengthValue("12abc"), 12);
  EXPECT_EQ(platform::contentLengthValue("abc"), 0);
  EXPECT_EQ(platform::contentLengthValue(""), 0);
  EXPECT_EQ(platform::contentLengthValue("-5"), 0);
  EXPECT_EQ(platform::contentLengthValue("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(platform::contentLengthValue("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(platform::contentLengthValue("9223372036854775808"), INT64_MAX);
}

TEST(HttpTransfer, ExpectedSizeAndCeilingOnThePlainPath) {
  testhttp::Server server;
  const std::string body(5000, 'b');
  testhttp::Route words = plain(body);
  words.rawContentLength = "5000 bytes";  // not a frame: the body runs to the close
  server.set("/words", words);
  testhttp::Route none = plain(body);
  none.contentLength = false;
  server.set("/none", none);
  testhttp::Route hostile = plain(body);
  hostile.rawContentLength = "99999999999999999999";
  server.set("/hostile", hostile);
  testhttp::Route endless;
  endless.endless = true;
  server.set("/endless", endless);

  Fetch w = fetch(server.url("/words"));
  EXPECT_EQ(w.state, InetState::ResponseCompleted) << w.error;
  EXPECT_EQ(w.expected, 5000);
  EXPECT_EQ(w.body, body);
  Fetch n = fetch(server.url("/none"));
  EXPECT_EQ(n.state, InetState::ResponseCompleted);
  EXPECT_EQ(n.expected, 0);

  auto ceiling = [](int64_t bytes) { return [bytes](platform::HttpTransfer& t) { t.setMaxBytes(bytes); }; };
  // A declared size above the ceiling fails before any byte is handed over.
  Fetch h = fetch(server.url("/hostile"), ceiling(1 << 20));
  EXPECT_EQ(h.state, InetState::RequestFailed);
  EXPECT_FALSE(h.responded);
  EXPECT_TRUE(h.body.empty());
  EXPECT_EQ(fetch(server.url("/words"), ceiling(4999)).state, InetState::RequestFailed);
  EXPECT_EQ(fetch(server.url("/words"), ceiling(5000)).state, InetState::ResponseCompleted);
  // A body that never ends stops at the ceiling; nothing past it is handed over.
  Fetch e = fetch(server.url("/endless"), ceiling(3 << 20));
  EXPECT_EQ(e.state, InetState::RequestFailed);
  EXPECT_LE(e.body.size(), size_t{3} << 20);
  EXPECT_NE(e.error.find("larger"), std::string::npos) << e.error;
}

TEST(HttpTransfer, ATrickleBelowTheMinimumSpeedFails) {
  testhttp::Server server;
  testhttp::Route trickle;
  trickle.endless = true;  // one byte every 100 ms: never idle long enough for the time-out
  trickle.chunkSize = 1;
  trickle.delayMsPerChunk = 100;
  server.set("/trickle", trickle);
  server.set("/small", plain("tiny"));
  Fetch f = fetch(server.url("/trickle"), [](platform::HttpTransfer& t) { t.setMinimumSpeed(1000, 800); });
  EXPECT_EQ(f.state, InetState::RequestFailed);
  EXPECT_TRUE(f.responded);
  EXPECT_NE(f.error.find("slower"), std::string::npos) << f.error;
  // A response shorter than one window's minimum is not judged by it.
  EXPECT_EQ(fetch(server.url("/small"), [](platform::HttpTransfer& t) { t.setMinimumSpeed(1000, 800); }).state,
            InetState::ResponseCompleted);
}

TEST(HttpTransfer, EveryAddressOfAHostNameIsTriedInTurn) {
  testhttp::Server server;  // listens on 127.0.0.1 only
  server.set("/x", plain("reached"));
  const std::string url = "http://updates.test:" + std::to_string(server.port()) + "/x";
  auto resolve = [](std::vector<std::string> addresses) {
    return [addresses](platform::HttpTransfer& t) {
      t.setResolver([addresses](const std::string& host) {
        return host == "updates.test" ? addresses : std::vector<std::string>{};
      });
    };
  };
  // The first addresses refuse (nothing listens there); the last one answers.
  Fetch f = fetch(url, resolve({"127.0.0.2", "::1", "127.0.0.1"}));
  EXPECT_EQ(f.state, InetState::ResponseCompleted) << f.error;
  EXPECT_EQ(f.body, "reached");
  EXPECT_EQ(fetch(url, resolve({"127.0.0.2"})).state, InetState::RequestFailed);
  EXPECT_EQ(fetch(url, resolve({})).state, InetState::RequestFailed);  // unknown name
  // The system's own lookup of a name.
  Fetch local = fetch("http://localhost:" + std::to_string(server.port()) + "/x");
  EXPECT_EQ(local.state, InetState::ResponseCompleted) << local.error;
  EXPECT_EQ(local.body, "reached");
}

TEST(HttpTransfer, HttpsChecksTheCertificateFollowsSafeRedirectsAndKeepsTheBounds) {
  testsupport::coreApp();
  testhttps::Server tls;
  testhttp::Server server;
  const std::string body(70000, 's');
  tls.set("/ok", testhttps::route(200, body));
  tls.set("/moved", testhttps::route(302, "", tls.url("/ok")));
  tls.set("/relative", testhttps::route(301, "", "/moved"));
  tls.set("/down", testhttps::route(302, "", server.url("/ok")));  // to plain http: refused
  tls.set("/missing", testhttps::route(404, "<html>not here</html>"));
  tls.set("/words", testhttps::route(200, body, "", "70000 bytes"));
  tls.set("/none", testhttps::route(200, body, "", ""));
  tls.set("/hostile", testhttps::route(200, body, "", "99999999999999999999"));
  tls.set("/endless", testhttps::route(200, "", "", "", true));
  server.set("/ok", plain("plain"));
  testhttp::Route up;
  up.status = 302;
  up.location = tls.url("/ok");
  server.set("/up", up);

  auto trusting = [&tls](int64_t ceiling = INT64_MAX) {
    return [&tls, ceiling](platform::HttpTransfer& t) {
      t.addTrustedCertificates(tls.certificatePem());
      t.setMaxBytes(ceiling);
    };
  };
  // Verification is on: the test certificate is refused until trusted.
  Fetch untrusted = fetch(tls.url("/ok"));
  EXPECT_EQ(untrusted.state, InetState::RequestFailed);
  EXPECT_TRUE(untrusted.body.empty());

  Fetch ok = fetch(tls.url("/ok"), trusting());
  EXPECT_EQ(ok.state, InetState::ResponseCompleted) << ok.error;
  EXPECT_TRUE(ok.body == body);
  EXPECT_EQ(ok.expected, 70000);
  Fetch moved = fetch(tls.url("/relative"), trusting());
  EXPECT_EQ(moved.state, InetState::ResponseCompleted) << moved.error;
  EXPECT_TRUE(moved.body == body);
  Fetch upgraded = fetch(server.url("/up"), trusting());
  EXPECT_EQ(upgraded.state, InetState::ResponseCompleted) << upgraded.error;
  EXPECT_TRUE(upgraded.body == body);
  Fetch down = fetch(tls.url("/down"), trusting());
  EXPECT_EQ(down.state, InetState::RequestFailed);
  EXPECT_TRUE(down.body.empty());
  Fetch missing = fetch(tls.url("/missing"), trusting());
  EXPECT_EQ(missing.state, InetState::RequestFailed);
  EXPECT_FALSE(missing.responded);

  // The same Content-Length rule and ceilings as plain http.
  Fetch none = fetch(tls.url("/none"), trusting());
  EXPECT_EQ(none.state, InetState::ResponseCompleted) << none.error;
  EXPECT_EQ(none.expected, 0);
  Fetch words = fetch(tls.url("/words"), trusting());
  EXPECT_EQ(words.state, InetState::ResponseCompleted) << words.error;
  EXPECT_EQ(words.expected, 70000);
  Fetch hostile = fetch(tls.url("/hostile"), trusting(1 << 20));
  EXPECT_EQ(hostile.state, InetState::RequestFailed);
  EXPECT_FALSE(hostile.responded);
  EXPECT_EQ(fetch(tls.url("/ok"), trusting(69999)).state, InetState::RequestFailed);
  Fetch endless = fetch(tls.url("/endless"), trusting(3 << 20));
  EXPECT_EQ(endless.state, InetState::RequestFailed);
  EXPECT_LE(endless.body.size(), size_t{3} << 20);
  EXPECT_NE(endless.error.find("larger"), std::string::npos) << endless.error;
}
