#include "platform/browser/webengine_browser.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <cstdlib>
#include <unistd.h>

namespace platform {

void prepareWebEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (::geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  // Without a GPU (virtual displays, remote sessions) software drawing is
  // the dependable choice.
  if (!std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
}

void configureWebEngine() {
  QWebEngineSettings* s = QWebEngineProfile::defaultProfile()->settings();
  s->setDefaultTextEncoding(QStringLiteral("GBK"));
  s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
  s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
}

namespace {

class WebEngineBrowser;

// The page of a window a page asked for: it reports the first address it is
// sent to and goes away.
class NewWindowCatcher : public QWebEnginePage {
 public:
  NewWindowCatcher(QWebEngineProfile* profile, std::function<void(const QUrl&)> report)
      : QWebEnginePage(profile), report_(std::move(report)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (report_) {
      auto report = std::move(report_);
      report_ = nullptr;
      report(url);
      deleteLater();
    }
    return false;
  }

 private:
  std::function<void(const QUrl&)> report_;
};

// The engine lets a script close only a window the script opened; the system's
// browser asks its host instead. A page's window.close() is therefore routed
// to the host through a console message carrying this token.
const char* const kCloseToken = "velmora-window:close";

class EnginePage : public QWebEnginePage {
 public:
  EnginePage(QWebEngineProfile* profile, QObject* parent, std::function<void(const QUrl&)> newWindow,
             std::function<void()> closing)
      : QWebEnginePage(profile, parent), newWindow_(std::move(newWindow)), closing_(std::move(closing)) {
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

 protected:
  QWebEnginePage* createWindow(WebWindowType) override {
    return new NewWindowCatcher(profile(), newWindow_);
  }

  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int, const QString&) override {
    if (message == QLatin1String(kCloseToken) && closing_) closing_();
  }

 private:
  std::function<void(const QUrl&)> newWindow_;
  std::function<void()> closing_;
};

class WebEngineBrowser : public WebBrowser {
 public:
  explicit WebEngineBrowser(QWidget* parent) : view_(new QWebEngineView(parent)) {
    page_ = new EnginePage(
        QWebEngineProfile::defaultProfile(), view_, [this](const QUrl& url) { onNewWindow(url); },
        [this] { fireWindowClosing(); });
    view_->setPage(page_);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    QObject::connect(page_, &QWebEnginePage::loadingChanged, view_,
                     [this](const QWebEngineLoadingInfo& info) { onLoading(info); });
    QObject::connect(page_, &QWebEnginePage::windowCloseRequested, view_, [this] { fireWindowClosing(); });
    view_->setUrl(QUrl(QStringLiteral("about:blank")));
  }

  ~WebEngineBrowser() override {
    if (view_) {
      // The view may outlive this object inside its parent; it must not call back.
      QObject::disconnect(page_, nullptr, view_, nullptr);
      if (!view_->parent()) delete view_;
    }
  }

  QWidget* widget() override { return view_; }

  void Navigate(const std::string& address) override {
    location_ = address;
    target_ = browserUrl(address);
    document_.reset();
    ownPage_ = false;
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

 private:
  void onNewWindow(const QUrl& url) {
    std::string address = url.isLocalFile() ? url.toLocalFile().toStdString() : url.toString().toStdString();
    if (fireNewWindow(address)) return;
    // Nobody took it: the desktop's browser opens it, as a window of its own.
    QDesktopServices::openUrl(url);
  }

  void onLoading(const QWebEngineLoadingInfo& info) {
    if (!view_) return;
    switch (info.status()) {
      case QWebEngineLoadingInfo::LoadStartedStatus:
      case QWebEngineLoadingInfo::LoadStoppedStatus:
        return;
      case QWebEngineLoadingInfo::LoadFailedStatus: {
        if (ownPage_) return;
        if (info.errorCode() == -3 /* aborted by a newer navigation */) return;
        if (!sameTarget(info.url())) return;
        bool notFound = info.errorCode() == -6 /* file not found */ || info.errorCode() == -105 /* name not resolved */ ||
                        (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() == 404);
        ownPage_ = true;
        page_->setHtml(QString::fromStdString(browserErrorPage(location_, notFound, info.errorString().toStdString())));
        return;
      }
      case QWebEngineLoadingInfo::LoadSucceededStatus: {
        if (!ownPage_ && !sameTarget(info.url())) return;
        if (!ownPage_ && info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain &&
            info.errorCode() >= 400) {
          // A server's error answer: shown as the system's browser shows it.
          ownPage_ = true;
          page_->setHtml(QString::fromStdString(
              browserErrorPage(location_, info.errorCode() == 404, info.errorString().toStdString())));
          return;
        }
        int generation = generation_;
        QPointer<QWebEngineView> view = view_;
        page_->runJavaScript(
            QStringLiteral("document.documentElement ? document.documentElement.innerHTML : null"),
            [this, view, generation](const QVariant& v) {
              if (!view || generation != generation_) return;
              if (v.isNull() || !v.isValid()) return;
              document_ = std::vector<std::string>{v.toString().toStdString()};
              fireDocumentComplete(location_);
            });
        return;
      }
    }
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

  bool sameTarget(const QUrl& url) const {
    return url.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments) ==
           target_.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
  }

  QPointer<QWebEngineView> view_;
  EnginePage* page_ = nullptr;
  std::string location_;
  QUrl target_;
  std::optional<std::vector<std::string>> document_;
  bool ownPage_ = false;  // an error or banner page of ours is shown, not the target
  int generation_ = 0;
};

}  // namespace

WebBrowserFactory webEngineBrowserFactory() {
  return [](QWidget* parent) -> std::unique_ptr<WebBrowser> { return std::make_unique<WebEngineBrowser>(parent); };
}

}  // namespace platform
