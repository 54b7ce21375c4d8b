#include "updater/updater_run.h"

#include <QCoreApplication>
#include <QLockFile>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/atomic_file.h"
#include "common/cp936.h"
#include "common/items.h"
#include "common/log.h"
#include "common/program_folder.h"
#include "platform/messagebox/messagebox.h"
#include "updater/install.h"
#include "updater/local_files.h"
#include "updater/version.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

void removeFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

int64_t systemFreeSpace(const std::string& folder) {
  std::error_code ec;
  const fs::space_info info = fs::space(folder, ec);
  if (ec || info.available > static_cast<uintmax_t>(INT64_MAX)) return ec ? 0 : INT64_MAX;
  return static_cast<int64_t>(info.available);
}

// At most limit bytes of a file; nothing when it cannot be read or is larger.
std::optional<std::string> readBounded(const std::string& path, int64_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes;
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<size_t>(in.gcount()));
    if (static_cast<int64_t>(bytes.size()) > limit) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

UpdaterRun::UpdaterRun(QObject* parent) : QObject(parent) {
  queueTimer_.setInterval(100);
  displayTimer_.setInterval(1000);
  connect(&queueTimer_, &QTimer::timeout, this, &UpdaterRun::queueTick);
  connect(&displayTimer_, &QTimer::timeout, this, &UpdaterRun::displayTick);
  deadlineTimer_.setSingleShot(true);
  connect(&deadlineTimer_, &QTimer::timeout, this, &UpdaterRun::hiddenDeadline);
  endProgram_ = [] { QCoreApplication::exit(0); };
  setLimits(TransferLimits{});
}

// The partial files remove themselves.
UpdaterRun::~UpdaterRun() {
  inet1_.cancel();
  inet2_.cancel();
  releaseLock();
}

void UpdaterRun::setTransferTimeoutMs(int ms) {
  inet1_.setTimeoutMs(ms);
  inet2_.setTimeoutMs(ms);
}

void UpdaterRun::setLimits(TransferLimits limits) {
  if (!limits.freeSpace) limits.freeSpace = systemFreeSpace;
  limits_ = std::move(limits);
  for (platform::HttpTransfer* t : {&inet1_, &inet2_}) t->setMinimumSpeed(limits_.minBytes, limits_.speedWindowMs);
  inet2_.setMaxBytes(limits_.listMaxBytes);
}

void UpdaterRun::removeLeftovers() {
  // Under the lock no other updater works here: what a killed run left (its
  // unpack folders, its partial downloads) is nobody's.
  for (const std::string& path : leftoversIn(common::programFolder())) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) note("leftover not removed: " + path);
  }
}

bool UpdaterRun::takeLock() {
  lock_ = std::make_unique<QLockFile>(QString::fromStdString(localPath(kLockFile)));
  // Only a dead holder's lock is taken over, however old a live one is.
  lock_->setStaleLockTime(0);
  if (lock_->tryLock(0)) return true;
  const bool heldByAnother = lock_->error() == QLockFile::LockFailedError;
  lock_.reset();
  // A folder where no lock can be made (read-only) does not stop the run: it
  // could not change anything there either.
  return !heldByAnother;
}

void UpdaterRun::releaseLock() {
  if (lock_) lock_->unlock();
  lock_.reset();
}

void UpdaterRun::hiddenDeadline() {
  if (ended_ || form_.visible) return;
  note("hidden run ended: it passed its deadline of " + std::to_string(limits_.hiddenDeadlineMs / 1000) + " s");
  state_.stopRequested = true;
  closeWindow();
}

void UpdaterRun::note(const std::string& problem) {
  problems_.push_back(problem);
  qCWarning(common::logUpdater, "Quennar: %s", problem.c_str());
}

void UpdaterRun::refresh() {
  if (view_) view_->refresh();
}

// --- start-up -----------------------------------------------------------------

void UpdaterRun::load() {
  if (!takeLock()) {
    // Another updater is at work in this folder: this start ends at once and
    // touches nothing.
    ended_ = true;
    note("another updater is running in this folder");
    if (endProgram_) endProgram_();
    return;
  }
  deadlineTimer_.start(limits_.hiddenDeadlineMs);
  removeLeftovers();
  if (!FileExists(localPath(kSettingsFile))) {
    closeWindow();
    return;
  }
  readset(state_);
  if (FileExists(localPath(kLogFile))) readlog(state_);
  if (FileExists(localPath(kResetFile))) {
    applyAndEnd();
    return;
  }
  if (state_.listUrl.empty()) {
    // Nothing to fetch: a run the main program started has no window to show.
    closeWindow();
    return;
  }
  if (FileExists(localPath(kRawListFile))) removeFile(localPath(kRawListFile));
  form_.visible = false;
  refresh();
  startListDownload();
}

