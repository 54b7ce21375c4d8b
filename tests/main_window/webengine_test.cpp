// The browser control on the real engine: a local GBK page, a missing file, an
// unreachable address, a page asking for a new window and a page closing its
// window. Needs a display (the suite runs under xvfb-run).
#include "common/cp936.h"
#include "platform/browser/webengine_browser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fstream>

namespace {

QApplication* engineApp() {
  static QApplication* app = [] {
    // ctest asks for the offscreen platform; the engine wants the display.
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    platform::prepareWebEngine();
    static int argc = 1;
    static char name[] = "webengine_test";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv);
    platform::configureWebEngine();
    return a;
  }();
  return app;
}

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QTest::qWait(20);
  return done();
}

std::string rootText(platform::WebBrowser& b) {
  auto doc = b.documentAll();
  return doc && !doc->empty() ? doc->front() : std::string();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(WebEngineBrowser, AddressesAsTheSystemsBrowserReadsThem) {
  auto url = [](const std::string& a) { return platform::browserUrl(a).toString().toStdString(); };
  EXPECT_EQ(url("http://price.example.com/vosk\\web\\a.htm"), "http://price.example.com/vosk/web/a.htm");
  EXPECT_EQ(url("/opt/v/web/Orvanta.htm"), "file:///opt/v/web/Orvanta.htm");
  EXPECT_EQ(url(""), "about:blank");
  // A service address configured without its scheme still reaches the server.
  EXPECT_EQ(url("price.example.com/vosk\\web\\a.htm"), "http://price.example.com/vosk/web/a.htm");
  EXPECT_EQ(url("price.example.com:8080/vosk"), "http://price.example.com:8080/vosk");
  EXPECT_EQ(url("localhost:8080/vosk"), "http://localhost:8080/vosk");
  // No service address at all: "/vosk" + the page is a (missing) local file.
  EXPECT_EQ(url("/vosk\\web\\a.htm"), "file:///vosk/web/a.htm");
}

TEST(WebEngineBrowser, LoadsLocalGbkPagesAndShowsItsOwnErrorPages) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display; the suite runs this under xvfb-run";
  engineApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  // A page without a charset declaration, in GBK as the vendor's pages are.
  writeFile(folder + "/gbk.htm", common::toCp936("<html><head><title>价格</title></head><body><p>螺纹钢 HRB400</p></body></html>"));
  writeFile(folder + "/opens.htm", "<html><body><script>window.open('gbk.htm');</script>x</body></html>");
  writeFile(folder + "/closes.htm", "<html><body><script>setTimeout(function(){window.close();}, 50);</script>y</body></html>");

  auto browser = platform::webEngineBrowserFactory()(nullptr);
  browser->widget()->resize(400, 300);
  browser->widget()->show();
  std::string completed;
  browser->DocumentComplete = [&](const std::string& a) { completed = a; };

  // Local page, addressed as a plain path.
  browser->Navigate(folder + "/gbk.htm");
  EXPECT_FALSE(browser->documentAll()) << "no document while the page is on its way";
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_EQ(completed, folder + "/gbk.htm");
  EXPECT_NE(rootText(*browser).find("螺纹钢 HRB400"), std::string::npos) << rootText(*browser);
  EXPECT_NE(rootText(*browser).find("<body>"), std::string::npos);

  // A missing local file, addressed with Windows separators.
  completed.clear();
  browser->Navigate(folder + "\\missing\\nothing.htm");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_NE(rootText(*browser).find("无法找到"), std::string::npos) << rootText(*browser);

  // Nothing listens on port 1 of this machine.
  completed.clear();
  browser->Navigate("http://127.0.0.1:1/vosk/web/a.htm");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_NE(rootText(*browser).find("无法显示"), std::string::npos) << rootText(*browser);

  // Banners: a .swf shows the picture of the same name beside it; a banner
  // file that is gone shows the error page.
  writeFile(folder + "/banner1.swf", "FWS");
  writeFile(folder + "/banner1.png", "png");
  completed.clear();
  browser->Navigate(folder + "/banner1.swf");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_NE(rootText(*browser).find("<img src=\"banner1.png\""), std::string::npos) << rootText(*browser);
  completed.clear();
  browser->Navigate(folder + "/gone.swf");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_NE(rootText(*browser).find("无法找到"), std::string::npos) << rootText(*browser);

  // A server's error answers: a missing page and a busy server.
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  QObject::connect(&server, &QTcpServer::newConnection, [&server] {
    while (QTcpSocket* s = server.nextPendingConnection()) {
      QObject::connect(s, &QTcpSocket::readyRead, s, [s] {
        const QByteArray request = s->readAll();
        const bool missing = request.contains("/missing");
        const QByteArray body = missing ? "<html><body>Not Found</body></html>"
                                        : "<html><body><h1>Service Unavailable</h1></body></html>";
        s->write((missing ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 503 Service Unavailable\r\n") +
                 QByteArray("Content-Type: text/html\r\nConnection: close\r\nContent-Length: ") +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
        s->disconnectFromHost();
      });
      QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  const std::string base = "http://127.0.0.1:" + std::to_string(server.serverPort());
  completed.clear();
  browser->Navigate(base + "/vosk\\web\\missing.htm");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  EXPECT_NE(rootText(*browser).find("无法找到"), std::string::npos) << rootText(*browser);
  completed.clear();
  browser->Navigate(base + "/busy.htm");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  const std::string busy = rootText(*browser);
  EXPECT_TRUE(busy.find("无法显示") != std::string::npos || busy.find("Service Unavailable") != std::string::npos)
      << busy;

  // A page asking for a new window: the handler gets the address and keeps
  // the engine from opening one.
  std::string asked;
  browser->NewWindow = [&](const std::string& a, bool& processed) {
    asked = a;
    processed = true;
  };
  browser->Navigate(folder + "/opens.htm");
  ASSERT_TRUE(waitFor([&] { return !asked.empty(); }));
  EXPECT_EQ(asked, folder + "/gbk.htm");

  // A page closing its window.
  bool closing = false;
  browser->WindowClosing = [&](bool, bool&) { closing = true; };
  browser->Navigate(folder + "/closes.htm");
  EXPECT_TRUE(waitFor([&] { return closing; }));
}
