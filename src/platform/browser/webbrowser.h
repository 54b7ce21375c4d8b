#pragma once
// The browser control of the main program's windows: the page view and the
// banner strip of the main window, and the browser of the online-service
// window. Windows talk to this interface only; the program gives them the Qt
// WebEngine implementation (webengine_browser.h), tests a recording one.
//
// Navigation returns at once and loading goes on in the background. A page
// that cannot be loaded (a missing local file, an unreachable address, a
// server's error status) is replaced by the control's own error page, whose
// text carries "无法显示" or "无法找到".
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QUrl;
class QWidget;

namespace platform {

class WebBrowser {
 public:
  virtual ~WebBrowser();

  // The widget that shows the pages.
  virtual QWidget* widget() = 0;

  // First-generation navigate: a local file path or a web address.
  virtual void Navigate(const std::string& address) = 0;
  // Second-generation navigate; the same behaviour on this platform.
  virtual void Navigate2(const std::string& address) { Navigate(address); }

  // The current document's elements in document order, root first, each
  // element's inner HTML text. nullopt when the control holds no document
  // (nothing loaded yet, or the page asked for is still on its way).
  virtual std::optional<std::vector<std::string>> documentAll() const = 0;

  // Address of the page asked for last ("" before the first navigation).
  virtual std::string locationURL() const = 0;

  // Events. NewWindow: a page asks for a new browser window on an address;
  // setting processed to true keeps the control from opening one itself.
  // Unprocessed, the control opens no window of its own: the address goes
  // to the desktop's browser when opensInDesktopBrowser() allows it, and is
  // refused otherwise.
  // WindowClosing: a page's script closes its window; cancel keeps it.
  // DocumentComplete: the page asked for last has been loaded (or replaced
  // by the error page) and documentAll() shows it.
  std::function<void(const std::string& address, bool& processed)> NewWindow;
  std::function<void(bool isChildWindow, bool& cancel)> WindowClosing;
  std::function<void(const std::string& address)> DocumentComplete;

 protected:
  // For implementations: a page asks for a new window on address, after a
  // user's click in the page or not. Runs NewWindow; unprocessed, hands the
  // address to openInDesktopBrowser() when opensInDesktopBrowser() allows it.
  // Answers the processed flag.
  bool pageAsksForWindow(const std::string& address, bool userClick);
  // The desktop's browser opens address (an http or https address).
  virtual void openInDesktopBrowser(const std::string& address);

  // For implementations: run the handlers when set. Answer the out-flags.
  bool fireNewWindow(const std::string& address);
  bool fireWindowClosing();
  void fireDocumentComplete(const std::string& address);
};

// An http or https address with a host, written out with its scheme.
bool isWebAddress(const std::string& address);

// Whether two addresses name the same page: compared after normalising the
// scheme, the host, an explicit default port ("http://host:80/" is
// "http://host/"), dot segments and a trailing slash.
bool sameAddress(const QUrl& a, const QUrl& b);

// Whether a new window a page asked for, and nobody took, may go to the
// desktop's browser: only an http or https address with a host, and only when
// the user clicked in the page. Local files, other schemes (the desktop would
// start whatever program claims them) and windows a script opens on its own
// are refused: pages start nothing.
bool opensInDesktopBrowser(const std::string& address, bool userClick);

using WebBrowserFactory = std::function<std::unique_ptr<WebBrowser>(QWidget* parent)>;

// The address as the control loads it: web addresses (scheme://...) and
// about:/data: addresses stay as they are, with "\" read as "/" for http,
// https and file addresses, the way the system's browser reads them; anything
// else is a local file path (an empty address is about:blank), except an
// address that starts with a host name (a.example.com/x, localhost:8080/x):
// http, as a web address typed without its scheme.
QUrl browserUrl(const std::string& address);

// The control's own page for an address that could not be shown; notFound
// chooses "无法找到" (missing file or page) over "无法显示" (any other failure).
std::string browserErrorPage(const std::string& address, bool notFound, const std::string& detail = "");

}  // namespace platform
