// Benchmark of the month tools on 200,000-product libraries.
//
//   prices_bench prepare DIR PRO_MDB   writes DIR: pro.mdb (copied), two different
//                                       months 2025年01月 and 2025年02月 (the second
//                                       with moved prices, 1 % renumbered, 0.5 % new
//                                       and gone) and 22 more months as hard links
//                                       to them, 24 libraries in all
//   prices_bench open DIR              opens one library as the main window does
//                                       (opendatabases + loadnav): the reference
//                                       for memory
//   prices_bench switch DIR            opens one month, then switches to the next
//                                       (opendatabases + loadnav), timing the switch
//   prices_bench compare DIR           compares the two latest months
//   prices_bench join DIR              the reference for the comparison: SQLite
//                                       itself joining the two latest months'
//                                       cached key tables on the stored key code,
//                                       with both prices (run after compare, which
//                                       leaves both entries in the cache)
//   prices_bench pairs DIR             the same, one to one: the k-th product of
//                                       a code with the k-th of the other month
//   prices_bench history DIR [ID]      one product's history over the 24 months
//                                       (ID 100, by default, keeps its id in every
//                                       month; 1000103 is renumbered in half of
//                                       them, so those are searched by name)
//
// Each measurement runs in a process of its own and prints its wall time, the
// process's peak resident memory and the largest peak of the provider's file
// readers (child processes), both from getrusage. Libraries go through the
// library cache ($XDG_CACHE_HOME/velmora): a run after an emptied cache is a
// cold one, the next a warm one; VELMORA_NO_CACHE=1 reads every library from
// its Jet file.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/large_pages.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "jetwrite/jetwriter.h"
#include "jetwrite/tool_helpers.h"
#include "platform/database/library_cache.h"
#include "platform/grid/vsflexgrid.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/history.h"
#include "price_tools/months/month_order.h"

namespace fs = std::filesystem;

namespace {

long peakKb(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_maxrss;
}

std::string monthName(int i) {  // i from 0: 2025年01月 ...
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d年%02d月信息价", 2025 + i / 12, i % 12 + 1);
  return buf;
}

void prepare(const std::string& dir, const std::string& pro) {
  fs::create_directories(dir);
  fs::copy_file(pro, dir + "/pro.mdb", fs::copy_options::overwrite_existing);
  jetwrite::Database db = jetwrite::makeBenchLibrary(jetwrite::BenchShape{});
  jetwrite::writeDatabase(db, dir + "/" + monthName(0) + ".zdj");
  for (auto& t : db.tables) {
    if (t.name != "CLProduct") continue;
    std::vector<std::vector<jetwrite::Value>> rows;
    for (size_t i = 0; i < t.rows.size(); ++i) {
      auto r = t.rows[i];
      if (i % 200 == 7) continue;                            // gone
      if (i % 100 == 3) r[0] = std::to_string(1000000 + i);  // renumbered
      if (i % 3 == 1 && r[6]) {                              // a price moved by 1.00 up or down
        std::string& p = *r[6];
        const size_t dot = p.find('.');
        long long whole = std::stoll(p.substr(0, dot));
        whole += i % 2 ? 1 : -1;
        p = std::to_string(whole) + (dot == std::string::npos ? "" : p.substr(dot));
      }
      rows.push_back(std::move(r));
      if (i % 200 == 11) {  // new
        auto n = t.rows[i];
        n[0] = std::to_string(2000000 + i);
        *n[3] += " 新型";
        rows.push_back(std::move(n));
      }
    }
    t.rows = std::move(rows);
  }
  jetwrite::writeDatabase(db, dir + "/" + monthName(1) + ".zdj");
  for (int i = 2; i < 24; ++i) {
    const std::string link = dir + "/" + monthName(i) + ".zdj";
    fs::remove(link);
    fs::create_hard_link(dir + "/" + monthName(i % 2) + ".zdj", link);
  }
}

// The cache entry of a library of the folder.
std::string entryOf(const std::string& dir, const std::string& library) {
  const std::string path = fs::absolute(dir + "/" + library + ".zdj").string();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0) return {};
  const ado::LibraryCache cache(path, fd, st);
  ::close(fd);
  return cache.file();
}

