#include "platform/database/import_flight.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace ado {

namespace {

struct Flights {
  std::mutex lock;
  std::condition_variable landed;
  // The libraries being imported now; the flag of those that give way.
  std::unordered_map<std::string, std::shared_ptr<std::atomic<bool>>> held;
  std::size_t waiting = 0;
};

Flights& flights() {
  static Flights f;
  return f;
}

thread_local const std::atomic<bool>* stopFlag = nullptr;
thread_local const std::atomic<bool>* flightGivenWay = nullptr;

}  // namespace

ImportFlight::ImportFlight(std::string key) : key_(std::move(key)) {
  if (key_.empty()) return;
  if (stopFlag) givenWay_ = std::make_shared<std::atomic<bool>>(false);
  Flights& f = flights();
  std::unique_lock guard(f.lock);
  for (auto it = f.held.find(key_); it != f.held.end(); it = f.held.find(key_)) {
    if (it->second) *it->second = true;
    ++f.waiting;
    f.landed.wait(guard);
    --f.waiting;
  }
  f.held.emplace(key_, givenWay_);
  before_ = flightGivenWay;
  flightGivenWay = givenWay_.get();
}

ImportFlight::~ImportFlight() {
  if (key_.empty()) return;
  flightGivenWay = before_;
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
ImportStops importStops() { return {stopFlag, flightGivenWay}; }

}  // namespace ado
