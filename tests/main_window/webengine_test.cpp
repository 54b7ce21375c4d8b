// The browser control on the real engine: a local GBK page, a missing file, an
// unreachable address, a page asking for a new window and a page closing its
// window. Needs a display (the suite runs under xvfb-run).
#include "common/cp936.h"
#include "platform/browser/webengine_browser.h"
#include "service_window/frmline.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdlib>
#include <malloc.h>
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

// Stands in for the desktop's programs: records what would have been opened.
class DesktopRecorder : public QObject {
  Q_OBJECT
 public:
  DesktopRecorder() {
    for (const char* scheme : {"http", "https", "file", "velmora-test", "mailto"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
  }
  ~DesktopRecorder() override {
    for (const char* scheme : {"http", "https", "file", "velmora-test", "mailto"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }
  std::vector<std::string> opened;
 public slots:
  void open(const QUrl& url) { opened.push_back(url.toString().toStdString()); }
};

// A local server: /to-missing and /to-good answer 302 to /missing (404) and
// /good; /busy 503.
class PageServer {
 public:
  PageServer() {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        QObject::connect(s, &QTcpSocket::readyRead, s, [s] { answer(s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  bool listening() const { return server_.isListening(); }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }

 private:
  static void answer(QTcpSocket* s) {
    const QByteArray request = s->readAll();
    const QByteArray path = request.mid(4, request.indexOf(' ', 4) - 4);
    QByteArray status = "200 OK", headers, body;
    if (path == "/to-missing" || path == "/to-good") {
      status = "302 Found";
      headers = "Location: " + QByteArray(path == "/to-missing" ? "/missing" : "/good") + "\r\n";
    } else if (path == "/good") {
      body = "<html><body><p>good page</p></body></html>";
    } else if (path == "/busy") {
      status = "503 Service Unavailable";
      body = "<html><body><h1>Service Unavailable</h1></body></html>";
    } else {
      status = "404 Not Found";
      body = "<html><body>Not Found</body></html>";
    }
    s->write("HTTP/1.1 " + status + "\r\n" + headers +
             "Content-Type: text/html\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
             "\r\n\r\n" + body);
    s->disconnectFromHost();
  }
  QTcpServer server_;
};

// A page that is one link over the whole view, and a click in its middle
// until the page has taken one (the first may come before it is drawn).
std::string linkPage(const std::string& href, const std::string& target) {
  return "<html><body style=\"margin:0\"><a href=\"" + href + "\" target=\"" + target +
         "\" style=\"position:fixed;left:0;top:0;width:100%;height:100%;display:block\">link</a></body></html>";
}

bool clickUntil(platform::WebBrowser& b, const std::function<bool()>& done, int tries = 20) {
  for (int i = 0; i < tries && !done(); ++i) {
    QWidget* target = b.widget()->focusProxy() ? b.widget()->focusProxy() : b.widget();
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    waitFor(done, 500);
  }
  return done();
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

TEST(WebEngineBrowser, TheLoadOfAnAddressEndsWhereItsRedirectLands) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display; the suite runs this under xvfb-run";
  engineApp();
  PageServer server;
  ASSERT_TRUE(server.listening());
  auto browser = platform::webEngineBrowserFactory()(nullptr);
  std::string completed;
  browser->DocumentComplete = [&](const std::string& a) { completed = a; };

  // Redirected to a missing page: the error page, reported for the address asked.
  browser->Navigate(server.base() + "/to-missing");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); })) << "the load after the redirect was not taken";
  EXPECT_EQ(completed, server.base() + "/to-missing");
  EXPECT_NE(rootText(*browser).find("无法找到"), std::string::npos) << rootText(*browser);

  // Redirected to a good page: that page.
  completed.clear();
  browser->Navigate(server.base() + "/to-good");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); })) << "the load after the redirect was not taken";
  EXPECT_NE(rootText(*browser).find("good page"), std::string::npos) << rootText(*browser);
  EXPECT_EQ(browser->locationURL(), server.base() + "/to-good");
}

