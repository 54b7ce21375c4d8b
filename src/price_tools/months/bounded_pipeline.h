#pragma once
// Work in two stages with a bound on what is held between them: items are
// opened one after the other on the caller's thread (an open may copy a
// library into the cache and tell its progress there), and each opened item
// is read on one of a few helper threads while the next ones are opened.
#include <cstddef>
#include <functional>

namespace price_tools {

struct PipelineShape {
  int readers = 2;  // helper threads that read
  int held = 3;     // items opened and not yet read to their end, at most
};

// Calls open(i) for i = 0 .. count-1 in order on the caller's thread, and
// read(i) on a helper thread for each i whose open returned true. An open
// waits while `shape.held` items are opened and not yet read. The caller
// keeps what open makes (indexed by i) and lets it go in read. Returns when
// every read has ended. An exception from open stops the opening; one from
// read stops nothing else; the first of them is thrown again once every
// read that started has ended.
void openThenRead(std::size_t count, const std::function<bool(std::size_t)>& open,
                  const std::function<void(std::size_t)>& read, PipelineShape shape = {});

}  // namespace price_tools
