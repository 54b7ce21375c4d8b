// The engine's page memory: blocks carved from chunks, reused, and handed
// back to the system once a chunk is empty; and the engine using it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "platform/database/engine_memory.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"

namespace {

using ado::PageSlab;

#if defined(__linux__) && defined(__GLIBC__)

TEST(PageSlab, HandsOutDistinctBlocksAndTakesThemBackForReuse) {
  PageSlab slab(4 * PageSlab::kChunk);
  ASSERT_TRUE(slab.valid());
  EXPECT_TRUE(PageSlab::fits(4096 + 300));
  EXPECT_FALSE(PageSlab::fits(4000));
  EXPECT_FALSE(PageSlab::fits(PageSlab::kSlot + 1));
  // More than one chunk's worth, each block written whole and read back.
  std::vector<unsigned char*> blocks;
  for (std::size_t i = 0; i < PageSlab::kSlotsPerChunk + 10; ++i) {
    auto* b = static_cast<unsigned char*>(slab.allocate());
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(slab.owns(b));
    std::memset(b, int(i & 0xFF), PageSlab::kSlot);
    blocks.push_back(b);
  }
  std::set<unsigned char*> distinct(blocks.begin(), blocks.end());
  EXPECT_EQ(distinct.size(), blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const unsigned char want = static_cast<unsigned char>(i & 0xFF);
    ASSERT_TRUE(std::all_of(blocks[i], blocks[i] + PageSlab::kSlot, [&](unsigned char c) { return c == want; }))
        << "block " << i << " shares bytes with another";
  }
  EXPECT_EQ(slab.stats().live, blocks.size());
  EXPECT_EQ(slab.stats().committed, 2u);
  // A block given back is the next one handed out.
  slab.release(blocks[5]);
  EXPECT_EQ(slab.allocate(), blocks[5]);
  int onStack = 0;
  EXPECT_FALSE(slab.owns(&onStack));
  for (unsigned char* b : blocks) slab.release(b);
  EXPECT_EQ(slab.stats().live, 0u);
}

TEST(PageSlab, AnEmptiedChunkGoesBackToTheSystemButOneIsKept) {
  PageSlab slab(4 * PageSlab::kChunk);
  ASSERT_TRUE(slab.valid());
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < 3 * PageSlab::kSlotsPerChunk; ++i) blocks.push_back(slab.allocate());
  ASSERT_EQ(std::count(blocks.begin(), blocks.end(), nullptr), 0);
  EXPECT_EQ(slab.stats().resident, 3u);
  for (void* b : blocks) slab.release(b);
  PageSlab::Stats s = slab.stats();
  EXPECT_EQ(s.live, 0u);
  EXPECT_EQ(s.committed, 3u);
  EXPECT_EQ(s.resident, 1u);  // the spare, for the next library
  // The next blocks come from the chunks there are, not from new ones, and
  // read as fresh memory where a chunk was handed back.
  blocks.clear();
  for (std::size_t i = 0; i < 3 * PageSlab::kSlotsPerChunk; ++i) {
    void* b = slab.allocate();
    ASSERT_NE(b, nullptr);
    blocks.push_back(b);
  }
  s = slab.stats();
  EXPECT_EQ(s.committed, 3u);
  EXPECT_EQ(s.resident, 3u);
  for (void* b : blocks) slab.release(b);
}

TEST(PageSlab, AUsedUpReservationHandsOutNothingUntilABlockComesBack) {
  PageSlab slab(PageSlab::kChunk);
  ASSERT_TRUE(slab.valid());
  std::vector<void*> blocks;
  for (std::size_t i = 0; i < PageSlab::kSlotsPerChunk; ++i) blocks.push_back(slab.allocate());
  ASSERT_EQ(std::count(blocks.begin(), blocks.end(), nullptr), 0);
  EXPECT_EQ(slab.allocate(), nullptr);
  slab.release(blocks.back());
  EXPECT_EQ(slab.allocate(), blocks.back());
  EXPECT_EQ(slab.allocate(), nullptr);
  for (void* b : blocks) slab.release(b);
}

TEST(PageSlab, ThreadsNeverShareABlock) {
  PageSlab slab(64 * PageSlab::kChunk);
  ASSERT_TRUE(slab.valid());
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 random(unsigned(t) + 1);
      std::vector<std::pair<unsigned*, unsigned>> held;
      for (unsigned i = 0; i < 20000; ++i) {
        if (held.size() < 500 && (held.empty() || random() % 3 != 0)) {
          auto* b = static_cast<unsigned*>(slab.allocate());
          if (!b) continue;
          const unsigned mark = (unsigned(t) << 24) | i;
          std::fill(b, b + PageSlab::kSlot / sizeof(unsigned), mark);
          held.emplace_back(b, mark);
        } else {
          const std::size_t k = random() % held.size();
          auto [b, mark] = held[k];
          if (!std::all_of(b, b + PageSlab::kSlot / sizeof(unsigned), [&](unsigned v) { return v == mark; }))
            ++wrong[std::size_t(t)];
          slab.release(b);
          held[k] = held.back();
          held.pop_back();
        }
      }
      for (auto [b, mark] : held) slab.release(b);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(slab.stats().live, 0u);
}

#endif

// The engine's own blocks: a page-sized one lives in the slab, reports its
// slot as its size, and keeps its bytes when it grows out of it.
TEST(EngineMemory, TheEnginesPagesComeFromTheSlab) {
  ado::useEngineMemory();
  const PageSlab* slab = ado::engineSlab();
  if (!slab) GTEST_SKIP() << "the engine keeps its own allocator on this build";
  auto* p = static_cast<char*>(sqlite3_malloc(4096 + 200));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(slab->owns(p));
  EXPECT_EQ(sqlite3_msize(p), PageSlab::kSlot);
  for (int i = 0; i < 4296; ++i) p[i] = char(i * 7);
  char* same = static_cast<char*>(sqlite3_realloc(p, 4400));
  EXPECT_EQ(same, p);
  char* grown = static_cast<char*>(sqlite3_realloc(same, 100000));
  ASSERT_NE(grown, nullptr);
  EXPECT_FALSE(slab->owns(grown));
  bool kept = true;
  for (int i = 0; i < 4296; ++i) kept = kept && grown[i] == char(i * 7);
  EXPECT_TRUE(kept);
  sqlite3_free(grown);
  void* small = sqlite3_malloc(100);
  EXPECT_FALSE(slab->owns(small));
  EXPECT_GE(sqlite3_msize(small), 100u);
  sqlite3_free(small);

  // A library's copy lives there while it is open, and leaves with it.
  // (Imported: a cache entry's pages are read from its mapping instead.)
  const bool cached = ado::libraryCacheEnabled();
  ado::setLibraryCacheEnabled(false);
  const std::size_t before = slab->stats().live;
  {
    fixtures::TempDir dir;
    jetwrite::Database db = fixtures::library("");
    jetwrite::Table t{"Items", {{"ID", fixtures::ColumnType::Long}, {"Name", fixtures::ColumnType::Text, 50}}, {}};
    for (int i = 0; i < 3000; ++i) t.rows.push_back({std::to_string(i), jetwrite::Value("名称 " + std::to_string(i))});
    db.tables.push_back(t);
    const std::string lib = fixtures::writeLibrary(dir, "items.zdj", db);
    auto opened = ado::Database::open(lib, "");
    EXPECT_GT(slab->stats().live, before + 20);
  }
  EXPECT_EQ(slab->stats().live, before);
  ado::setLibraryCacheEnabled(cached);
}

}  // namespace
