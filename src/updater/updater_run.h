#pragma once
// One run of the updater, without its window: start-up, the list download and
// the decision, the download queue with its two timers, the install step, the
// save and exit steps. The window Frmsoftup shows what this holds and forwards
// the user's clicks; tests drive it headless in an event loop.
#include <QObject>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/http_transfer.h"
#include "updater/progress.h"
#include "updater/update_list.h"
#include "updater/updater_state.h"

namespace updater {

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
  void setCloseWaitMs(int ms) { closeWaitMs_ = ms; }

  // The window's load step.
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
  void refresh();

  UpdaterState state_;
  FormTexts form_;
  std::vector<ListRow> rows_;
  std::string updateMode_;
  bool listRead_ = false;
  bool ended_ = false;
  UpdaterView* view_ = nullptr;
  std::function<void()> endProgram_;
  int closeWaitMs_ = 5000;

  platform::HttpTransfer inet1_;  // files
  platform::HttpTransfer inet2_;  // the list
  QTimer queueTimer_;             // Timer1
  QTimer displayTimer_;           // Timer2
  TransferProgress progress_;
  std::FILE* listFile_ = nullptr;
  std::FILE* itemFile_ = nullptr;
  std::string itemTarget_, itemTemp_;
  std::vector<std::string> problems_;
  QElapsedTimer transferClock_;
  int64_t lastTransferBytes_ = 0;
  double lastTransferSeconds_ = 0;
};

}  // namespace updater
