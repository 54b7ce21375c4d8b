#include "updater/updater_run.h"

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/atomic_file.h"
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

}  // namespace

UpdaterRun::UpdaterRun(QObject* parent) : QObject(parent) {
  queueTimer_.setInterval(100);
  displayTimer_.setInterval(1000);
  connect(&queueTimer_, &QTimer::timeout, this, &UpdaterRun::queueTick);
  connect(&displayTimer_, &QTimer::timeout, this, &UpdaterRun::displayTick);
  endProgram_ = [] { QCoreApplication::exit(0); };
}

UpdaterRun::~UpdaterRun() {
  inet1_.cancel();
  inet2_.cancel();
  if (listFile_) std::fclose(listFile_);
  if (itemFile_) {
    std::fclose(itemFile_);
    removeFile(itemTemp_);
  }
}

void UpdaterRun::setTransferTimeoutMs(int ms) {
  inet1_.setTimeoutMs(ms);
  inet2_.setTimeoutMs(ms);
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
    if (!listFile_) listFile_ = std::fopen(localPath(kRawListFile).c_str(), "wb");
  };
  h.onData = [this](std::string_view bytes) {
    if (listFile_ && std::fwrite(bytes.data(), 1, bytes.size(), listFile_) != bytes.size()) {
      std::fclose(listFile_);
      listFile_ = nullptr;
      removeFile(localPath(kRawListFile));
    }
  };
  h.onStateChanged = [this](platform::InetState s) {
    bool written = listFile_ != nullptr;
    if (listFile_) {
      written = std::fclose(listFile_) == 0;
      listFile_ = nullptr;
    }
    if (s == platform::InetState::RequestFailed || !written) {
      if (s == platform::InetState::RequestFailed) note("update list not fetched: " + inet2_.errorText());
      removeFile(localPath(kRawListFile));
      closeWindow();
      return;
    }
    listArrived();
  };
  inet2_.execute(std::move(h));
}

void UpdaterRun::listArrived() {
  const std::string raw = localPath(kRawListFile);
  if (!FileExists(raw)) {
    closeWindow();
    return;
  }
  const auto first = common::readItemFile(raw, 1);
  if (!first || first->empty() || first->front().find("版本=") == std::string::npos) {
    removeFile(raw);
    closeWindow();
    return;
  }
  std::ifstream in(raw, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const bool copied = common::writeFileAtomic(localPath(kListFile), bytes);
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
  rows_ = std::move(list.rows);
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
  const auto target = pathInProgramFolder(state_.itemLocalName);
  if (!target) {
    note("item " + state_.itemName + " refused: local name leaves the program folder: " + state_.itemLocalName);
    moveOn();
    return;
  }
  itemTarget_ = *target;
  const fs::path t(itemTarget_);
  itemTemp_ = (t.parent_path() / ("." + t.filename().string() + ".download")).string();
  std::error_code ec;
  fs::create_directories(t.parent_path(), ec);
  inet1_.setUrl(path);
  transferClock_.start();
  platform::HttpTransfer::Handlers h;
  h.onResponse = [this] { fileResponse(); };
  h.onData = [this](std::string_view bytes) { fileData(bytes); };
  h.onStateChanged = [this](platform::InetState s) { fileDone(s); };
  inet1_.execute(std::move(h));
}

void UpdaterRun::fileResponse() {
  const auto length = inet1_.contentLength();
  progress_.begin(length);
  form_.sizeKnown = progress_.sizeKnown();
  form_.psbMax = progress_.max();
  form_.psbValue = 0;
  form_.label2[2] = sizeText(length.value_or(0));
  if (!displayTimer_.isActive()) displayTimer_.start();
  itemFile_ = std::fopen(itemTemp_.c_str(), "wb");
  if (!itemFile_) {
    inet1_.cancel();
    displayTimer_.stop();
    note("item " + state_.itemName + " not saved: cannot write " + itemTemp_);
    moveOn();
    return;
  }
  refresh();
}

void UpdaterRun::fileData(std::string_view bytes) {
  if (!itemFile_) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), itemFile_) != bytes.size()) {
    inet1_.cancel();
    std::fclose(itemFile_);
    itemFile_ = nullptr;
    removeFile(itemTemp_);
    displayTimer_.stop();
    note("item " + state_.itemName + " not saved: write failed");
    moveOn();
    return;
  }
  progress_.add(static_cast<int64_t>(bytes.size()), state_);
  form_.psbValue = progress_.value();
  form_.text1 = progress_.text();
  refresh();
}

void UpdaterRun::fileDone(platform::InetState s) {
  bool saved = false;
  if (itemFile_) {
    saved = std::fclose(itemFile_) == 0;
    itemFile_ = nullptr;
  }
  displayTimer_.stop();
  if (s != platform::InetState::ResponseCompleted || !saved) {
    removeFile(itemTemp_);
    note("item " + state_.itemName + " not downloaded: " + inet1_.errorText());
    moveOn();
    refresh();
    return;
  }
  lastTransferSeconds_ = transferClock_.nsecsElapsed() / 1e9;
  lastTransferBytes_ = inet1_.bytesReceived();
  progress_.finish(state_);
  form_.psbValue = progress_.value();
  form_.text1 = progress_.text();
  std::error_code ec;
  fs::rename(itemTemp_, itemTarget_, ec);
  if (ec) {
    removeFile(itemTemp_);
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
    const InstallOutcome outcome = installitem(state_);
    if (!outcome.installed) note("item " + state_.itemName + " refused: " + outcome.refusal);
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
  if (itemFile_) {
    // An abandoned download leaves nothing under the item's name.
    std::fclose(itemFile_);
    itemFile_ = nullptr;
    removeFile(itemTemp_);
  }
  if (listFile_) {
    std::fclose(listFile_);
    listFile_ = nullptr;
    removeFile(localPath(kRawListFile));
  }
  if (FileExists(localPath(kMarkerFile))) removeFile(localPath(kMarkerFile));
  form_.visible = false;
  if (endProgram_) endProgram_();
}

}  // namespace updater