TEST(WebEngineBrowser, PagesStartNothingButWebAddressesClickedInTheDesktopsBrowser) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display; the suite runs this under xvfb-run";
  engineApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  writeFile(folder + "/a.htm", "<html><body>a</body></html>");
  writeFile(folder + "/script.htm",
            "<html><body><script>window.open('http://127.0.0.1:1/by-script');window.open('velmora-test:run');"
            "</script>s</body></html>");
  writeFile(folder + "/web.htm", linkPage("http://127.0.0.1:1/clicked", "_blank"));
  writeFile(folder + "/file.htm", linkPage("a.htm", "_blank"));
  writeFile(folder + "/scheme.htm", linkPage("velmora-test:run", "_blank"));
  writeFile(folder + "/same.htm", linkPage("velmora-test:same-window", "_self"));
  DesktopRecorder desktop;
  auto browser = platform::webEngineBrowserFactory()(nullptr);
  browser->widget()->resize(400, 300);
  browser->widget()->show();
  std::vector<std::string> asked;
  browser->NewWindow = [&](const std::string& a, bool&) { asked.push_back(a); };  // not taken
  std::string completed;
  browser->DocumentComplete = [&](const std::string& a) { completed = a; };
  auto load = [&](const std::string& name) {
    completed.clear();
    browser->Navigate(folder + "/" + name);
    return waitFor([&] { return !completed.empty(); });
  };

  // Windows a script opens without a click: asked for, refused.
  ASSERT_TRUE(load("script.htm"));
  ASSERT_TRUE(waitFor([&] { return asked.size() == 2; })) << asked.size();
  EXPECT_EQ(asked[0], "http://127.0.0.1:1/by-script");
  // A click on a link to a new window: a local file and another scheme are
  // refused, a web address goes to the desktop's browser.
  ASSERT_TRUE(load("file.htm"));
  ASSERT_TRUE(clickUntil(*browser, [&] { return asked.size() == 3; }));
  EXPECT_EQ(asked[2], folder + "/a.htm");
  ASSERT_TRUE(load("scheme.htm"));
  ASSERT_TRUE(clickUntil(*browser, [&] { return asked.size() == 4; }));
  ASSERT_TRUE(load("same.htm"));
  clickUntil(*browser, [] { return false; }, 3);
  EXPECT_TRUE(desktop.opened.empty()) << desktop.opened.front();
  ASSERT_TRUE(load("web.htm"));
  ASSERT_TRUE(clickUntil(*browser, [&] { return !desktop.opened.empty(); }));
  EXPECT_EQ(desktop.opened, std::vector<std::string>{"http://127.0.0.1:1/clicked"});
}

TEST(WebEngineBrowser, APageThatOpensAWindowAndClosesItsOwnReachesNoBrowserThatIsGone) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display; the suite runs this under xvfb-run";
  engineApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString();
  writeFile(folder + "/a.htm", "<html><body>a</body></html>");
  writeFile(folder + "/bye.htm", "<html><body><script>window.open('a.htm');window.close();</script>b</body></html>");
  writeFile(folder + "/later.htm",
            "<html><body><script>setTimeout(function(){window.open('a.htm');window.close();}, 300);</script>c"
            "</body></html>");
  DesktopRecorder desktop;
  // Freed memory is overwritten while this test runs, so that a call into a
  // browser that is gone fails at once instead of finding its old contents.
  struct Perturb {
    Perturb() { ::mallopt(M_PERTURB, 0xa5); }
    ~Perturb() { ::mallopt(M_PERTURB, 0); }
  } perturb;

  // The online-service window: the page opens a window and closes it.
  QPointer<service_window::Frmline> line = new service_window::Frmline(platform::webEngineBrowserFactory());
  line->show();
  line->WebBrowser1()->Navigate(folder + "/bye.htm");
  EXPECT_TRUE(waitFor([&] { return line.isNull(); })) << "the page closed the window";
  QTest::qWait(1000);

  // A browser that goes while its view stays in a parent, before the page
  // gets to open its window.
  QWidget parent;
  parent.resize(300, 200);
  parent.show();
  auto browser = platform::webEngineBrowserFactory()(&parent);
  int reports = 0;
  browser->NewWindow = [&reports](const std::string&, bool& processed) {
    ++reports;
    processed = true;
  };
  browser->WindowClosing = [&reports](bool, bool&) { ++reports; };
  std::string completed;
  browser->DocumentComplete = [&](const std::string& a) { completed = a; };
  browser->Navigate(folder + "/later.htm");
  ASSERT_TRUE(waitFor([&] { return !completed.empty(); }));
  // The page still asks, once the browser has gone.
  auto* view = parent.findChild<QWebEngineView*>();
  ASSERT_TRUE(view);
  bool asked = false;
  QObject::connect(view->page(), &QWebEnginePage::newWindowRequested, [&asked] { asked = true; });
  browser.reset();
  EXPECT_TRUE(waitFor([&] { return asked; }, 5000));
  QTest::qWait(300);
  EXPECT_EQ(reports, 0);
  EXPECT_TRUE(desktop.opened.empty()) << desktop.opened.front();
}

#include "webengine_test.moc"
