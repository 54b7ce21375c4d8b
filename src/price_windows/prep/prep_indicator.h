#pragma once
// The libraries of the program folder made ready while the main window is
// used: once the window has shown, the libraries the library cache holds no
// good entry of are imported in the background (price_tools::LibraryPreparer,
// lowest priority, one at a time), and so is a library that arrives later (the
// updater installs one: the folder is watched). A small text on the band,
// "正在准备材料库 3/24", tells of it while it runs and goes when it is through;
// nothing is modal and nothing waits for it. Closing the window stops it at
// once.
#include <QLabel>
#include <QString>
#include <QTimer>

#include <memory>

class QFileSystemWatcher;

namespace price_tools {
class LibraryPreparer;
struct PrepProgress;
}

namespace price_windows {

// After the window has shown, this long passes before the preparation begins
// (the window's own first steps go first); a change of the folder is taken
// once it has been quiet this long (a file being written).
inline constexpr int kPrepStartMs = 1500;
inline constexpr int kPrepSettleMs = 2000;

class PrepIndicator : public QLabel {
  Q_OBJECT
 public:
  // Prepares the libraries of `folder`; `window` is watched for its first
  // show (start) and its close (stop). Starts nothing by itself until then.
  PrepIndicator(const QString& folder, QWidget& window, QWidget* parent = nullptr,
                int startMs = kPrepStartMs, int settleMs = kPrepSettleMs);
  ~PrepIndicator() override;

  // Begins now (also what the first show does after startMs).
  void start();
  // Stops the import under way and every later one.
  void stop();

  // The preparation's progress as it reaches the window's thread: the text
  // shows while a library is imported and is empty otherwise.
  void showProgress(const price_tools::PrepProgress& p);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString folder_;
  QWidget& window_;
  int startMs_;
  bool started_ = false, stopped_ = false;
  QTimer settle_;
  QFileSystemWatcher* watcher_ = nullptr;
  std::unique_ptr<price_tools::LibraryPreparer> preparer_;
};

}  // namespace price_windows
