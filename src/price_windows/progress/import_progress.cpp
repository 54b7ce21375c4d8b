#include "price_windows/progress/import_progress.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

#include "platform/database/jet_database.h"
#include "platform/messagebox/messagebox.h"

namespace price_windows {

namespace {

// The copies' dialog: made when a copy has taken long enough, kept up to
// date, and closed a moment after the last copy ends. Copies that follow one
// another (a comparison or a history opening library after library) share
// one dialog instead of each flashing one of its own.
class ImportDialog {
 public:
  explicit ImportDialog(int showAfterMs) : showAfterMs_(showAfterMs), closer_(new QTimer(qApp)) {
    closer_->setSingleShot(true);
    closer_->setInterval(kLingerMs);
    QObject::connect(closer_, &QTimer::timeout, [this] { close(); });
  }
  ~ImportDialog() {
    if (!QCoreApplication::instance()) return;
    close();
    delete closer_;
  }
  ImportDialog(const ImportDialog&) = delete;
  ImportDialog& operator=(const ImportDialog&) = delete;

  void update(const std::string& path, uint64_t done, uint64_t total) {
    if (QThread::currentThread() != qApp->thread()) return;
    if (done == 0 || !clock_.isValid()) clock_.start();
    if (total > 0 && done >= total) {
      clock_.invalidate();
      if (dialog_) closer_->start();  // closes when the program is idle again
      return;
    }
    closer_->stop();
    if (!dialog_ && clock_.elapsed() < showAfterMs_) return;
    if (!dialog_) open();
    const QString library = QFileInfo(QString::fromStdString(path)).completeBaseName();
    label_->setText(QStringLiteral("正在读取价格库“%1”……").arg(library));
    // Per mille, so that counts beyond int's range still fit.
    bar_->setValue(total ? int(done * 1000 / total) : 0);
    // Windows repaint and timers run; input, closes (blocked by the modal
    // dialog) and messages from other programs wait until the copy is done,
    // as they did while the window was busy without the dialog.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
  }

 private:
  static constexpr int kLingerMs = 300;

  void open() {
    // A window of its own: the window that opens the library may be a
    // splash that goes before the copy ends.
    dialog_ = new QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    dialog_->setObjectName(QStringLiteral("importProgress"));
    dialog_->setWindowTitle(QString::fromStdString(platform::applicationTitle()));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumWidth(420);
    auto* layout = new QVBoxLayout(dialog_);
    label_ = new QLabel(dialog_);
    layout->addWidget(label_);
    bar_ = new QProgressBar(dialog_);
    bar_->setRange(0, 1000);
    layout->addWidget(bar_);
    dialog_->show();
  }
  void close() {
    if (dialog_) dialog_->close();
    dialog_ = nullptr;
  }

  const int showAfterMs_;
  QElapsedTimer clock_;
  QPointer<QDialog> dialog_;
  QLabel* label_ = nullptr;  // the dialog's
  QProgressBar* bar_ = nullptr;
  QPointer<QTimer> closer_;  // the application's child: it may outlive this
};

}  // namespace

void installImportProgress(int showAfterMs) {
  auto dialog = std::make_shared<ImportDialog>(showAfterMs);
  ado::setImportProgress(
      [dialog](const std::string& path, uint64_t done, uint64_t total) { dialog->update(path, done, total); });
}

}  // namespace price_windows
