#include "platform/browser/recording_browser.h"

#include <QLabel>

namespace platform {

RecordingBrowser::RecordingBrowser(QWidget* parent) : view_(new QLabel(parent)) {
  view_->setAlignment(Qt::AlignCenter);
  view_->setWordWrap(true);
}

RecordingBrowser::~RecordingBrowser() {
  // The label belongs to its parent widget when it has one.
  if (view_ && !view_->parent()) delete view_;
}

QWidget* RecordingBrowser::widget() { return view_; }

void RecordingBrowser::Navigate(const std::string& address) { go(address, 1); }
void RecordingBrowser::Navigate2(const std::string& address) { go(address, 2); }

void RecordingBrowser::go(const std::string& address, int generation) {
  location_ = address;
  visits_.push_back({address, generation});
  if (view_) view_->setText(QString::fromStdString(address));
  current_.reset();
  loading_ = true;
  if (atOnce_) finishLoading();
}

void RecordingBrowser::finishLoading() {
  if (!loading_) return;
  loading_ = false;
  auto it = documents_.find(location_);
  if (it != documents_.end())
    current_ = it->second;
  else
    current_ = fallback_;
  fireDocumentComplete(location_);
}

std::optional<std::vector<std::string>> RecordingBrowser::documentAll() const { return current_; }

std::vector<std::string> RecordingBrowser::addresses() const {
  std::vector<std::string> out;
  for (const auto& v : visits_) out.push_back(v.address);
  return out;
}

void RecordingBrowser::serve(const std::string& address, std::vector<std::string> elements) {
  documents_[address] = std::move(elements);
}

WebBrowserFactory recordingBrowserFactory(std::function<void(RecordingBrowser*)> made) {
  return [made](QWidget* parent) -> std::unique_ptr<WebBrowser> {
    auto b = std::make_unique<RecordingBrowser>(parent);
    if (made) made(b.get());
    return b;
  };
}

}  // namespace platform
