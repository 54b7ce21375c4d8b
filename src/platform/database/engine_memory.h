#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// Memory for the engine's pages. A library's copy is tens of thousands of
// page-sized blocks, each first touched as it is filled; on a virtual machine
// every fresh 4 KiB page costs a trap of several microseconds, which made up
// a fifth of a cold open. The blocks are therefore carved from 2 MiB chunks
// of one reserved range that the system is asked to back with large pages:
// one trap per chunk instead of one per page. Everything else the engine
// asks for goes to the C library as before.

namespace ado {

class PageSlab {
 public:
  static constexpr std::size_t kSlot = 4608;             // a 4 KiB page and the engine's header for it
  static constexpr std::size_t kSmallest = 4096;          // smaller blocks are not pages
  static constexpr std::size_t kChunk = std::size_t(1) << 21;
  static constexpr std::size_t kSlotsPerChunk = kChunk / kSlot;

  // Reserves `bytes` of address space (rounded down to whole chunks), none
  // of it memory yet. A reservation the system refuses leaves a slab that
  // hands out nothing (valid() false).
  explicit PageSlab(std::size_t bytes);
  ~PageSlab();
  PageSlab(const PageSlab&) = delete;
  PageSlab& operator=(const PageSlab&) = delete;

  bool valid() const { return base_ != nullptr; }
  static bool fits(std::size_t n) { return n >= kSmallest && n <= kSlot; }
  // A block of kSlot bytes, or nullptr once the reservation is used up.
  void* allocate();
  // Whether `p` is a block of this slab (and so must be released to it).
  bool owns(const void* p) const {
    const auto* c = static_cast<const char*>(p);
    return base_ && c >= base_ && c < base_ + reserved_ * kChunk;
  }
  void release(void* p);

  struct Stats {
    std::size_t live = 0;       // blocks handed out and not released
    std::size_t committed = 0;  // chunks ever made usable
    std::size_t resident = 0;   // of those, chunks holding memory (not handed back)
  };
  Stats stats() const;

 private:
  struct Chunk {
    void* free = nullptr;  // released blocks, each holding the next
    uint32_t live = 0;
    uint32_t carved = 0;   // blocks made from the chunk so far
    int32_t prev = -1, next = -1;
    bool listed = false;   // in the list of chunks with room
  };
  void link(int32_t c, bool front);
  void unlink(int32_t c);
  bool commit();

  char* base_ = nullptr;
  std::size_t reserved_ = 0;        // chunks of address space
  std::vector<Chunk> chunks_;       // the committed ones
  int32_t top_ = 0;                 // chunks committed
  int32_t head_ = -1, tail_ = -1;   // chunks with room: partly used first
  int32_t spare_ = -1;              // an emptied chunk kept for the next block
  std::size_t live_ = 0, resident_ = 0;
  mutable std::mutex mutex_;
};

// Gives the engine its page memory, once per process and before the engine's
// first use (afterwards it is too late, and the engine keeps the C library's
// allocator). Called by everything here that opens an engine.
void useEngineMemory();

// The slab the engine's pages come from, or nullptr when it has none.
const PageSlab* engineSlab();

}  // namespace ado
