#include "price_windows/progress/import_progress.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

#include "platform/database/jet_database.h"
#include "platform/messagebox/messagebox.h"

namespace price_windows {

namespace {

// One copy's dialog: made when the copy has taken long enough, kept up to
// date, closed at the end.
class ImportDialog {
 public:
  explicit ImportDialog(int showAfterMs) : showAfterMs_(showAfterMs) {}

  void update(const std::string& path, uint64_t done, uint64_t total) {
    if (QThread::currentThread() != qApp->thread()) return;
    if (done == 0 || !clock_.isValid()) clock_.start();
    if (total > 0 && done >= total) {
      close();
      return;
    }
    if (!dialog_ && clock_.elapsed() < showAfterMs_) return;
    if (!dialog_) open(path);
    // Per mille, so that counts beyond int's range still fit.
    bar_->setValue(total ? int(done * 1000 / total) : 0);
    // Windows repaint and timers run; input, closes (blocked by the modal
    // dialog) and messages from other programs wait until the copy is done,
    // as they did while the window was busy without the dialog.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
  }

 private:
  void open(const std::string& path) {
    const QString library = QFileInfo(QString::fromStdString(path)).completeBaseName();
    // A window of its own: the window that opens the library may be a
    // splash that goes before the copy ends.
    dialog_ = new QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    dialog_->setObjectName(QStringLiteral("importProgress"));
    dialog_->setWindowTitle(QString::fromStdString(platform::applicationTitle()));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumWidth(420);
    auto* layout = new QVBoxLayout(dialog_);
    layout->addWidget(new QLabel(QStringLiteral("正在读取价格库“%1”……").arg(library), dialog_));
    bar_ = new QProgressBar(dialog_);
    bar_->setRange(0, 1000);
    layout->addWidget(bar_);
    dialog_->show();
  }
  void close() {
    clock_.invalidate();
    if (dialog_) dialog_->close();
    dialog_ = nullptr;
  }

  const int showAfterMs_;
  QElapsedTimer clock_;
  QPointer<QDialog> dialog_;
  QProgressBar* bar_ = nullptr;  // the dialog's
};

}  // namespace

void installImportProgress(int showAfterMs) {
  auto dialog = std::make_shared<ImportDialog>(showAfterMs);
  ado::setImportProgress(
      [dialog](const std::string& path, uint64_t done, uint64_t total) { dialog->update(path, done, total); });
}

}  // namespace price_windows
