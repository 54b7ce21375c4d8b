#include "platform/browser/webengine_browser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "platform/process/this_process.h"

namespace platform {

void prepareWebEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (runsAsAdministrator()) setEnvironmentDefault("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // Without a GPU (virtual displays, remote sessions) software drawing is
  // the dependable choice.
  setEnvironmentDefault("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
}

void configureWebEngine() {
  QWebEngineSettings* s = QWebEngineProfile::defaultProfile()->settings();
  s->setDefaultTextEncoding(QStringLiteral("GBK"));
  s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  // Scripts may ask for windows; the browser decides what becomes of them
  // (WebBrowser::NewWindow).
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
  s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  // A link to a scheme the engine does not handle (mailto:, a program's own
  // scheme) would go to whatever program the desktop has for it: refused.
  s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
}

namespace {

class WebEngineBrowser;

// The engine lets a script close only a window the script opened; the system's
// browser asks its host instead. A page's window.close() is therefore routed
// to the host through a console message carrying this token.
const char* const kCloseToken = "velmora-window:close";

// The page of a browser. It reaches its browser only through owner(), which
// the browser clears when it goes: the view and its page may outlive the
// browser object (inside a parent widget, or while the engine still reports
// on a window that is closing), and must then report to nobody.
class EnginePage : public QWebEnginePage {
 public:
  EnginePage(QWebEngineProfile* profile, QObject* parent, WebEngineBrowser* owner);

  WebEngineBrowser* owner() const { return owner_; }
  void detach() { owner_ = nullptr; }

 protected:
  // A window a page asks for is reported through newWindowRequested; the
  // engine gets no page for it, so no window of its own ever opens.
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override;

 private:
  WebEngineBrowser* owner_;
};

class WebEngineBrowser : public WebBrowser {
 public:
  explicit WebEngineBrowser(QWidget* parent) : view_(new QWebEngineView(parent)) {
    page_ = new EnginePage(QWebEngineProfile::defaultProfile(), view_, this);
    view_->setPage(page_);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    // Every report goes through the page's owner, so none reaches a browser
    // that is gone.
    EnginePage* page = page_;
    QObject::connect(page, &QWebEnginePage::loadingChanged, page, [page](const QWebEngineLoadingInfo& info) {
      if (WebEngineBrowser* b = page->owner()) b->onLoading(info);
    });
    QObject::connect(page, &QWebEnginePage::windowCloseRequested, page, [page] {
      if (WebEngineBrowser* b = page->owner()) b->onClosing();
    });
    QObject::connect(page, &QWebEnginePage::newWindowRequested, page, [page](QWebEngineNewWindowRequest& request) {
      if (WebEngineBrowser* b = page->owner()) b->onNewWindow(request.requestedUrl(), request.isUserInitiated());
    });
    view_->setUrl(QUrl(QStringLiteral("about:blank")));
  }

  ~WebEngineBrowser() override {
    if (page_) page_->detach();
    // The view may outlive this object inside its parent.
    if (view_ && !view_->parent()) delete view_;
  }

  QWidget* widget() override { return view_; }

  void Navigate(const std::string& address) override {
    location_ = address;
    target_ = browserUrl(address);
    document_.reset();
    ownPage_ = false;
    started_ = false;
    ++generation_;
    if (!view_) return;
    if (target_.isLocalFile() && target_.path().endsWith(QLatin1String(".swf"), Qt::CaseInsensitive) &&
        QFileInfo::exists(target_.toLocalFile())) {
      showFlashBanner(target_.toLocalFile());
      return;
    }
    view_->setUrl(target_);
  }

  std::optional<std::vector<std::string>> documentAll() const override { return document_; }
  std::string locationURL() const override { return location_; }

  void onClosing() { fireWindowClosing(); }

  void onNewWindow(const QUrl& url, bool userClick) {
    const std::string address =
        url.isLocalFile() ? url.toLocalFile().toStdString() : url.toString().toStdString();
    pageAsksForWindow(address, userClick);
  }

  void onLoading(const QWebEngineLoadingInfo& info) {
    if (!view_ || !page_) return;
    switch (info.status()) {
      case QWebEngineLoadingInfo::LoadStartedStatus:
        // The load of the address asked for. It may end at another address
        // (a server's redirect, http to https, or to an error page), and its
        // end is this navigation's all the same.
        if (!ownPage_ && sameTarget(info.url())) started_ = true;
        return;
      case QWebEngineLoadingInfo::LoadStoppedStatus:
        return;
      case QWebEngineLoadingInfo::LoadFailedStatus: {
        if (ownPage_) return;
        if (info.errorCode() == -3 /* aborted by a newer navigation */) return;
        if (!started_ && !sameTarget(info.url())) return;
        started_ = false;
        bool notFound = info.errorCode() == -6 /* file not found */ || info.errorCode() == -105 /* name not resolved */ ||
                        (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() == 404);
        ownPage_ = true;
        page_->setHtml(QString::fromStdString(browserErrorPage(location_, notFound, info.errorString().toStdString())));
        return;
      }
      case QWebEngineLoadingInfo::LoadSucceededStatus: {
        if (!ownPage_ && !started_ && !sameTarget(info.url())) return;
        started_ = false;
        if (!ownPage_ && info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
            info.errorCode() >= 400) {
          // A server's error answer: shown as the system's browser shows it.
          ownPage_ = true;
          page_->setHtml(QString::fromStdString(
              browserErrorPage(location_, info.errorCode() == 404, info.errorString().toStdString())));
          return;
        }
        const int generation = generation_;
        QPointer<EnginePage> page = page_.data();
        page_->runJavaScript(
            QStringLiteral("document.documentElement ? document.documentElement.innerHTML : null"),
            [page, generation](const QVariant& v) {
              if (!page) return;
              if (WebEngineBrowser* b = page->owner()) b->onDocument(generation, v);
            });
        return;
      }
    }
  }

 private:
  void onDocument(int generation, const QVariant& v) {
    if (generation != generation_) return;
    if (v.isNull() || !v.isValid()) return;
    document_ = std::vector<std::string>{v.toString().toStdString()};
    fireDocumentComplete(location_);
  }

  // No engine plays Flash any more. A banner file is shown as the picture
  // of the same name beside it (a.swf: a.png, a.jpg, a.gif or a.bmp) when
  // there is one, otherwise as a plain band.
  void showFlashBanner(const QString& file) {
    const QFileInfo info(file);
    QString picture;
    for (const char* ext : {"png", "jpg", "jpeg", "gif", "bmp"}) {
      const QFileInfo candidate(info.dir(), info.completeBaseName() + '.' + QLatin1String(ext));
      if (candidate.isFile()) {
        picture = candidate.fileName();
        break;
      }
    }
    QString html = QStringLiteral(
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>html,body{margin:0;height:100%;overflow:hidden;"
        "background:linear-gradient(100deg,#163d6b 0%,#1d4e89 45%,#2f6db5 100%);}"
        "img{display:block;width:100%;height:100%;object-fit:cover;}</style></head><body>");
    if (!picture.isEmpty()) html += QStringLiteral("<img src=\"%1\" alt=\"\">").arg(picture.toHtmlEscaped());
    html += QStringLiteral("</body></html>");
    ownPage_ = true;  // a page of our own: its load is not checked against the target
    page_->setHtml(html, QUrl::fromLocalFile(info.absolutePath() + '/'));
  }

  bool sameTarget(const QUrl& url) const { return sameAddress(url, target_); }

  QPointer<QWebEngineView> view_;
  QPointer<EnginePage> page_;
  std::string location_;
  QUrl target_;
  std::optional<std::vector<std::string>> document_;
  bool ownPage_ = false;  // an error or banner page of ours is shown, not the target
  bool started_ = false;  // the load of the address asked for has started
  int generation_ = 0;
};

EnginePage::EnginePage(QWebEngineProfile* profile, QObject* parent, WebEngineBrowser* owner)
    : QWebEnginePage(profile, parent), owner_(owner) {
  QWebEngineScript script;
  script.setName(QStringLiteral("window-close"));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  script.setSourceCode(QStringLiteral(
      "(function(){var log=console.debug.bind(console);var f=function(){log('%1');};"
      "try{Object.defineProperty(window,'close',{value:f,configurable:true,writable:true});}"
      "catch(e){window.close=f;}})();").arg(QLatin1String(kCloseToken)));
  scripts().insert(script);
}

void EnginePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                          const QString&) {
  if (message == QLatin1String(kCloseToken) && owner_) owner_->onClosing();
}

}  // namespace

WebBrowserFactory webEngineBrowserFactory() {
  return [](QWidget* parent) -> std::unique_ptr<WebBrowser> { return std::make_unique<WebEngineBrowser>(parent); };
}

}  // namespace platform