// --- the list ---------------------------------------------------------------------

void UpdaterRun::startListDownload() {
  inet2_.setUrl(state_.listUrl);
  platform::HttpTransfer::Handlers h;
  h.onResponse = [this] {
    if (!listFile_.isOpen() && !listFile_.open(localPath(kRawListFile)))
      note(std::string("update list not saved: cannot write ") + kRawListFile);
  };
  h.onData = [this](std::string_view bytes) {
    if (listFile_.isOpen() && !listFile_.write(bytes)) {
      note("update list not saved: write failed");
      inet2_.cancel();
      listFile_.discard();
      closeWindow();
    }
  };
  h.onStateChanged = [this](platform::InetState s) {
    // A failed list (refused, cut short, too large, too slow) leaves no up.ini.
    // (A file still named here was written whole until its last bytes.)
    const bool written = !listFile_.path().empty();
    if (s == platform::InetState::RequestFailed || !listFile_.close()) {
      if (s == platform::InetState::RequestFailed) note("update list not fetched: " + inet2_.errorText());
      else if (written) note("update list not saved: write failed");
      listFile_.discard();
      closeWindow();
      return;
    }
    listFile_.keep();
    if (!state_.publicKey.empty()) startSignatureDownload();
    else listArrived();
  };
  inet2_.execute(std::move(h));
}

void UpdaterRun::listArrived() {
  const std::string raw = localPath(kRawListFile);
  // Read once, within the list's bound; the first item is tested on the same
  // bytes that are then kept.
  const std::optional<std::string> bytes = readBounded(raw, limits_.listMaxBytes);
  if (!bytes) {
    removeFile(raw);
    closeWindow();
    return;
  }
  if (!state_.publicKey.empty() && !listTrusted(*bytes)) {
    removeFile(raw);
    closeWindow();
    return;
  }
  const auto first = common::readItems(common::fromCp936(*bytes), 1);
  if (first.empty() || first.front().find("版本=") == std::string::npos) {
    removeFile(raw);
    closeWindow();
    return;
  }
  const bool copied = common::writeFileAtomic(localPath(kListFile), *bytes);
  removeFile(raw);
  if (!copied) {
    note("cannot keep the update list");
    closeWindow();
    return;
  }
  readlist();
}

void UpdaterRun::readlist() {
  const auto items = common::readItemFile(localPath(kListFile), kMaxListItems);
  if (!items) {
    closeWindow();
    return;
  }
  ParsedList list = parseList(*items, state_, [this](UpdaterState& st) {
    if (!view_) return;
    const std::string result = view_->chooseGroups(st.choices, st.selection);
    if (!result.empty()) st.selection = result;
  });
  if (ended_) return;
  if (!list.title.empty()) form_.label2[0] = list.title;
  if (!list.version.empty()) form_.label2[1] = list.version;
  if (!list.date.empty()) form_.label2[5] = list.date;
  form_.text2 = list.notes;
  updateMode_ = list.updateMode;
  rows_.clear();
  for (ListRow& row : list.rows) {
    // The rule of the updater's names: an item its files cannot carry, or one
    // that would reach outside the folder or over its own files, is not listed.
    if (!row.header && !row.group) {
      const auto& c = row.cells;
      if (const std::string why = itemRefusal(c[1], c[2], c[6], c[7], c[8]); !why.empty()) {
        note("item " + c[1] + " refused: " + why);
        continue;
      }
    }
    rows_.push_back(std::move(row));
  }
  if (list.skippedItems > 0) note(std::to_string(list.skippedItems) + " file item(s) of the list skipped: field count");
  listRead_ = true;
  if (view_) view_->listChanged();
  decide();
}

void UpdaterRun::decide() {
  const bool hidden = state_.runMode == "隐藏";
  if (hidden) {
    form_.visible = false;
  } else {
    bool newerFound = false;
    if (!state_.installedVersion.empty() && isNewerVersion(toLowerText(form_.label2[1]), state_.installedVersion)) {
      if (!state_.promptText.empty() &&
          platform::MsgBox(state_.promptText, platform::MsgButtons::YesNo, "Ostravel") != platform::MsgResult::Yes) {
        closeWindow();
        return;
      }
      newerFound = true;
    }
    if (!newerFound && FileExists(localPath(kMarkerFile))) {
      closeWindow();
      return;
    }
    form_.visible = true;
    // A window the user sees is ended by the user.
    deadlineTimer_.stop();
  }
  refresh();
  if (updateMode_ == "自动") {
    startstop();
  } else if (hidden) {
    // Hidden without the automatic start: nobody could ever start or end it.
    closeWindow();
  }
}

