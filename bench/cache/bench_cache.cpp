// bench_cache LIBRARY.zdj [password]
//
// Opening a library with and without the library cache, each case in a process
// of its own so that its peak memory is its own:
//   cold   the cache off: the Jet file read and every table imported (as before)
//   first  an empty cache: import, the entry written, then served from it
//   warm   the entry present: the file mapped, nothing imported (and how
//          many of its pages were checked against their digests at the open
//          and by the query after it: each page the first time it is read)
// plus mdb-export dumping the same tables in the same run, and the two ways of
// writing an entry after an import (SQLite's backup, VACUUM INTO) side by side.
// Where a cold open's time goes is shown apart (also each part in a process of
// its own):
//   reading child   the reader program alone, its output thrown away
//   transfer        the reader's cells through the pipe, parsed, not kept
//   index           the copy's indexes made once more on the opened copy
// and the import's own account of a cold open (Database::importTimes): the
// waits for its inserting thread, the indexes made after the rows, the
// planner's figures, and what is left: reading and parsing the rows, with
// the inserts overlapping it.
// and, for comparison, what ANALYZE would take on the copy (the import counts
// the planner's figures as the rows come instead of running it).

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

#include "common/large_pages.h"
#include "platform/database/cache_file.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"
#include "platform/database/library_cache.h"
#include "support/reference.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct Run {
  double seconds = 0, query = 0;
  double checkedAtOpen = 0, checked = 0, pages = 0;  // an entry's pages checked against their digests
  long peakKb = 0;  // the process and the reader it started, whichever is larger
  double cpu = 0;   // processor time of the process and the reader, user and system
  std::vector<double> values;  // every figure the phase wrote
};

double cpuOf(const rusage& ru) {
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

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
  if (n <= 0 ||
      std::sscanf(buf, "%lf %lf %lf %lf %lf", &r.seconds, &r.query, &r.checkedAtOpen, &r.checked, &r.pages) < 2) {
    std::fprintf(stderr, "phase %s failed\n", phase.c_str());
    std::exit(1);
  }
  r.peakKb = ru.ru_maxrss;
  r.cpu = cpuOf(ru);
  char* at = buf;
  for (char* end = nullptr;; at = end) {
    const double v = std::strtod(at, &end);
    if (end == at) break;
    r.values.push_back(v);
  }
  return r;
}

// A sink that counts the cells and keeps nothing.
struct Discard : ado::jet::Sink {
  uint64_t cells = 0;
  void beginTable(const ado::jet::TableDef&) override {}
  void row(const std::vector<ado::jet::Cell>& row) override { cells += row.size(); }
  void endTable() override {}
};

