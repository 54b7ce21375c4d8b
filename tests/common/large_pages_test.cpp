// Large pages for the heap: the tunables the programs start again with, and
// what they leave for the programs they start.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "common/large_pages.h"
#include "common/sanitizers.h"

namespace {

TEST(LargePages, TheChoiceIsAddedUnlessTheUserMadeItEitherWay) {
  EXPECT_EQ(common::withLargePages(nullptr), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(common::withLargePages(""), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(common::withLargePages("glibc.malloc.check=3"), "glibc.malloc.check=3:glibc.malloc.hugetlb=1");
  EXPECT_EQ(common::withLargePages("glibc.malloc.hugetlb=0"), std::nullopt);
  EXPECT_EQ(common::withLargePages("glibc.malloc.check=3:glibc.malloc.hugetlb=2"), std::nullopt);
  // A name that only begins alike is another tunable.
  EXPECT_EQ(common::withLargePages("glibc.malloc.hugetlbx=0"), "glibc.malloc.hugetlbx=0:glibc.malloc.hugetlb=1");
}

// The probe's three lines, run with GLIBC_TUNABLES as given (null: unset).
[[maybe_unused]] std::string runProbe(const char* tunables) {
  std::string command = "env -u VELMORA_HEAP_TUNED ";
  command += tunables ? std::string("GLIBC_TUNABLES='") + tunables + "' " : std::string("-u GLIBC_TUNABLES ");
  command += LARGE_PAGES_PROBE;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return "";
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  return out;
}

TEST(LargePages, TheProgramStartsAgainWithThemAndPassesOnTheUsersVariable) {
#if !defined(__GLIBC__) || __GLIBC__ < 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ < 35)
  GTEST_SKIP() << "the C library takes no such choice";
#elif defined(VELMORA_SANITIZED)
  GTEST_SKIP() << "the sanitizers' allocator takes no such choice";
#else
  if (!common::largePagesOnOffer()) GTEST_SKIP() << "the system offers no large pages";
  EXPECT_EQ(runProbe(nullptr), "again yes\nnow (unset)\nmark gone\n");
  EXPECT_EQ(runProbe("glibc.malloc.check=0"), "again yes\nnow glibc.malloc.check=0\nmark gone\n");
  // The user's own choice stands, and the program is not started again.
  EXPECT_EQ(runProbe("glibc.malloc.hugetlb=0"), "again no\nnow glibc.malloc.hugetlb=0\nmark gone\n");
#endif
}

}  // namespace
