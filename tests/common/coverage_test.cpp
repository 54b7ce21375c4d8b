// flushCoverage: a child that ends with _exit keeps its coverage counters. Runs
// in coverage builds only (scripts/coverage.sh).
#include "common/coverage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

TEST(Coverage, AChildEndingWithExitWritesItsCounters) {
#if !(defined(VELMORA_COVERAGE) && VELMORA_COVERAGE)
  GTEST_SKIP() << "not a coverage build";
#else
  // The counters go below GCOV_PREFIX, read when they are written: the child's
  // land in a folder of their own.
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("velmora-gcov-" + std::to_string(rd()));
  fs::create_directories(dir);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("GCOV_PREFIX", dir.c_str(), 1);
    common::flushCoverage();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  size_t counters = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().extension() == ".gcda") ++counters;
  fs::remove_all(dir);
  EXPECT_GT(counters, 0u);
#endif
}