// Pairs of the two months on the stored key code, with both prices, as
// SQLite joins them: the count of pairs and of changed prices. Every product
// of one code is joined with every product of that code in the other month
// (the libraries repeat keys); `oneToOne` joins the k-th of a code with the
// k-th instead, each product at most once, as the comparison pairs them
// (without its equal ids first and its check of the texts).
std::string sqliteJoin(const std::string& older, const std::string& newer, bool oneToOne) {
  sqlite3* db = nullptr;
  std::string out = "no entry";
  if (older.empty() || newer.empty()) return out;
  auto uri = [](const std::string& f) { return "file:" + f + "?immutable=1"; };
  if (sqlite3_open_v2(uri(newer).c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK &&
      sqlite3_exec(db, ("ATTACH '" + uri(older) + "' AS o").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const char* everyPair =
        "SELECT count(*), sum(b.PriceTax IS NOT a.PriceTax) FROM main.velmora_product_keys kb "
        "JOIN o.velmora_product_keys ka ON ka.code = kb.code "
        "JOIN main.CLProduct b ON b.rowid = kb.rid JOIN o.CLProduct a ON a.rowid = ka.rid";
    const char* kthWithKth =
        "WITH kb AS (SELECT code, rid, row_number() OVER (PARTITION BY code ORDER BY rid) AS k "
        "FROM main.velmora_product_keys), "
        "ka AS (SELECT code, rid, row_number() OVER (PARTITION BY code ORDER BY rid) AS k "
        "FROM o.velmora_product_keys) "
        "SELECT count(*), sum(b.PriceTax IS NOT a.PriceTax) FROM kb JOIN ka ON ka.code = kb.code AND ka.k = kb.k "
        "JOIN main.CLProduct b ON b.rowid = kb.rid JOIN o.CLProduct a ON a.rowid = ka.rid";
    if (sqlite3_prepare_v2(db, oneToOne ? kthWithKth : everyPair, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      out = std::to_string(sqlite3_column_int64(st, 0)) + " pairs, " + std::to_string(sqlite3_column_int64(st, 1)) +
            " changed";
    else
      out = sqlite3_errmsg(db);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc < 3) {
    std::fprintf(stderr, "usage: prices_bench prepare DIR PRO_MDB | open|switch|compare|join|pairs DIR | history DIR [ID]\n");
    return 2;
  }
  const std::string what = argv[1], dir = argv[2];
  using clock = std::chrono::steady_clock;
  auto ms = [](clock::time_point a) {
    return std::chrono::duration<double, std::milli>(clock::now() - a).count();
  };
  if (what == "prepare") {
    if (argc != 4) return 2;
    const auto t = clock::now();
    prepare(dir, argv[3]);
    std::printf("prepared %s in %.0f ms\n", dir.c_str(), ms(t));
    return 0;
  }
  platform::MessageBoxRecorder quiet;
  common::setProgramFolder(fs::absolute(dir).string());
  data::libraryslot = 1;
  const auto months = price_tools::inMonthOrder(data::libraryNames(common::programFolder()));
  if (months.size() < 2) return 1;
  platform::VSFlexGrid categories, products, factories;
  for (auto* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession session(categories, products, factories);

  double elapsed = 0;
  std::string detail;
  if (what == "open") {
    const auto t = clock::now();
    data::opendatabases(months.back() + ".zdj");
    session.loadnav();
    elapsed = ms(t);
    detail = std::to_string(factories.Rows() - 3) + " manufacturers";
  } else if (what == "switch") {
    data::opendatabases(months[months.size() - 2] + ".zdj");
    session.loadnav();
    const long before = peakKb();
    const auto t = clock::now();
    data::opendatabases(months.back() + ".zdj");
    session.loadnav();
    elapsed = ms(t);
    detail = "peak before the switch " + std::to_string(before / 1024) + " MB";
  } else if (what == "compare") {
    data::opendatabases(months.back() + ".zdj");
    const auto t = clock::now();
    const auto c = price_tools::compareLibraries(months[months.size() - 2], months.back(), "", {},
                                                 price_tools::Filter::All);
    elapsed = ms(t);
    detail = std::to_string(c.rows.size()) + " rows: " + std::to_string(c.summary.up) + " up, " +
             std::to_string(c.summary.down) + " down, " + std::to_string(c.summary.added) + " new, " +
             std::to_string(c.summary.gone) + " gone";
  } else if (what == "join" || what == "pairs") {
    const std::string older = entryOf(dir, months[months.size() - 2]), newer = entryOf(dir, months.back());
    const auto t = clock::now();
    detail = sqliteJoin(older, newer, what == "pairs");
    elapsed = ms(t);
  } else if (what == "history") {
    data::opendatabases(months.back() + ".zdj");
    const auto t = clock::now();
    const std::string id = argc > 3 ? argv[3] : "100";
    const auto h = price_tools::productHistory(id, months.back(), "", months);
    elapsed = ms(t);
    int present = 0;
    for (const auto& p : h.points) present += p.present;
    detail = "product " + id + ", " + std::to_string(h.points.size()) + " libraries, in " + std::to_string(present);
  } else {
    return 2;
  }
  // The provider reads each Jet file in a child process; its peak is the
  // largest of those children's.
  std::printf("%-8s %9.0f ms  peak %5ld MB, reader %4ld MB  (%s)\n", what.c_str(), elapsed, peakKb() / 1024,
              peakKb(RUSAGE_CHILDREN) / 1024, detail.c_str());
  return 0;
}
