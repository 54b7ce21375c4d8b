#pragma once
// Coverage counters of a process that ends without running exit handlers.
//
// A coverage build (VELMORA_COVERAGE, scripts/coverage.sh) writes its counters
// when the process exits normally. A process that ends with _exit (a child
// that must not run its parent's exit handlers) loses them, unless it calls
// flushCoverage() just before: that writes the counters gathered so far. In a
// normal build flushCoverage() does nothing.
#if defined(VELMORA_COVERAGE) && VELMORA_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace common {

inline void flushCoverage() {
#if defined(VELMORA_COVERAGE) && VELMORA_COVERAGE
  __gcov_dump();
#endif
}

}  // namespace common
