#pragma once
// A program folder of monthly libraries (months_fixture::MonthFolder) with a
// library cache of its own, and what the tests of the preparation look at:
// the imports begun (told by the provider's import progress), and libraries
// large enough that their copy is told of more than once.
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "month_folder.h"
#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "price_tools/prep/library_prep.h"
#include "support/cache_home.h"

namespace prep_fixture {

// Products enough for the copy to be told of every 4096 rows several times.
inline std::vector<months_fixture::Item> manyProducts(int n = 12000) {
  std::vector<months_fixture::Item> items;
  for (int i = 1; i <= n; ++i)
    items.push_back({i, "螺纹钢 HRB400", "Φ" + std::to_string(i), "吨", 1 + i % 3, std::to_string(4000 + i % 97)});
  return items;
}

// Waits (a bounded time) until `done` holds; false when it never did.
inline bool waitFor(const std::function<bool()>& done, int ms = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Every call of the provider's import progress while the object lives, with
// the thread it came on; `hook` (if set) runs in each call, on that thread.
class ImportLog {
 public:
  struct Call {
    std::string path;
    uint64_t done, total;
    std::thread::id thread;
  };
  ImportLog() {
    ado::setImportProgress([this](const std::string& path, uint64_t done, uint64_t total) {
      std::function<void(const Call&)> hook;
      Call c{path, done, total, std::this_thread::get_id()};
      {
        std::lock_guard g(lock_);
        calls_.push_back(c);
        hook = hook_;
      }
      if (hook) hook(c);
    });
  }
  ~ImportLog() { ado::setImportProgress(nullptr); }
  void setHook(std::function<void(const Call&)> hook) {
    std::lock_guard g(lock_);
    hook_ = std::move(hook);
  }
  std::vector<Call> calls() const {
    std::lock_guard g(lock_);
    return calls_;
  }
  // The imports begun (the first word of each copy: done 0 with the rows to come).
  int begun() const {
    int n = 0;
    for (const Call& c : calls())
      if (c.done == 0) ++n;
    return n;
  }

 private:
  mutable std::mutex lock_;
  std::vector<Call> calls_;
  std::function<void(const Call&)> hook_;
};

class PrepFolder : public months_fixture::MonthFolder {
 public:
  PrepFolder() : cache_(cacheDir_.path().toStdString()) {}
  price_tools::Readiness readiness(const std::string& file) const {
    for (const auto& s : price_tools::libraryStates(path()))
      if (s.file == file) return s.readiness;
    return price_tools::Readiness::Unreadable;
  }
  void writeText(const std::string& name, const std::string& text) { std::ofstream(file(name)) << text; }

 private:
  QTemporaryDir cacheDir_;
  testsupport::CacheHome cache_;
};

}  // namespace prep_fixture
