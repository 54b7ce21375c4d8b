#pragma once
// The online-service window: a plain browser window that keeps everything the
// service pages do inside itself. A page's request for a new window loads that
// address here when it is a web address (http, https) and is refused
// otherwise; no window ever opens outside. A page's request to close its
// window closes this window.
#include "platform/browser/webbrowser.h"

#include <QWidget>

#include <memory>

namespace service_window {

class Frmline : public QWidget {
  Q_OBJECT
 public:
  // owner: the window it stays in front of (may be null). The window deletes
  // itself when closed. Throws when no browser can be made for it (the
  // factory fails or makes none); no window is left behind then.
  Frmline(const platform::WebBrowserFactory& browsers, QWidget* owner = nullptr);
  ~Frmline() override;

  platform::WebBrowser* WebBrowser1() const { return browser_.get(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Form_Load();
  void Web_V1_NewWindow(const std::string& address, bool& processed);
  void WebBrowser1_WindowClosing(bool isChildWindow, bool& cancel);

  std::unique_ptr<platform::WebBrowser> browser_;
  platform::WebBrowser* Web_V1_ = nullptr;  // the second binding: new-window requests arrive here
};

}  // namespace service_window
