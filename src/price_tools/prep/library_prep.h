#pragma once
// Libraries made ready before they are asked for: the libraries of a program
// folder that the library cache holds no good entry of are imported into it
// ahead of time, so that opening one later (a comparison, a history over the
// year, the main window's own open) is a warm open.
//
// The work is the provider's own open (ado::Database::open), one library at a
// time. An open of the same library by the user meanwhile takes the import
// over: the preparation's copy ends at its next row and the user's open
// imports the library at the user's priority (platform/database/import_flight.h);
// the preparation goes on with the next one.
//
// Used by velmora-cli cache (on its own thread, to the end) and by the main
// window (LibraryPreparer: in the background, at the lowest priority, stopped
// when the window closes).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace price_tools {

// Where a library of the folder stands.
enum class Readiness {
  Ready,      // the cache holds a good entry: an open is a warm open
  NotReady,   // an open would import it from its Jet file
  Unreadable  // it cannot be opened at all (damaged, not a library, locked)
};

struct LibraryState {
  std::string file;  // the file's real name in the folder ("2026-11.zdj")
  Readiness readiness = Readiness::NotReady;
  std::string problem;  // why it is unreadable: the provider's error text
};

// The libraries of `folder` ("*.zdj" in any letter case), in the order they
// are prepared in: those named by a month newest first, then the others in
// name order. Nothing is imported; a library is Ready exactly when an open
// would take it from the cache.
std::vector<LibraryState> libraryStates(const std::string& folder);

// How far a preparation has come: `done` of `total` libraries are through,
// `file` is the one under way ("" once all are through).
struct PrepProgress {
  std::size_t done = 0;
  std::size_t total = 0;
  std::string file;
};
using PrepObserver = std::function<void(const PrepProgress&)>;

// The indicator's text for `p`: "正在准备材料库 3/24" while the third of 24 is
// imported; "" when nothing is under way.
std::string prepText(const PrepProgress& p);

struct PrepResult {
  std::size_t imported = 0;
  std::vector<LibraryState> failed;  // those whose import failed, with the reason
  bool stopped = false;              // `stop` ended it before the last one
};

// Imports the libraries of `folder` that are not ready, in libraryStates'
// order, on the calling thread. `observer` hears of each library before its
// import and once at the end. Once `stop` is set the import under way ends at
// its next row (nothing of it kept) and no other begins. With the library cache
// switched off there is nothing to prepare.
PrepResult prepareLibraries(const std::string& folder, const std::atomic<bool>& stop,
                            const PrepObserver& observer = nullptr);

// prepareLibraries in the background: one thread of its own, at the lowest
// priority (and so is the reading program each import starts).
class LibraryPreparer {
 public:
  // `observer` is called on the preparer's thread.
  explicit LibraryPreparer(PrepObserver observer = nullptr);
  // Stops (see stop).
  ~LibraryPreparer();
  LibraryPreparer(const LibraryPreparer&) = delete;
  LibraryPreparer& operator=(const LibraryPreparer&) = delete;

  // Prepares the libraries of `folder` that are not ready. Asked while a
  // preparation runs, the folder is looked at again once it is through (a
  // library the updater has just installed).
  void prepare(const std::string& folder);

  // Stops at once: the import under way ends at its next row, and this
  // returns once the thread has ended. Later calls of prepare do nothing.
  void stop();

  // Waits until nothing is asked or under way (velmora-cli, tests).
  void waitUntilIdle();

 private:
  void run();

  PrepObserver observer_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> asked_;  // folders to look at, in order
  bool working_ = false;
  std::thread thread_;
};

}  // namespace price_tools
