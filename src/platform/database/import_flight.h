#pragma once
// One import of a library at a time, and imports that can be stopped.
//
// A library is imported (copied from its Jet file into the library cache) by
// whichever thread opens it first without a cache entry: the window's thread
// when the user opens it, or the background preparation of the program folder.
// Two opens of the same library at once give one import: the open that comes
// second waits for the one under way, then takes the entry it wrote (or, when
// that import failed or was stopped, imports the library itself). An import
// made in the background (on a thread with a stop flag, at the lowest
// priority) is not waited for, since it may get no processor while anything
// else runs: the open asks it to give way, it ends at its next row
// (ImportTakenOver), and the open imports the library at its own priority.
// Libraries are told apart by the cache entry's key (full path, size, times,
// identity), so a library that changed meanwhile is another library.
//
// A thread that imports in the background names a stop flag; once the flag is
// set, an import under way on that thread ends at the next row it copies (its
// reading program is ended with it) by throwing ImportStopped, and nothing of
// it is kept.
#include <atomic>
#include <cstddef>
#include <exception>
#include <memory>
#include <string>

namespace ado {

// Holds the library `key` names for one import on the calling thread. Waits
// while another thread holds it, after asking a background holder to give
// way. The calling thread's import gives way itself when the thread has a
// stop flag. An empty key (no cache) holds nothing and never waits.
class ImportFlight {
 public:
  explicit ImportFlight(std::string key);
  ~ImportFlight();
  ImportFlight(const ImportFlight&) = delete;
  ImportFlight& operator=(const ImportFlight&) = delete;

 private:
  std::string key_;
  std::shared_ptr<std::atomic<bool>> givenWay_;
  const std::atomic<bool>* before_ = nullptr;  // the thread's flight before this one
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
// Another open of the library took the import over.
struct ImportTakenOver : ImportStopped {
  const char* what() const noexcept override { return "the import was taken over"; }
};

// What ends the calling thread's import: its stop flag, and its flight's
// giving way.
struct ImportStops {
  const std::atomic<bool>* stop = nullptr;
  const std::atomic<bool>* givenWay = nullptr;
};
ImportStops importStops();

// Whether one of them is set.
inline bool importStopAsked(const ImportStops& s) {
  return (s.stop && s.stop->load(std::memory_order_relaxed)) ||
         (s.givenWay && s.givenWay->load(std::memory_order_relaxed));
}

// Throws ImportTakenOver or ImportStopped when one of them is set.
inline void checkImportStop(const ImportStops& s) {
  if (s.givenWay && s.givenWay->load(std::memory_order_relaxed)) throw ImportTakenOver();
  if (s.stop && s.stop->load(std::memory_order_relaxed)) throw ImportStopped();
}

}  // namespace ado
