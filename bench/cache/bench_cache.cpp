// bench_cache LIBRARY.zdj [password]
//
// Opening a library with and without the library cache, each case in a process
// of its own so that its peak memory is its own:
//   cold   the cache off: the Jet file read and every table imported (as before)
//   first  an empty cache: import, the entry written, then served from it
//   warm   the entry present: the file mapped, nothing imported
// plus mdb-export dumping the same tables in the same run, and the two ways of
// writing an entry after an import (SQLite's backup, VACUUM INTO) side by side.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"
#include "support/reference.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct Run {
  double seconds = 0, query = 0;
  long peakKb = 0;  // the process and the reader it started, whichever is larger
};

// One case in a child process; it writes "seconds query" to a pipe.
Run runPhase(const char* self, const std::string& phase, const std::string& file, const std::string& password) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    execl(self, self, "--phase", phase.c_str(), file.c_str(), password.c_str(), nullptr);
    _exit(127);
  }
  close(fds[1]);
  char buf[256] = {};
  ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Run r;
  if (n <= 0 || std::sscanf(buf, "%lf %lf", &r.seconds, &r.query) != 2) {
    std::fprintf(stderr, "phase %s failed\n", phase.c_str());
    std::exit(1);
  }
  r.peakKb = ru.ru_maxrss;
  return r;
}

int phaseMain(const std::string& phase, const std::string& file, const std::string& password) {
  ado::setLibraryCacheEnabled(phase != "cold" && phase != "write");
  auto t0 = Clock::now();
  auto db = ado::Database::open(file, password);
  const double open = since(t0);
  if (phase == "write") {
    // The two ways of writing an entry from the imported copy.
    const std::string folder = ado::libraryCacheFolder();
    fs::create_directories(folder);
    const std::string a = folder + "/backup.tmp", b = folder + "/vacuum.tmp";
    t0 = Clock::now();
    sqlite3* out = nullptr;
    sqlite3_open(a.c_str(), &out);
    sqlite3_exec(out, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_backup* bk = sqlite3_backup_init(out, "main", db->sqlite(), "main");
    sqlite3_backup_step(bk, -1);
    sqlite3_backup_finish(bk);
    sqlite3_close(out);
    int fd = ::open(a.c_str(), O_RDONLY);
    fsync(fd);
    close(fd);
    const double backup = since(t0);
    t0 = Clock::now();
    sqlite3_exec(db->sqlite(), ("VACUUM INTO '" + b + "'").c_str(), nullptr, nullptr, nullptr);
    fd = ::open(b.c_str(), O_RDONLY);
    fsync(fd);
    close(fd);
    const double vacuum = since(t0);
    fs::remove(a);
    fs::remove(b);
    std::printf("%.6f %.6f\n", backup, vacuum);
    return 0;
  }
  // A product grid fill and a name search, so that the pages they need are read.
  t0 = Clock::now();
  db->execute(
      "select CLProduct.Name,Factory.Name,CLProduct.Model,CLProduct.PriceTax,CLProduct.ID from CLProduct inner join "
      "Factory on CLProduct.FactoryID=Factory.ID where CLProduct.CategoryID=1017 order by CLProduct.ID desc");
  db->execute("select ID from CLProduct where Name like '%钢%'");
  std::printf("%.6f %.6f\n", open, since(t0));
  return 0;
}

void print(const char* what, const std::vector<Run>& runs) {
  std::vector<double> s, q;
  std::vector<long> m;
  for (const auto& r : runs) s.push_back(r.seconds), q.push_back(r.query), m.push_back(r.peakKb);
  std::printf("%-46s %9.3f %9.3f %9.1f %9.3f\n", what, bench::median(s), *std::min_element(s.begin(), s.end()),
              bench::median(m) / 1024.0, bench::median(q));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "--phase") return phaseMain(argv[2], argv[3], argv[4]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_cache LIBRARY.zdj [password]\n");
    return 2;
  }
  const std::string file = fs::absolute(argv[1]).string();
  const std::string password = argc > 2 ? argv[2] : "4917";
  if (!fs::exists(file)) {
    std::fprintf(stderr, "no file %s\n", file.c_str());
    return 1;
  }
  // A cache folder of the benchmark's own, never the user's.
  const fs::path home = fs::temp_directory_path() / ("velmora-bench-cache-" + std::to_string(getpid()));
  setenv("XDG_CACHE_HOME", home.c_str(), 1);
  unsetenv("VELMORA_NO_CACHE");
  const int runs = 5;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;

  std::vector<Run> cold, first, warm, write;
  for (int i = 0; i < runs; ++i) cold.push_back(runPhase(self, "cold", file, password));
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(home);
    first.push_back(runPhase(self, "first", file, password));
  }
  for (int i = 0; i < runs; ++i) warm.push_back(runPhase(self, "warm", file, password));
  std::uintmax_t entry = 0;
  for (const auto& e : fs::directory_iterator(home / "velmora")) entry += e.file_size();
  for (int i = 0; i < runs; ++i) write.push_back(runPhase(self, "write", file, password));

  ado::setLibraryCacheEnabled(false);
  auto db = ado::Database::open(file, password);
  std::vector<Run> theirs;
  for (int i = 0; i < runs; ++i) {
    Run r;
    auto t0 = Clock::now();
    for (const auto& t : db->tables()) r.peakKb = std::max(r.peakKb, bench::mdbExport(file, t.name));
    r.seconds = since(t0);
    theirs.push_back(r);
  }
  long rows = 0;
  for (const auto& t : db->tables()) rows += t.rowCount;

  std::printf("file: %s (%.1f MiB, %ld rows); cache entry %.1f MiB\n", file.c_str(),
              double(fs::file_size(file)) / (1 << 20), rows, double(entry) / (1 << 20));
  std::printf("%-46s %9s %9s %9s %9s\n", "", "median s", "best s", "peak MiB", "query s");
  print("cold: cache off, import (as before)", cold);
  print("first: import, entry written, served from it", first);
  print("warm: from the entry", warm);
  print("mdb-export of the same tables (peak: largest)", theirs);
  std::vector<double> backup, vacuum;
  for (const auto& r : write) backup.push_back(r.seconds), vacuum.push_back(r.query);
  std::printf("writing an entry after the import: backup API %.3f s, VACUUM INTO %.3f s (median, with fsync)\n",
              bench::median(backup), bench::median(vacuum));
  std::vector<double> w, c;
  for (const auto& r : warm) w.push_back(r.seconds);
  for (const auto& r : cold) c.push_back(r.seconds);
  std::printf("warm / cold: %.3f; warm open target < 0.030 s\n", bench::median(w) / bench::median(c));
  fs::remove_all(home);
  return 0;
}