// --- the queue ----------------------------------------------------------------------

void UpdaterRun::startstop() {
  if (ended_) return;
  if (form_.label1 == kCaptionStart) {
    form_.progressVisible = true;
    form_.label1 = kCaptionStop;
    queueTimer_.start();
    refresh();
  } else if (form_.label1 == kCaptionFinish) {
    savestate();
    if (state_.resetPending) applyAndEnd();
    else closeWindow();
  } else {
    state_.stopRequested = true;
    closeWindow();
  }
}

void UpdaterRun::configure() {
  if (ended_ || !view_) return;
  const std::string result = view_->chooseGroups(state_.choices, state_.selection);
  if (!result.empty()) state_.selection = result;
}

void UpdaterRun::setTicked(int row, bool ticked) {
  if (row <= 0 || row >= static_cast<int>(rows_.size()) || rows_[row].group) return;
  rows_[row].ticked = ticked;
  rows_[row].cells[0] = ticked ? "1" : "0";
}

void UpdaterRun::queueTick() {
  if (ended_) return;
  const int row = state_.currentRow;
  if (row >= static_cast<int>(rows_.size())) {
    form_.text1 = kCaptionFinish;
    form_.label1 = kCaptionFinish;
    queueTimer_.stop();
    refresh();
    if (state_.runMode == "隐藏") startstop();
    return;
  }
  const ListRow& r = rows_[row];
  if (!r.header && !r.group && r.ticked && !r.cells[5].empty()) {
    state_.itemName = r.cells[1];
    state_.itemDate = r.cells[2];
    state_.itemUrl = r.cells[5];
    state_.itemLocalName = r.cells[6];
    state_.itemMode = r.cells[7];
    state_.itemFolder = r.cells[8];
    state_.itemHash = r.sha256;
    queueTimer_.stop();
    sj(state_.itemUrl);
    return;
  }
  // Unticked rows, headers, groups, and ticked rows without an address.
  state_.currentRow.increment();
}

void UpdaterRun::moveOn() {
  state_.currentRow.increment();
  if (!ended_) queueTimer_.start();
}

void UpdaterRun::sj(const std::string& path) {
  if (!itemHashAcceptable()) {
    moveOn();
    return;
  }
  const auto target = pathInProgramFolder(state_.itemLocalName);
  if (!target) {
    note("item " + state_.itemName + " refused: local name leaves the program folder: " + state_.itemLocalName);
    moveOn();
    return;
  }
  if (isPendingSource(state_.pendingList, *target)) {
    // Downloaded now, it would replace what an earlier item left to be applied.
    note("item " + state_.itemName + " refused: another item's replacement is kept under " + state_.itemLocalName);
    moveOn();
    return;
  }
  itemTarget_ = *target;
  const fs::path t(itemTarget_);
  itemTemp_ = downloadName(itemTarget_);
  std::error_code ec;
  if (fs::create_directories(t.parent_path(), ec); ec) {
    note("item " + state_.itemName + " not saved: cannot make its folder: " + ec.message());
    moveOn();
    return;
  }
  // The file's ceiling: the fixed maximum, and what the disk can spare.
  const int64_t spare = limits_.freeSpace(t.parent_path().string()) - limits_.diskMargin;
  inet1_.setMaxBytes(std::max<int64_t>(0, std::min(limits_.fileMaxBytes, spare)));
  inet1_.setUrl(path);
  transferClock_.start();
  platform::HttpTransfer::Handlers h;
  h.onResponse = [this] { fileResponse(); };
  h.onData = [this](std::string_view bytes) { fileData(bytes); };
  h.onStateChanged = [this](platform::InetState s) { fileDone(s); };
  inet1_.execute(std::move(h));
}

void UpdaterRun::fileResponse() {
  const int64_t length = inet1_.contentLength();
  progress_.begin(length);
  form_.sizeKnown = progress_.sizeKnown();
  form_.psbMax = progress_.max();
  form_.psbValue = 0;
  form_.label2[2] = sizeText(length);
  if (!displayTimer_.isActive()) displayTimer_.start();
  itemHasher_.reset();
  if (!itemFile_.open(itemTemp_)) {
    inet1_.cancel();
    displayTimer_.stop();
    note("item " + state_.itemName + " not saved: cannot write " + itemTemp_);
    moveOn();
    return;
  }
  refresh();
}

