#pragma once
// One run of the updater, without its window: start-up, the list download and
// the decision, the download queue with its two timers, the install step, the
// save and exit steps. The window Frmsoftup shows what this holds and forwards
// the user's clicks; tests drive it headless in an event loop.
#include <QObject>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/http_transfer.h"
#include "updater/local_files.h"
#include "updater/partial_file.h"
#include "updater/progress.h"
#include "updater/update_list.h"
#include "updater/update_trust.h"
#include "updater/updater_state.h"

class QLockFile;

namespace updater {

// The bounds of a run against a server that is not ours.
struct TransferLimits {
  // The update list: at most 1000 items of a few hundred bytes, with room for
  // long release notes; a larger answer is not a list.
  int64_t listMaxBytes = 4 << 20;
  // A file: never more than this (a library cannot pass 2 GB; an installer or
  // an archive of libraries stays below 4 GB) ...
  int64_t fileMaxBytes = int64_t{4} << 30;
  // ... and never so much that less than this stays free on its disk.
  int64_t diskMargin = int64_t{256} << 20;
  // Both transfers fail below this speed (bytes per window).
  int64_t minBytes = platform::kDefaultMinimumBytes;
  int speedWindowMs = platform::kDefaultSpeedWindowMs;
  // A run that never shows its window ends after this long, whatever it is
  // doing (a 2 GB library over a 2 Mbit/s line takes under 2.5 hours).
  int hiddenDeadlineMs = 3 * 3600 * 1000;
  // Free bytes on the disk of a folder; by default the system's figure
  // (a failure counts as no space).
  std::function<int64_t(const std::string& folder)> freeSpace;
};

inline constexpr const char* kCaptionStart = "开始升级";
inline constexpr const char* kCaptionStop = "暂停升级";
inline constexpr const char* kCaptionFinish = "完成";

// What the window shows.
struct FormTexts {
  std::array<std::string, 6> label2;  // title, version, speed, elapsed, remaining, date
  std::string text1;                  // percentage, then 完成
  std::string text2;                  // release notes
  std::string label1 = kCaptionStart;
  bool progressVisible = false;  // psb and Text1
  bool sizeKnown = true;         // psb can show a fraction
  int64_t psbMax = 0, psbValue = 0;
  bool visible = false;
};

// The window side of a run.
class UpdaterView {
 public:
  virtual ~UpdaterView() = default;
  // Texts, progress or visibility changed.
  virtual void refresh() {}
  // Rows were appended or a row's tick changed.
  virtual void listChanged() {}
  // The group dialog: the result text (its Tag) — empty when cancelled.
  virtual std::string chooseGroups(const std::string& choices, const std::string& selection) {
    (void)choices;
    (void)selection;
    return {};
  }
};

class UpdaterRun : public QObject {
  Q_OBJECT

 public:
  explicit UpdaterRun(QObject* parent = nullptr);
  ~UpdaterRun() override;

  void setView(UpdaterView* view) { view_ = view; }
  // What ends the program (the exit step's last step). By default the Qt event
  // loop is left with code 0.
  void setEndProgram(std::function<void()> end) { endProgram_ = std::move(end); }
  // Time-out of both transfers, and how long applyreset waits for the main program.
  void setTransferTimeoutMs(int ms);
  // The bounds of the transfers and of a hidden run; before load().
  void setLimits(TransferLimits limits);
  const TransferLimits& limits() const { return limits_; }
  // The list transfer, for settings that only tests change (name lookup,
  // trusted certificates).
  platform::HttpTransfer& listTransfer() { return inet2_; }
  platform::HttpTransfer& fileTransfer() { return inet1_; }
  void setCloseWaitMs(int ms) { closeWaitMs_ = ms; }

  // The window's load step. Ends the run at once, without the exit step, when
  // another updater holds the program folder's lock.
  void load();
  // The action button Label1.
  void startstop();
  // The configure button Label3.
  void configure();
  // The user ticked or unticked a row in column 0.
  void setTicked(int row, bool ticked);
  // The window closes (close image, system close): the exit step.
  void closeWindow();

  const UpdaterState& state() const { return state_; }
  UpdaterState& state() { return state_; }
  const FormTexts& form() const { return form_; }
  const std::vector<ListRow>& rows() const { return rows_; }
  const std::string& updateMode() const { return updateMode_; }
  bool listRead() const { return listRead_; }
  bool ended() const { return ended_; }
  bool queueTimerActive() const { return queueTimer_.isActive(); }
  bool displayTimerActive() const { return displayTimer_.isActive(); }
  // The last file transfer: bytes written and seconds from its request to its end.
  int64_t lastTransferBytes() const { return lastTransferBytes_; }
  double lastTransferSeconds() const { return lastTransferSeconds_; }
  // Items refused or failed during the run, with the reason.
  const std::vector<std::string>& problems() const { return problems_; }

  // For tests: one tick of either timer.
  void queueTick();
  void displayTick();

 private:
  void startListDownload();
  void listArrived();
  void readlist();
  void decide();
  void sj(const std::string& path);
  void fileResponse();
  void fileData(std::string_view bytes);
  void fileDone(platform::InetState state);
  void moveOn();
  void applyAndEnd();
  void exitStep();
  void savestate();
  void note(const std::string& problem);
  bool takeLock();
  void removeLeftovers();
  void releaseLock();
  void hiddenDeadline();
  void refresh();
  // With the vendor's key in upset.ini (updater_run_signed.cpp): the list's
  // signature is fetched after the list and checked before it is read; each
  // file is checked against its hash before it is kept.
  void startSignatureDownload();
  bool listTrusted(const std::string& list);
  void refuseList(const std::string& why, bool tellUser);
  bool itemHashAcceptable();
  bool itemHashMatches();
  void markCurrentFailed();

  UpdaterState state_;
  FormTexts form_;
  std::vector<ListRow> rows_;
  std::string updateMode_;
  bool listRead_ = false;
  bool ended_ = false;
  UpdaterView* view_ = nullptr;
  std::function<void()> endProgram_;
  int closeWaitMs_ = 5000;
  TransferLimits limits_;
  std::unique_ptr<QLockFile> lock_;
  QTimer deadlineTimer_;  // the hidden run's overall deadline

  platform::HttpTransfer inet1_;  // files
  platform::HttpTransfer inet2_;  // the list
  QTimer queueTimer_;             // Timer1
  QTimer displayTimer_;           // Timer2
  TransferProgress progress_;
  PartialFile listFile_;  // up.ini while it arrives
  PartialFile itemFile_;  // the current item while it arrives
  std::string itemTarget_, itemTemp_;
  std::vector<std::string> problems_;
  std::string signature_;     // the list's signature file
  Sha256Stream itemHasher_;   // the current item as it is written
  QElapsedTimer transferClock_;
  int64_t lastTransferBytes_ = 0;
  double lastTransferSeconds_ = 0;
};

}  // namespace updater
