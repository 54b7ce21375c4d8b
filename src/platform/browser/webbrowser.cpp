#include "platform/browser/webbrowser.h"

#include "common/html.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QString>
#include <QUrl>

namespace platform {

WebBrowser::~WebBrowser() = default;

bool WebBrowser::fireNewWindow(const std::string& address) {
  bool processed = false;
  if (NewWindow) NewWindow(address, processed);
  return processed;
}

bool WebBrowser::pageAsksForWindow(const std::string& address, bool userClick) {
  if (fireNewWindow(address)) return true;
  if (opensInDesktopBrowser(address, userClick)) openInDesktopBrowser(address);
  return false;
}

void WebBrowser::openInDesktopBrowser(const std::string& address) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(address), QUrl::StrictMode));
}

bool isWebAddress(const std::string& address) {
  const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme();
  return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
         scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool sameAddress(const QUrl& a, const QUrl& b) {
  // QUrl keeps the scheme and host in lower case already; an explicit
  // default port is the same place as none.
  const auto normal = [](QUrl u) {
    const QString scheme = u.scheme();
    const int standard = scheme == QLatin1String("http") || scheme == QLatin1String("ws")     ? 80
                         : scheme == QLatin1String("https") || scheme == QLatin1String("wss") ? 443
                         : scheme == QLatin1String("ftp")                                     ? 21
                                                                                               : -1;
    if (standard > 0 && u.port() == standard) u.setPort(-1);
    return u.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
  };
  return normal(a) == normal(b);
}

bool opensInDesktopBrowser(const std::string& address, bool userClick) {
  return userClick && isWebAddress(address);
}

bool WebBrowser::fireWindowClosing() {
  bool cancel = false;
  if (WindowClosing) WindowClosing(false, cancel);
  return cancel;
}

void WebBrowser::fireDocumentComplete(const std::string& address) {
  if (DocumentComplete) DocumentComplete(address);
}

QUrl browserUrl(const std::string& address) {
  QString a = QString::fromStdString(address);
  if (a.isEmpty()) return QUrl(QStringLiteral("about:blank"));
  static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.\\-]+):"));
  auto m = scheme.match(a);
  // "host.name:8080/..." and "localhost:8080/..." are a host with its port,
  // not a scheme.
  if (m.hasMatch() && !m.captured(1).contains('.') &&
      m.captured(1).compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
    QString s = m.captured(1).toLower();
    if (s == "http" || s == "https" || s == "file") a.replace('\\', '/');
    return QUrl(a, QUrl::TolerantMode);
  }
  a.replace('\\', '/');
  // A web address written without its scheme (url=price.example.com in
  // MainPro.ini gives price.example.com/vosk\web\a.htm) is read as http, as
  // the system's browser reads it; local paths always start at the root.
  if (!a.startsWith('/')) {
    const QString host = a.section('/', 0, 0).section(':', 0, 0);
    if (host.contains('.') || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
      return QUrl(QStringLiteral("http://") + a, QUrl::TolerantMode);
  }
  return QUrl::fromLocalFile(a);
}

using common::escapeHtml;

std::string browserErrorPage(const std::string& address, bool notFound, const std::string& detail) {
  std::string title = notFound ? "无法找到该网页" : "无法显示该网页";
  std::string body = notFound ? "无法找到您要查看的网页，它可能已被删除、更名或暂时不可用。"
                              : "无法显示该网页：服务器没有应答，或者网络连接有问题。";
  std::string html =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
      "</title><style>body{font-family:sans-serif;margin:2em;color:#333}"
      "h1{font-size:1.3em;color:#8a1c1c}p{font-size:.95em}code{color:#555}</style></head><body><h1>" +
      title + "</h1><p>" + body + "</p><p><code>" + escapeHtml(address) + "</code></p>";
  if (!detail.empty()) html += "<p><small>" + escapeHtml(detail) + "</small></p>";
  html += "</body></html>";
  return html;
}

}  // namespace platform