void UpdaterRun::fileData(std::string_view bytes) {
  if (!itemFile_.isOpen()) return;
  if (!itemFile_.write(bytes)) {
    inet1_.cancel();
    itemFile_.discard();
    displayTimer_.stop();
    note("item " + state_.itemName + " not saved: write failed");
    moveOn();
    return;
  }
  itemHasher_.add(bytes);
  progress_.add(static_cast<int64_t>(bytes.size()), state_);
  form_.psbValue = progress_.value();
  form_.text1 = progress_.text();
  refresh();
}

void UpdaterRun::fileDone(platform::InetState s) {
  const bool saved = itemFile_.close();
  displayTimer_.stop();
  // A body that is empty is no file: a failed transfer like one cut short.
  const bool empty = s == platform::InetState::ResponseCompleted && inet1_.bytesReceived() == 0;
  if (s != platform::InetState::ResponseCompleted || !saved || empty) {
    itemFile_.discard();
    note("item " + state_.itemName + " not downloaded: " +
         (s != platform::InetState::ResponseCompleted ? inet1_.errorText() : empty ? "empty body" : "write failed"));
    moveOn();
    refresh();
    return;
  }
  lastTransferSeconds_ = transferClock_.nsecsElapsed() / 1e9;
  lastTransferBytes_ = inet1_.bytesReceived();
  progress_.finish(state_);
  form_.psbValue = progress_.value();
  form_.text1 = progress_.text();
  if (!itemHashMatches()) {
    itemFile_.discard();
    moveOn();
    refresh();
    return;
  }
  if (const std::error_code ec = itemFile_.keepAs(itemTarget_)) {
    note("item " + state_.itemName + " not saved: " + ec.message());
    moveOn();
    refresh();
    return;
  }
  state_.transferUsed = true;
  if (!state_.stopRequested) {
    const int row = state_.currentRow;
    if (row < static_cast<int>(rows_.size())) {
      rows_[row].cells[0] = "0";
      rows_[row].ticked = false;
    }
    if (view_) view_->listChanged();
    // Unpacking a large archive takes a while: the window keeps its events
    // (clicks, the display, the hidden run's deadline), and a run that ends
    // meanwhile stops the unpacking before anything is moved.
    QElapsedTimer sinceEvents;
    const InstallOutcome outcome = installitem(state_, [this, &sinceEvents](uint64_t) {
      if (!sinceEvents.isValid() || sinceEvents.elapsed() >= 20) {
        QCoreApplication::processEvents();
        sinceEvents.start();
      }
      return !ended_;
    });
    if (!outcome.installed) note("item " + state_.itemName + " refused: " + outcome.refusal);
    if (!outcome.problem.empty()) note("item " + state_.itemName + ": " + outcome.problem);
    moveOn();
  }
  refresh();
}

void UpdaterRun::displayTick() {
  if (ended_) return;
  const int kb = state_.kbThisSecond;
  form_.label2[2] = std::to_string(kb) + "KB/s";
  form_.label2[3] = hmsText(state_.elapsedSeconds);
  if (kb != 0 && progress_.sizeKnown())
    form_.label2[4] = hmsText(roundHalfEven(progress_.max() - progress_.value(), int64_t{kb} * kBlock));
  state_.kbThisSecond.set(0);
  state_.elapsedSeconds.increment();
  refresh();
}

// --- finishing --------------------------------------------------------------------------

void UpdaterRun::savestate() {
  if (!updater::savestate(state_, form_.label2[1], form_.label2[5], listRead_)) note("state not fully saved");
}

void UpdaterRun::applyAndEnd() {
  const ApplyResult r = applyreset(state_, closeWaitMs_);
  for (const auto& m : r.messages) note(m);
  closeWindow();
}

void UpdaterRun::closeWindow() { exitStep(); }

void UpdaterRun::exitStep() {
  if (ended_) return;
  ended_ = true;
  queueTimer_.stop();
  displayTimer_.stop();
  savestate();
  inet1_.cancel();
  inet2_.cancel();
  // An abandoned download leaves nothing under the item's name, nor a part of it.
  itemFile_.discard();
  listFile_.discard();
  if (FileExists(localPath(kMarkerFile))) removeFile(localPath(kMarkerFile));
  form_.visible = false;
  deadlineTimer_.stop();
  releaseLock();
  if (endProgram_) endProgram_();
}

}  // namespace updater
