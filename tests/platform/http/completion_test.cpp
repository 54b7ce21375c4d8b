// The updater's platform pieces: unpacking, the close request between the
// programs, and the HTTP transfer against a server on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/http/http_transfer.h"
#include "platform/process/process.h"
#include "platform/zip/unzip.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "updater/install.h"

using testsupport::ProgramFolder;
using testsupport::ZipEntry;
namespace fs = std::filesystem;

namespace {

QCoreApplication& app() {
  static int argc = 1;
  static char name[] = "platform_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* instance = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)instance;
  return *QCoreApplication::instance();
}

// Runs the event loop until done() or the time is up.
bool spinUntil(const std::function<bool()>& done, int ms = 10000) {
  app();
  return testsupport::spinUntil(done, ms);
}

struct Fetch {
  platform::InetState state{};
  bool done = false;
  bool responded = false;
  std::string body;
};

Fetch fetch(const std::string& url, int timeoutMs = 5000) {
  app();
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

TEST(Unzip, ExtractsIntoTheFolderAndRefusesEscapes) {
  ProgramFolder folder;
  const std::string zip = folder / "a.zip";
  testsupport::makeZip(zip, {{ZipEntry::Folder, "docs/", ""},
                             {ZipEntry::File, "docs/readme.txt", "hello"},
                             {ZipEntry::File, "top.bin", std::string(100000, 'x')},
                             {ZipEntry::File, "win\\style.txt", "w"}});
  fs::create_directories(folder / "dest");
  auto r = platform::unzipArchive(zip, folder / "dest");
  EXPECT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(testsupport::readFile(folder / "dest/docs/readme.txt"), "hello");
  EXPECT_EQ(testsupport::readFile(folder / "dest/top.bin").size(), 100000u);
  EXPECT_EQ(testsupport::readFile(folder / "dest/win/style.txt"), "w");

  // Every kind of escape refuses the whole archive; nothing of it is written.
  const std::vector<std::vector<ZipEntry>> evil = {
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "../evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "a/../../evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "..\\evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "/tmp/evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "c:\\evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::Symlink, "link", "/etc"}},
  };
  int n = 0;
  for (const auto& entries : evil) {
    const std::string path = folder / ("evil" + std::to_string(n) + ".zip");
    const std::string dest = folder / ("out" + std::to_string(n++));
    testsupport::makeZip(path, entries);
    fs::create_directories(dest);
    auto e = platform::unzipArchive(path, dest);
    EXPECT_NE(e.code, 0) << n;
    EXPECT_TRUE(e.refused) << n << " " << e.message;
    EXPECT_FALSE(testsupport::exists(dest + "/ok.txt")) << n;
  }
  EXPECT_FALSE(testsupport::exists(folder / "evil.txt"));

  // A link already in the folder does not lead an entry outside.
  fs::create_directories(folder / "linked");
  fs::create_directory_symlink(folder / "outside", folder / "linked/sub");
  fs::create_directories(folder / "outside");
  testsupport::makeZip(folder / "l.zip", {{ZipEntry::File, "sub/x.txt", "x"}});
  EXPECT_NE(platform::unzipArchive(folder / "l.zip", folder / "linked").code, 0);
  EXPECT_FALSE(testsupport::exists(folder / "outside/x.txt"));

  // Not an archive, or a truncated one.
  testsupport::writeFile(folder / "junk.zip", "<html>error</html>");
  EXPECT_NE(platform::unzipArchive(folder / "junk.zip", folder / "dest").code, 0);
  const std::string whole = testsupport::readFile(zip);
  testsupport::writeFile(folder / "cut.zip", whole.substr(0, whole.size() / 2));
  EXPECT_NE(platform::unzipArchive(folder / "cut.zip", folder / "dest").code, 0);
  EXPECT_NE(platform::unzipArchive(folder / "missing.zip", folder / "dest").code, 0);
}

TEST(Unzip, CopyfileDeletesTheArchiveOnlyWhenEverythingWasExtracted) {
  ProgramFolder folder;
  testsupport::makeZip(folder / "good.zip", {{ZipEntry::File, "a.txt", "a"}});
  EXPECT_EQ(updater::copyfile(folder.path(), folder / "good.zip").code, 0);
  EXPECT_FALSE(testsupport::exists(folder / "good.zip"));
  EXPECT_TRUE(testsupport::exists(folder / "a.txt"));
  testsupport::writeFile(folder / "bad.zip", "PK not really");
  EXPECT_NE(updater::copyfile(folder.path(), folder / "bad.zip").code, 0);
  EXPECT_TRUE(testsupport::exists(folder / "bad.zip"));
  EXPECT_NE(updater::copyfile(folder.path(), folder / "none.zip").code, 0);
}

TEST(CloseRequest, ReachesTheListenerOfThatCaptionOnly) {
  app();
  const std::string caption = "Velmora 测试 " + std::to_string(::getpid());
  EXPECT_FALSE(platform::isListening(caption));
  EXPECT_FALSE(platform::requestClose(caption));
  int closes = 0, others = 0;
  {
    platform::CloseRequestListener listener(caption, [&] { ++closes; });
    platform::CloseRequestListener other(caption + "x", [&] { ++others; });
    ASSERT_TRUE(listener.listening());
    EXPECT_TRUE(platform::isListening(caption));
    EXPECT_TRUE(platform::requestClose(caption));
    EXPECT_TRUE(spinUntil([&] { return closes == 1; }, 3000));
    // A second program under the same caption does not steal the channel.
    platform::CloseRequestListener second(caption, [] {});
    EXPECT_FALSE(second.listening());
  }
  EXPECT_EQ(others, 0);
  EXPECT_FALSE(platform::isListening(caption));
  EXPECT_TRUE(platform::waitUntilClosed(caption, 100));
  // A program that ends its listener from the close handler (as a window that
  // closes does) must not be read from afterwards.
  std::unique_ptr<platform::CloseRequestListener> owned;
  owned = std::make_unique<platform::CloseRequestListener>(caption, [&] { owned.reset(); });
  ASSERT_TRUE(owned->listening());
  EXPECT_TRUE(platform::requestClose(caption));
  EXPECT_TRUE(spinUntil([&] { return owned == nullptr; }, 3000));
  EXPECT_NE(platform::closeChannelName("a"), platform::closeChannelName("b"));
  EXPECT_EQ(platform::closeChannelName("a").find('/'), std::string::npos);
}

TEST(HttpTransfer, CompletesOnlyWholeSuccessfulResponses) {
  app();
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
