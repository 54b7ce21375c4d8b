#include "price_windows/prep/prep_indicator.h"

#include <QEvent>
#include <QFileSystemWatcher>
#include <QSizePolicy>
#include <QToolBar>

#include "common/program_folder.h"
#include "price_tools/prep/library_prep.h"
#include "price_windows/band/command_band.h"
#include "price_windows/host.h"

namespace price_windows {

PrepIndicator::PrepIndicator(const QString& folder, QWidget& window, QWidget* parent, int startMs, int settleMs)
    : QLabel(parent), folder_(folder), window_(window), startMs_(startMs) {
  setObjectName("LibraryPreparation");
  settle_.setSingleShot(true);
  settle_.setInterval(settleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (preparer_ && !stopped_) preparer_->prepare(folder_.toStdString());
  });
  window_.installEventFilter(this);
}

PrepIndicator::~PrepIndicator() { stop(); }

void PrepIndicator::start() {
  if (started_ || stopped_) return;
  started_ = true;
  // Called on the preparer's thread; the text is set on the window's.
  preparer_ = std::make_unique<price_tools::LibraryPreparer>([this](const price_tools::PrepProgress& p) {
    QMetaObject::invokeMethod(this, [this, p] { showProgress(p); }, Qt::QueuedConnection);
  });
  preparer_->prepare(folder_.toStdString());
  // A library the updater installs (or replaces) is prepared too, once the
  // folder has been quiet for a moment.
  watcher_ = new QFileSystemWatcher(QStringList{folder_}, this);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
}

void PrepIndicator::stop() {
  if (stopped_) return;
  stopped_ = true;
  settle_.stop();
  if (preparer_) preparer_->stop();
  clear();
}

void PrepIndicator::showProgress(const price_tools::PrepProgress& p) {
  if (!stopped_) setText(QString::fromStdString(price_tools::prepText(p)));
}

bool PrepIndicator::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &window_) {
    if (event->type() == QEvent::Show && !started_)
      QTimer::singleShot(startMs_, this, [this] { start(); });
    else if (event->type() == QEvent::Close)
      stop();
  }
  return QLabel::eventFilter(watched, event);
}

// Put at the end of the band, for the program folder.
void installLibraryPreparation(CommandBand& band) {
  auto* spacer = new QWidget(&band);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  band.addWidget(spacer);
  auto* indicator = new PrepIndicator(QString::fromStdString(common::programFolder()), band.host().widget(), &band);
  indicator->setContentsMargins(6, 0, 6, 0);
  band.addWidget(indicator);
}

}  // namespace price_windows
