#include "service_window/frmline.h"

#include "platform/screen/twips.h"

#include <QTimer>

#include <stdexcept>

namespace service_window {

Frmline::Frmline(const platform::WebBrowserFactory& browsers, QWidget* owner)
    : QWidget(owner, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("在线服务"));
  if (browsers) browser_ = browsers(this);
  if (!browser_) throw std::runtime_error("the online-service window has no browser");
  if (QWidget* w = browser_->widget()) w->setParent(this);
  resize(platform::twipsToPixels(9375), platform::twipsToPixels(6810));
  Form_Load();
}

Frmline::~Frmline() {
  // The page must not call back into a window being destroyed.
  if (browser_) {
    browser_->NewWindow = nullptr;
    browser_->WindowClosing = nullptr;
  }
}

void Frmline::Form_Load() {
  Web_V1_ = browser_.get();
  Web_V1_->NewWindow = [this](const std::string& address, bool& processed) { Web_V1_NewWindow(address, processed); };
  browser_->WindowClosing = [this](bool isChild, bool& cancel) { WebBrowser1_WindowClosing(isChild, cancel); };
}

void Frmline::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (QWidget* w = browser_ ? browser_->widget() : nullptr) w->setGeometry(0, 0, width(), height());
}

void Frmline::Web_V1_NewWindow(const std::string& address, bool& processed) {
  processed = true;
  // Only web addresses: a service page brings no local file and no other
  // program's scheme into this window.
  if (platform::isWebAddress(address)) browser_->Navigate(address);
}

void Frmline::WebBrowser1_WindowClosing(bool, bool&) {
  // The page's script is still running; the window goes once it returns.
  QTimer::singleShot(0, this, &QWidget::close);
}

}  // namespace service_window
