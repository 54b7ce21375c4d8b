#include "platform/database/engine_memory.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/sanitizers.h"

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#define VELMORA_PAGE_SLAB 1
#endif


namespace ado {

#ifdef VELMORA_PAGE_SLAB

PageSlab::PageSlab(std::size_t bytes) {
  const std::size_t chunks = bytes / kChunk;
  if (chunks == 0 || chunks > std::size_t(INT32_MAX)) return;
  // Reserved without access, so that none of it counts as memory until a
  // chunk is made usable; one chunk more, to start the range on a chunk's
  // boundary (where a large page can back it).
  const std::size_t span = (chunks + 1) * kChunk;
  void* got = ::mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (got == MAP_FAILED) return;
  char* raw = static_cast<char*>(got);
  char* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(raw) + kChunk - 1) & ~uintptr_t(kChunk - 1));
  if (aligned > raw) ::munmap(raw, std::size_t(aligned - raw));
  const std::size_t after = std::size_t(raw + span - (aligned + chunks * kChunk));
  if (after) ::munmap(aligned + chunks * kChunk, after);
  base_ = aligned;
  reserved_ = chunks;
  chunks_.reserve(chunks);  // filled as chunks are committed
#ifdef MADV_HUGEPAGE
  // A hint (without it, 4 KiB pages as before), from the second chunk on:
  // a library opened from its cache entry needs a few pages, and a large
  // page would be more to clear than it reads.
  if (chunks > 1) ::madvise(base_ + kChunk, (chunks - 1) * kChunk, MADV_HUGEPAGE);
#endif
}

PageSlab::~PageSlab() {
  if (base_) ::munmap(base_, reserved_ * kChunk);
}

void PageSlab::link(int32_t c, bool front) {
  Chunk& k = chunks_[std::size_t(c)];
  k.listed = true;
  if (front) {
    k.prev = -1;
    k.next = head_;
    (head_ >= 0 ? chunks_[std::size_t(head_)].prev : tail_) = c;
    head_ = c;
  } else {
    k.next = -1;
    k.prev = tail_;
    (tail_ >= 0 ? chunks_[std::size_t(tail_)].next : head_) = c;
    tail_ = c;
  }
}

void PageSlab::unlink(int32_t c) {
  Chunk& k = chunks_[std::size_t(c)];
  (k.prev >= 0 ? chunks_[std::size_t(k.prev)].next : head_) = k.next;
  (k.next >= 0 ? chunks_[std::size_t(k.next)].prev : tail_) = k.prev;
  k.prev = k.next = -1;
  k.listed = false;
}

bool PageSlab::commit() {
  if (std::size_t(top_) == reserved_) return false;
  if (::mprotect(base_ + std::size_t(top_) * kChunk, kChunk, PROT_READ | PROT_WRITE) != 0) return false;
  chunks_.emplace_back();
  link(top_, false);
  ++top_;
  return true;
}

void* PageSlab::allocate() {
  if (!base_) return nullptr;
  const std::lock_guard<std::mutex> hold(mutex_);
  if (head_ < 0 && !commit()) return nullptr;
  const int32_t c = head_;
  Chunk& k = chunks_[std::size_t(c)];
  if (c == spare_) spare_ = -1;
  void* block;
  if (k.free) {
    block = k.free;
    std::memcpy(&k.free, block, sizeof k.free);
  } else {
    if (k.carved == 0) ++resident_;
    block = base_ + std::size_t(c) * kChunk + std::size_t(k.carved++) * kSlot;
  }
  ++k.live;
  ++live_;
  if (!k.free && k.carved == kSlotsPerChunk) unlink(c);
  return block;
}

