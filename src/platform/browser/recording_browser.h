#pragma once
// A browser without an engine: it records every address it is sent to and
// serves the documents it was given for them. Used where pages need not be
// drawn (tests, measurements, scripted runs of the window logic).
#include "platform/browser/webbrowser.h"

#include <QLabel>
#include <QPointer>

#include <map>
#include <memory>

namespace platform {

class RecordingBrowser : public WebBrowser {
 public:
  struct Visit {
    std::string address;
    int generation;  // 1: Navigate, 2: Navigate2
  };

  explicit RecordingBrowser(QWidget* parent = nullptr);
  ~RecordingBrowser() override;

  QWidget* widget() override;
  void Navigate(const std::string& address) override;
  void Navigate2(const std::string& address) override;
  std::optional<std::vector<std::string>> documentAll() const override;
  std::string locationURL() const override { return location_; }

  // Every navigation so far, oldest first.
  const std::vector<Visit>& visits() const { return visits_; }
  std::vector<std::string> addresses() const;
  void clearVisits() { visits_.clear(); }

  // Documents served: the element texts shown after a navigation to address.
  // An address without a document leaves the browser without one, unless a
  // fallback document was given.
  void serve(const std::string& address, std::vector<std::string> elements);
  void serveFallback(std::optional<std::vector<std::string>> elements) { fallback_ = std::move(elements); }
  // With loadsAtOnce (the default) the document is there as soon as the
  // navigation returns; otherwise only after finishLoading().
  void setLoadsAtOnce(bool atOnce) { atOnce_ = atOnce; }
  void finishLoading();

  // What a page does: ask for a new window (after a user's click in the page
  // or from a script on its own), close its window. Answer the flags.
  bool pageOpensWindow(const std::string& address, bool userClick = true) {
    return pageAsksForWindow(address, userClick);
  }
  // The addresses handed to the desktop's browser (nothing is started).
  const std::vector<std::string>& desktopBrowserAddresses() const { return desktop_; }
  bool pageClosesWindow() { return fireWindowClosing(); }

 protected:
  void openInDesktopBrowser(const std::string& address) override { desktop_.push_back(address); }

 private:
  void go(const std::string& address, int generation);

  QPointer<QLabel> view_;
  std::string location_;
  std::vector<Visit> visits_;
  std::map<std::string, std::vector<std::string>> documents_;
  std::optional<std::vector<std::string>> fallback_;
  std::optional<std::vector<std::string>> current_;
  bool atOnce_ = true;
  bool loading_ = false;
  std::vector<std::string> desktop_;
};

// A factory that makes RecordingBrowsers; each one made is also handed to made().
WebBrowserFactory recordingBrowserFactory(std::function<void(RecordingBrowser*)> made = {});

}  // namespace platform
