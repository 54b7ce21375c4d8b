#include "price_tools/months/bounded_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace price_tools {

void openThenRead(std::size_t count, const std::function<bool(std::size_t)>& open,
                  const std::function<void(std::size_t)>& read, PipelineShape shape) {
  const int held = std::max(1, shape.held);
  const int readers = std::max(1, std::min<int>(shape.readers, static_cast<int>(std::min<std::size_t>(count, 64))));
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::size_t> opened;  // opened, not yet taken by a reader
  int holding = 0;                 // opened and not yet read to the end
  bool allOpened = false;
  std::exception_ptr failure;
  auto fail = [&](std::exception_ptr e) {
    const std::lock_guard<std::mutex> g(lock);
    if (!failure) failure = e;
  };

  auto reader = [&] {
    for (;;) {
      std::size_t i;
      {
        std::unique_lock<std::mutex> g(lock);
        changed.wait(g, [&] { return !opened.empty() || allOpened; });
        if (opened.empty()) return;
        i = opened.front();
        opened.pop_front();
      }
      try {
        read(i);
      } catch (...) {
        fail(std::current_exception());
      }
      const std::lock_guard<std::mutex> g(lock);
      --holding;
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  if (count > 0)
    for (int k = 0; k < readers; ++k) threads.emplace_back(reader);

  try {
    for (std::size_t i = 0; i < count; ++i) {
      {
        std::unique_lock<std::mutex> g(lock);
        changed.wait(g, [&] { return holding < held; });
        ++holding;  // counted before the open: what it makes is held from then on
      }
      bool good = false;
      try {
        good = open(i);
      } catch (...) {
        const std::lock_guard<std::mutex> g(lock);
        --holding;
        throw;
      }
      const std::lock_guard<std::mutex> g(lock);
      if (good)
        opened.push_back(i);
      else
        --holding;
      changed.notify_all();
    }
  } catch (...) {
    fail(std::current_exception());
  }
  {
    const std::lock_guard<std::mutex> g(lock);
    allOpened = true;
    changed.notify_all();
  }
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace price_tools
