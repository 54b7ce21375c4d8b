#pragma once
// One import of a library at a time, and imports that can be stopped.
//
// A library is imported (copied from its Jet file into the library cache) by
// whichever thread opens it first without a cache entry: the window's thread
// when the user opens it, or the background preparation of the program folder.
// Two opens of the same library at once give one import: the open that comes
// second waits for the one under way, then takes the entry it wrote (or, when
// that import failed or was stopped, imports the library itself). Libraries are
// told apart by the cache entry's key (full path, size, times, identity), so a
// library that changed meanwhile is another library.
//
// A thread that imports in the background names a stop flag; once the flag is
// set, an import under way on that thread ends at the next row it copies (its
// reading program is ended with it) by throwing ImportStopped, and nothing of
// it is kept.
#include <atomic>
#include <cstddef>
#include <exception>
#include <string>

namespace ado {

// Holds the library `key` names for one import. Waits while another thread
// holds it. An empty key (no cache) holds nothing and never waits.
class ImportFlight {
 public:
  explicit ImportFlight(std::string key);
  ~ImportFlight();
  ImportFlight(const ImportFlight&) = delete;
  ImportFlight& operator=(const ImportFlight&) = delete;

 private:
  std::string key_;
};

// The opens now waiting for another thread's import (tests see the wait).
std::size_t opensWaitingForImport();

// Imports on the calling thread stop once *flag is true; nullptr: they run to
// their end (the default). The flag must outlive the imports of the thread.
void setImportStopFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* importStopFlag();

struct ImportStopped : std::exception {
  const char* what() const noexcept override { return "the import was stopped"; }
};

// Throws ImportStopped when the calling thread's stop flag is set.
inline void checkImportStop(const std::atomic<bool>* flag) {
  if (flag && flag->load(std::memory_order_relaxed)) throw ImportStopped();
}

}  // namespace ado