// The parts of a cold open: "seconds query" are reading-child and transfer,
// or index and analyze.
int splitMain(const std::string& phase, const std::string& file, const std::string& password) {
  if (phase == "split-read") {
    const std::string reader = ado::jet::readerProgram();
    auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execl(reader.c_str(), reader.c_str(), file.c_str(), file.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double read = since(t0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    std::vector<uint8_t> page0(4096);
    const int fd = ::open(file.c_str(), O_RDONLY);
    const ssize_t got = ::pread(fd, page0.data(), page0.size(), 0);
    ::close(fd);
    const ado::jet::Header h =
        ado::jet::inspectHeader(page0.data(), std::size_t(std::max<ssize_t>(got, 0)), fs::file_size(file), file);
    ado::jet::checkPassword(h, password);
    Discard sink;
    t0 = Clock::now();
    ado::jet::readTablesIsolated(h, file, file, sink);
    std::printf("%.6f %.6f\n", read, since(t0));
    return 0;
  }
  ado::setLibraryCacheEnabled(false);
  auto db = ado::Database::open(file, password);
  if (phase == "split-import") {
    // The import's own account of a cold open.
    const ado::Database::ImportTimes& t = db->importTimes();
    std::printf("%.6f %.6f %.6f %.6f %.6f\n", t.total, t.inserts, t.indexes, t.figures, t.entry);
    return 0;
  }
  sqlite3* engine = db->sqlite();
  std::vector<std::string> made;
  {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(engine, "SELECT sql FROM sqlite_schema WHERE type='index' AND sql IS NOT NULL", -1, &st,
                       nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) made.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_db_config(engine, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
  // As the import builds them: without the helper threads statements sort with.
  sqlite3_exec(engine, "PRAGMA threads=0", nullptr, nullptr, nullptr);
  double index = 0;
  for (const std::string& sql : made) {
    const std::size_t on = sql.find(" ON ");
    if (on == std::string::npos) continue;
    const std::string again = "CREATE INDEX bench_again" + sql.substr(on);
    const auto t0 = Clock::now();
    if (sqlite3_exec(engine, again.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return 1;
    index += since(t0);
    sqlite3_exec(engine, "DROP INDEX bench_again", nullptr, nullptr, nullptr);
  }
  const auto t0 = Clock::now();
  sqlite3_exec(engine, "ANALYZE", nullptr, nullptr, nullptr);
  std::printf("%.6f %.6f\n", index, since(t0));
  return 0;
}

int phaseMain(const std::string& phase, const std::string& file, const std::string& password) {
  if (phase.rfind("split-", 0) == 0) return splitMain(phase, file, password);
  ado::setLibraryCacheEnabled(phase != "cold" && phase != "write");
  auto t0 = Clock::now();
  auto db = ado::Database::open(file, password);
  const double open = since(t0);
  const uint64_t checkedAtOpen = ado::cachePagesChecked();
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
    // VACUUM INTO attaches its target, which the copy's engine does not allow
    // its statements; let it, for this one.
    sqlite3_limit(db->sqlite(), SQLITE_LIMIT_ATTACHED, 1);
    if (sqlite3_exec(db->sqlite(), ("VACUUM INTO '" + b + "'").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "VACUUM INTO: %s\n", sqlite3_errmsg(db->sqlite()));
      return 1;
    }
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
  const double query = since(t0);
  long long pages = 0;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db->sqlite(), "PRAGMA page_count", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    pages = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  std::printf("%.6f %.6f %llu %llu %lld\n", open, query, static_cast<unsigned long long>(checkedAtOpen),
              static_cast<unsigned long long>(ado::cachePagesChecked()), pages);
  return 0;
}

void print(const char* what, const std::vector<Run>& runs) {
  std::vector<double> s, q, c;
  std::vector<long> m;
  for (const auto& r : runs) s.push_back(r.seconds), q.push_back(r.query), m.push_back(r.peakKb), c.push_back(r.cpu);
  std::printf("%-46s %9.3f %9.3f %9.1f %9.3f %9.3f\n", what, bench::median(s), *std::min_element(s.begin(), s.end()),
              bench::median(m) / 1024.0, bench::median(q), bench::median(c));
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc >= 5 && std::string(argv[1]) == "--phase") return phaseMain(argv[2], argv[3], argv[4]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_cache LIBRARY.zdj [password]\n");
    return 2;
  }
  char self[4096];
  const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
  if (selfLength <= 0) return 1;
  self[selfLength] = 0;
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
  std::vector<double> readingChild, transfer, index, analyze;
  std::vector<double> importWhole, importRows, importInserts, importIndexes, importFigures, importEntry;
  for (int i = 0; i < runs; ++i) {
    const Run read = runPhase(self, "split-read", file, password);
    const Run made = runPhase(self, "split-index", file, password);
    const Run own = runPhase(self, "split-import", file, password);
    readingChild.push_back(read.seconds), transfer.push_back(read.query);
    index.push_back(made.seconds), analyze.push_back(made.query);
    if (own.values.size() >= 5) {
      const std::vector<double>& v = own.values;
      importWhole.push_back(v[0]), importInserts.push_back(v[1]), importIndexes.push_back(v[2]);
      importFigures.push_back(v[3]), importEntry.push_back(v[4]);
      importRows.push_back(v[0] - v[1] - v[2] - v[3] - v[4]);
    }
  }

  ado::setLibraryCacheEnabled(false);
  auto db = ado::Database::open(file, password);
  std::vector<Run> theirs;
  for (int i = 0; i < runs; ++i) {
    Run r;
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    auto t0 = Clock::now();
    for (const auto& t : db->tables()) r.peakKb = std::max(r.peakKb, bench::mdbExport(file, t.name));
    r.seconds = since(t0);
    getrusage(RUSAGE_CHILDREN, &after);
    r.cpu = cpuOf(after) - cpuOf(before);
    theirs.push_back(r);
  }
  long rows = 0;
  for (const auto& t : db->tables()) rows += t.rowCount;

  std::printf("file: %s (%.1f MiB, %ld rows); cache entry %.1f MiB\n", file.c_str(),
              double(fs::file_size(file)) / (1 << 20), rows, double(entry) / (1 << 20));
  std::printf("%-46s %9s %9s %9s %9s %9s\n", "", "median s", "best s", "peak MiB", "query s", "cpu s");
  print("cold: cache off, import (as before)", cold);
  print("first: import, entry written, served from it", first);
  print("warm: from the entry", warm);
  print("mdb-export of the same tables (peak: largest)", theirs);
  std::vector<double> backup, vacuum;
  for (const auto& r : write) backup.push_back(r.seconds), vacuum.push_back(r.query);
  std::printf("writing an entry after the import: backup API %.3f s, VACUUM INTO %.3f s (median, with fsync)\n",
              bench::median(backup), bench::median(vacuum));
  std::vector<double> w, c, t, cc, tc;
  std::vector<long> coldPeak, warmPeak;
  for (const auto& r : warm) w.push_back(r.seconds), warmPeak.push_back(r.peakKb);
  for (const auto& r : cold) c.push_back(r.seconds), coldPeak.push_back(r.peakKb), cc.push_back(r.cpu);
  for (const auto& r : theirs) t.push_back(r.seconds), tc.push_back(r.cpu);
  const double coldS = bench::median(c), fileMiB = double(fs::file_size(file)) / (1 << 20);
  std::printf("cold open, each part alone (median s): reading child %.3f, transfer %.3f (child included), "
              "every index made again on the copy %.3f; ANALYZE, which the import no longer runs, would take %.3f\n",
              bench::median(readingChild), bench::median(transfer), bench::median(index), bench::median(analyze));
  if (!importWhole.empty())
    std::printf("cold open, the import's own account (median s): import %.3f = reading and parsing the rows, "
                "inserts overlapping %.3f + waiting for the inserts %.3f + indexes after the rows %.3f + "
                "planner's figures %.3f + derived tables %.3f\n",
                bench::median(importWhole), bench::median(importRows), bench::median(importInserts),
                bench::median(importIndexes), bench::median(importFigures), bench::median(importEntry));
  std::printf("cold / mdb-export: %.3f, in processor time %.3f (target < 0.2)\n", coldS / bench::median(t),
              bench::median(cc) / bench::median(tc));
  std::printf("peak memory / file: cold %.2f, warm %.2f (target < 4)\n", bench::median(coldPeak) / 1024.0 / fileMiB,
              bench::median(warmPeak) / 1024.0 / fileMiB);
  std::printf("warm / cold: %.3f; warm open target < 0.050 s\n", bench::median(w) / coldS);
  // Each page is checked the first time it is read, not at the open.
  std::printf("warm: entry pages checked against their digests: %.0f at the open, %.0f after the query, of %.0f\n",
              warm.front().checkedAtOpen, warm.front().checked, warm.front().pages);
  fs::remove_all(home);
  return 0;
}
