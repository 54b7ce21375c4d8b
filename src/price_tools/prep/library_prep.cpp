#include "price_tools/prep/library_prep.h"

#include <algorithm>
#include <filesystem>

#include "data/browse.h"
#include "data/connections.h"
#include "platform/database/adodb.h"
#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "platform/process/child.h"
#include "price_tools/months/month_order.h"

namespace price_tools {

namespace {

// Every library of a program folder is opened with the one password the
// program's library connections give.
std::string libraryPassword() {
  return ado::parseConnectionString(data::libraryConnectionString("")).databasePassword;
}

std::string pathIn(const std::string& folder, const std::string& file) {
  return (std::filesystem::path(folder) / file).string();
}

// Newest month first: the library a user compares first is the one that just
// came. Those without a month follow in name order.
std::vector<std::string> preparationOrder(const std::string& folder) {
  const std::vector<std::string> ordered = inMonthOrder(data::folderFiles(folder, ".zdj"));
  std::vector<std::string> dated, other;
  for (const std::string& f : ordered) (monthOf(f) ? dated : other).push_back(f);
  std::reverse(dated.begin(), dated.end());
  dated.insert(dated.end(), other.begin(), other.end());
  return dated;
}

LibraryState stateOf(const std::string& folder, const std::string& file, const std::string& password) {
  LibraryState s{file, Readiness::NotReady, ""};
  try {
    if (ado::Database::open(pathIn(folder, file), password, ado::ReadMode::CacheOnly)) s.readiness = Readiness::Ready;
  } catch (const ado::Error& e) {
    s.readiness = Readiness::Unreadable;
    s.problem = e.description;
  }
  return s;
}

}  // namespace

std::vector<LibraryState> libraryStates(const std::string& folder) {
  const std::string password = libraryPassword();
  std::vector<LibraryState> out;
  for (const std::string& file : preparationOrder(folder)) out.push_back(stateOf(folder, file, password));
  return out;
}

std::string prepText(const PrepProgress& p) {
  if (p.file.empty() || p.done >= p.total) return "";
  return "正在准备材料库 " + std::to_string(p.done + 1) + "/" + std::to_string(p.total);
}

PrepResult prepareLibraries(const std::string& folder, const std::atomic<bool>& stop, const PrepObserver& observer) {
  PrepResult result;
  if (!ado::libraryCacheEnabled()) return result;
  const std::string password = libraryPassword();
  std::vector<std::string> todo;
  for (const LibraryState& s : libraryStates(folder))
    if (s.readiness == Readiness::NotReady) todo.push_back(s.file);

  // The thread's imports end at the flag; the one it had before is put back.
  const std::atomic<bool>* const before = ado::importStopFlag();
  ado::setImportStopFlag(&stop);
  std::size_t done = 0;
  for (const std::string& file : todo) {
    if (stop) break;
    if (observer) observer({done, todo.size(), file});
    try {
      // The open imports and writes the entry; the copy in memory goes at once.
      ado::Database::open(pathIn(folder, file), password);
      ++result.imported;
    } catch (const ado::ImportTakenOver&) {
      // The user opened it meanwhile: that open imports it.
    } catch (const ado::ImportStopped&) {
      break;
    } catch (const ado::Error& e) {
      result.failed.push_back({file, Readiness::Unreadable, e.description});
    } catch (const std::exception& e) {
      result.failed.push_back({file, Readiness::NotReady, e.what()});
    }
    ++done;
  }
  ado::setImportStopFlag(before);
  result.stopped = stop && done < todo.size();
  if (observer && !result.stopped) observer({done, todo.size(), ""});
  return result;
}

LibraryPreparer::LibraryPreparer(PrepObserver observer) : observer_(std::move(observer)) {}

LibraryPreparer::~LibraryPreparer() { stop(); }

void LibraryPreparer::prepare(const std::string& folder) {
  std::lock_guard guard(lock_);
  if (stop_) return;
  if (std::find(asked_.begin(), asked_.end(), folder) == asked_.end()) asked_.push_back(folder);
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  changed_.notify_all();
}

void LibraryPreparer::stop() {
  {
    std::lock_guard guard(lock_);
    stop_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void LibraryPreparer::waitUntilIdle() {
  std::unique_lock guard(lock_);
  changed_.wait(guard, [&] { return stop_ || (asked_.empty() && !working_); });
}

void LibraryPreparer::run() {
  platform::runThisThreadAtLowestPriority();
  std::unique_lock guard(lock_);
  for (;;) {
    changed_.wait(guard, [&] { return stop_ || !asked_.empty(); });
    if (stop_) break;
    const std::string folder = asked_.front();
    asked_.erase(asked_.begin());
    working_ = true;
    guard.unlock();
    prepareLibraries(folder, stop_, observer_);
    guard.lock();
    working_ = false;
    changed_.notify_all();
  }
  working_ = false;
  changed_.notify_all();
}

}  // namespace price_tools