void PageSlab::release(void* p) {
  const std::lock_guard<std::mutex> hold(mutex_);
  const auto c = int32_t(std::size_t(static_cast<char*>(p) - base_) / kChunk);
  Chunk& k = chunks_[std::size_t(c)];
  std::memcpy(p, &k.free, sizeof k.free);
  k.free = p;
  --k.live;
  --live_;
  if (!k.listed) link(c, true);  // it has room again: used before emptier ones
  if (k.live > 0) return;
  // Emptied: one such chunk is kept for the next blocks (a library closed
  // and the next one opened); the others' memory goes back to the system.
  unlink(c);
  link(c, false);
  if (spare_ < 0) {
    spare_ = c;
    return;
  }
  ::madvise(base_ + std::size_t(c) * kChunk, kChunk, MADV_DONTNEED);
  k.free = nullptr;
  k.carved = 0;
  --resident_;
}

PageSlab::Stats PageSlab::stats() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return {live_, std::size_t(top_), resident_};
}

namespace {

std::atomic<PageSlab*> slab{nullptr};

#ifndef VELMORA_SANITIZED  // the sanitizers watch the C library's blocks, not these

void* engineMalloc(int n) {
  if (PageSlab::fits(std::size_t(n)))
    if (void* p = slab.load(std::memory_order_acquire)->allocate()) return p;
  return std::malloc(std::size_t(n));
}

void engineFree(void* p) {
  PageSlab* s = slab.load(std::memory_order_acquire);
  if (s->owns(p))
    s->release(p);
  else
    std::free(p);
}

void* engineRealloc(void* p, int n) {
  PageSlab* s = slab.load(std::memory_order_acquire);
  if (!s->owns(p)) return std::realloc(p, std::size_t(n));
  if (std::size_t(n) <= PageSlab::kSlot) return p;
  void* moved = std::malloc(std::size_t(n));
  if (!moved) return nullptr;
  std::memcpy(moved, p, PageSlab::kSlot);
  s->release(p);
  return moved;
}

int engineSize(void* p) {
  if (!p) return 0;
  if (slab.load(std::memory_order_acquire)->owns(p)) return int(PageSlab::kSlot);
  return int(malloc_usable_size(p));
}

int engineRoundup(int n) { return (n + 7) & ~7; }
int engineInit(void*) { return SQLITE_OK; }
void engineShutdown(void*) {}

// Address space for pages: far more than any library's copy needs (beyond
// it, pages come from the C library), and no more than an eighth of what
// the process may map at all.
std::size_t reservedBytes() {
  std::size_t bytes = std::size_t(16) << 30;
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    bytes = std::min<std::size_t>(bytes, std::size_t(limit.rlim_cur / 8));
  return bytes >= (std::size_t(64) << 20) ? bytes : 0;
}

#endif

}  // namespace

void useEngineMemory() {
#ifndef VELMORA_SANITIZED
  static std::once_flag once;
  std::call_once(once, [] {
    if (sizeof(void*) < 8) return;
    auto* made = new PageSlab(reservedBytes());
    if (!made->valid()) {
      delete made;
      return;
    }
    static const sqlite3_mem_methods methods = {engineMalloc, engineFree,     engineRealloc,   engineSize,
                                                engineRoundup, engineInit, engineShutdown, nullptr};
    slab.store(made, std::memory_order_release);
    // Refused once the engine has started (something opened it before us):
    // it keeps its own allocator then.
    if (sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) != SQLITE_OK) {
      slab.store(nullptr, std::memory_order_release);
      delete made;
    }
  });
#endif
}

const PageSlab* engineSlab() { return slab.load(std::memory_order_acquire); }

#else  // elsewhere the engine keeps its own allocator

PageSlab::PageSlab(std::size_t) {}
PageSlab::~PageSlab() = default;
void* PageSlab::allocate() { return nullptr; }
void PageSlab::release(void*) {}
PageSlab::Stats PageSlab::stats() const { return {}; }
void PageSlab::link(int32_t, bool) {}
void PageSlab::unlink(int32_t) {}
bool PageSlab::commit() { return false; }
void useEngineMemory() {}
const PageSlab* engineSlab() { return nullptr; }

#endif

}  // namespace ado
