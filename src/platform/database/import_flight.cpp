#include "platform/database/import_flight.h"

#include <condition_variable>
#include <mutex>
#include <unordered_set>

namespace ado {

namespace {

struct Flights {
  std::mutex lock;
  std::condition_variable landed;
  std::unordered_set<std::string> held;  // libraries being imported now
  std::size_t waiting = 0;
};

Flights& flights() {
  static Flights f;
  return f;
}

thread_local const std::atomic<bool>* stopFlag = nullptr;

}  // namespace

ImportFlight::ImportFlight(std::string key) : key_(std::move(key)) {
  if (key_.empty()) return;
  Flights& f = flights();
  std::unique_lock guard(f.lock);
  if (f.held.count(key_)) {
    ++f.waiting;
    f.landed.wait(guard, [&] { return !f.held.count(key_); });
    --f.waiting;
  }
  f.held.insert(key_);
}

ImportFlight::~ImportFlight() {
  if (key_.empty()) return;
  Flights& f = flights();
  {
    std::lock_guard guard(f.lock);
    f.held.erase(key_);
  }
  f.landed.notify_all();
}

std::size_t opensWaitingForImport() {
  Flights& f = flights();
  std::lock_guard guard(f.lock);
  return f.waiting;
}

void setImportStopFlag(const std::atomic<bool>* flag) { stopFlag = flag; }
const std::atomic<bool>* importStopFlag() { return stopFlag; }

}  // namespace ado
