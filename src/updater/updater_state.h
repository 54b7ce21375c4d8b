#pragma once
// The state record of the updater window, created empty when the program
// starts and owned by the window for the whole run.
#include <cstdint>
#include <limits>
#include <string>

namespace updater {

// A 16-bit signed counter: an increment that would pass 32767 is not carried
// out and the counter stays at 32767.
class Counter16 {
 public:
  Counter16() = default;
  Counter16(int16_t v) : value_(v) {}
  int16_t value() const { return value_; }
  operator int() const { return value_; }
  void increment() {
    if (value_ < std::numeric_limits<int16_t>::max()) ++value_;
  }
  void set(int16_t v) { value_ = v; }

 private:
  int16_t value_ = 0;
};

struct UpdaterState {
  Counter16 kbThisSecond;    // 1024-byte blocks written during the current second
  Counter16 elapsedSeconds;  // seconds counted by the display timer over the run
  bool stopRequested = false;
  Counter16 currentRow;      // list row the download queue is at

  // upset.ini
  std::string mainTitle, mainExe, listUrl, selection;
  // upset.ini's fifth item: the vendor's public key (minisign's base64 line);
  // empty: lists are not signed.
  std::string publicKey;
  // Quennar.log
  std::string installedVersion, installedDate, installedList;
  // list keys 方式, 提示, 定制
  std::string runMode, promptText, choices;
  std::string selectionAtLoad;

  // the list row being downloaded
  std::string itemName, itemDate, itemUrl, itemLocalName, itemMode, itemFolder;
  std::string itemHash;  // the SHA-256 the list gives (hex), or empty

  bool resetPending = false;
  std::string pendingList;
  // The installedList entries of the items in pendingList, in the same order:
  // a replacement given up is taken out of the installed list again.
  std::string pendingInstalled;
  bool transferUsed = false;
};

}  // namespace updater
