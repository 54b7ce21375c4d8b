#pragma once
// What the benchmarks share: the reference tool they are measured against
// (mdb-export of mdbtools, run on the same file) and the median of a series.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// Runs `mdb-export FILE TABLE` with its output thrown away; returns the
// child's peak resident memory in KiB. Ends the benchmark when it cannot start.
inline long mdbExport(const std::string& file, const std::string& table) {
  pid_t pid;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>("mdb-export"), const_cast<char*>(file.c_str()),
                          const_cast<char*>(table.c_str()), nullptr};
  if (posix_spawnp(&pid, "mdb-export", &fa, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start mdb-export\n");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  return ru.ru_maxrss;
}

template <class T>
T median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace bench
