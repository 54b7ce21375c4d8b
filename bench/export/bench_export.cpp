// Exports and the pinyin search, on the generated 200,000-product library
// with the demo folder's layout of the product grid:
//
//   fill      the product grid with every product (the grid the exports read)
//   xlsx      writeXlsx of it, at 50,000 and at 200,000 rows
//   csv       writeCsv of it (UTF-8, numbers as shown), at the same sizes
//   initials  the first pinyin search of the opened library: reading every
//             product's name and computing its initials (the index)
//   pinyin    a pinyin search once the index is there: the scan alone, and
//             the whole search as the toolbar runs it (condition + grid fill),
//             beside the product-name search of the same products
//
// Time: wall-clock and, for the exports and the initials, the processor
// time of the process (user + system), which a busy machine does not stretch.
//
// Memory: the peak resident size reached during each export, less the size
// before it (Linux's peak counter is reset before each one), so an export
// whose memory stays flat shows the same figure at both sizes.
//
// usage: bench_export WORKDIR PRO.MDB LIBRARY.zdj
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

#include "common/large_pages.h"
#include "support/bench_folder.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/fill.h"
#include "data/layout.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/export/csv_export.h"
#include "price_tools/export/xlsx_export.h"
#include "price_tools/pinyin/pinyin_search.h"

namespace fs = std::filesystem;
namespace ex = price_tools::exporting;
using platform::VSFlexGrid;

namespace {

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The processor time the process used so far (user and system), in ms: on a
// machine shared with other work it says what the step itself costs.
double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

struct Measured {
  double ms;
  long peakKb;  // above the resident size before
  double cpu;
};

Measured measure(const std::function<void()>& step) {
  resetPeak();
  const long before = statusKb("VmRSS:");
  const double cpu0 = cpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  step();
  return {msSince(t0), statusKb("VmHWM:") - before, cpuMs() - cpu0};
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_export WORKDIR PRO.MDB LIBRARY.zdj\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const fs::path dir = fs::absolute(argv[1]);
  if (!bench::openBenchFolder(dir, argv[2], argv[3])) return 1;
  price_tools::pinyin::registerInitialsSearch();

  VSFlexGrid categories, products, factories;
  for (VSFlexGrid* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::layoutgrid(products, "CLProduct");

  std::printf("%-44s %9s %9s %9s %12s\n", "step", "rows", "ms", "cpu ms", "peak MB");
  auto line = [](const std::string& what, long rows, double ms, double peakMb, double cpu = -1) {
    if (cpu < 0)
      std::printf("%-44s %9ld %9.1f %9s %12.1f\n", what.c_str(), rows, ms, "", peakMb);
    else
      std::printf("%-44s %9ld %9.1f %9.1f %12.1f\n", what.c_str(), rows, ms, cpu, peakMb);
  };
  for (const int limit : {50000, 200000}) {
    auto t0 = std::chrono::steady_clock::now();
    std::string condition = "CLProduct.ID<=" + std::to_string(limit);
    data::fillgrid(data::libraryslot, products, condition, 1);
    const long rows = products.Rows() - 3;
    line("fill the product grid", rows, msSince(t0), 0);
    const std::string xlsx = (dir / "bench.xlsx").string();
    const std::string csv = (dir / "bench.csv").string();
    Measured m = measure([&] {
      if (!ex::writeXlsx(products, {"bench", "全部", "2026-12-08"}, xlsx).ok()) std::fprintf(stderr, "xlsx failed\n");
    });
    line("xlsx export (constant memory)", rows, m.ms, m.peakKb / 1024.0, m.cpu);
    std::printf("%-44s %9s %9s %9s %12.1f\n", "  file size MB", "", "", "", fs::file_size(xlsx) / 1048576.0);
    m = measure([&] {
      if (!ex::writeCsv(products, {}, csv).ok()) std::fprintf(stderr, "csv failed\n");
    });
    line("csv export (UTF-8, as shown)", rows, m.ms, m.peakKb / 1024.0, m.cpu);
    // Reference: gzip compressing the CSV, about the deflate work the .xlsx
    // container does on its sheet.
    const auto g0 = std::chrono::steady_clock::now();
    const int rc = std::system(("gzip -c '" + csv + "' > /dev/null").c_str());
    if (rc == 0) line("  reference: gzip -c of that CSV", rows, msSince(g0), 0);
  }

  // Pinyin: the index of the open library, built at its first search.
  Measured m = measure([] { price_tools::pinyin::libraryIndex(); });
  price_tools::pinyin::InitialsIndex& index = price_tools::pinyin::libraryIndex();
  line("initials of the library (first search)", static_cast<long>(index.size()), m.ms, m.peakKb / 1024.0, m.cpu);
  data::NavigatorSession session(categories, products, factories);
  for (const char* typed : {"lwg", "gsysn", "dxg", "zzz", "g"}) {
    std::vector<double> scan, whole;
    size_t hits = 0;
    for (int round = 0; round < 5; ++round) {
      auto t0 = std::chrono::steady_clock::now();
      hits = index.find(typed).size();
      scan.push_back(msSince(t0));
      t0 = std::chrono::steady_clock::now();
      session.search(price_tools::pinyin::kSearchByInitials, typed);
      whole.push_back(msSince(t0));
    }
    line(std::string("pinyin scan \"") + typed + "\"", static_cast<long>(hits), median(scan), 0);
    line(std::string("pinyin search + fill \"") + typed + "\"", products.Rows() - 3, median(whole), 0);
  }
  for (const char* name : {"螺纹钢", "镀锌管"}) {
    std::vector<double> whole;
    for (int round = 0; round < 5; ++round) {
      const auto t0 = std::chrono::steady_clock::now();
      session.search(data::kSearchByName, name);
      whole.push_back(msSince(t0));
    }
    line(std::string("name search + fill \"") + name + "\" (reference)", products.Rows() - 3, median(whole), 0);
  }
  double load[1] = {0};
  if (getloadavg(load, 1) == 1) std::printf("load average during the run: %.1f on %ld cores\n", load[0], sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("targets: 200,000-row export < 5 s with flat memory; pinyin search < 100 ms\n");
  return 0;
}
