// Benchmark of the libraries made ready ahead of time, on a folder of new
// libraries as the price tools meet it the day a year of months arrives.
//
//   prep_bench prepare DIR PRO_MDB COUNT PRODUCTS
//       writes DIR: pro.mdb (copied), one generated library of PRODUCTS
//       products (jetwrite's bench library) and COUNT-1 more months as hard
//       links to it: COUNT libraries, each its own cache entry
//   prep_bench run DIR RUNS
//       RUNS times, each on an emptied cache folder (DIR/cache):
//       - today: the window's start-up, then the first price history over
//         every library, which imports the others one after another (the
//         reference);
//       - ahead of time: the window's start-up (the latest library opened and
//         the navigator loaded), then the background preparation of the
//         folder to its end, then the first history;
//       - a category click (the largest category) and a search of the
//         toolbar (one product in thirty), without an import and during
//         the background import;
//       - how long a stop asked during an import takes to end it.
//       Prints each run and the medians (with the processor time of the
//       imports: the background's wall time also depends on what else the
//       machine runs, since it yields to all of it), with the peak memory of the process
//       and of the largest reading program.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/large_pages.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "jetwrite/jetwriter.h"
#include "jetwrite/tool_helpers.h"
#include "platform/database/adodb.h"
#include "platform/grid/vsflexgrid.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/history.h"
#include "price_tools/months/month_order.h"
#include "price_tools/prep/library_prep.h"
#include "support/reference.h"

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;

double msSince(clock_type::time_point a) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - a).count();
}

// Processor time of this process and its ended children, in ms.
double cpuMs() {
  auto ms = [](const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
  };
  rusage self{}, children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  return ms(self) + ms(children);
}

long peakMb(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_maxrss / 1024;
}

std::string monthName(int i) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d年%02d月信息价", 2025 + i / 12, i % 12 + 1);
  return buf;
}

int prepare(const std::string& dir, const std::string& pro, int count, int products) {
  fs::create_directories(dir);
  fs::copy_file(pro, dir + "/pro.mdb", fs::copy_options::overwrite_existing);
  jetwrite::BenchShape shape;
  shape.products = products;
  jetwrite::writeDatabase(jetwrite::makeBenchLibrary(shape), dir + "/" + monthName(0) + ".zdj");
  for (int i = 1; i < count; ++i) {
    const std::string link = dir + "/" + monthName(i) + ".zdj";
    fs::remove(link);
    fs::create_hard_link(dir + "/" + monthName(0) + ".zdj", link);
  }
  return 0;
}

void emptyCache(const std::string& cache) {
  fs::remove_all(cache);
  fs::create_directories(cache);
}

struct Run {
  double todayCpu = 0, aheadCpu = 0;
  double today = 0, start = 0, ahead = 0, history = 0, clickAlone = 0, clickDuring = 0, searchAlone = 0,
         searchDuring = 0, stop = 0;
  int clicksDuring = 0, listed = 0, searchesDuring = 0, searched = 0;
};

// The category with the most products of the window's library.
std::string largestCategory() {
  ado::Recordset rs;
  data::openQuery(rs, "select top 1 CategoryID from CLProduct group by CategoryID order by count(*) desc",
                  data::libraryslot);
  return rs.Fields(0).Value().toText();
}

// The median of `n` clicks, each a fill of the product grid: on the category
// `category`, or (empty) the toolbar's search of 产品名称 for 圆钢, which lists
// one product in thirty.
double clicks(data::NavigatorSession& s, const std::string& category, int n,
              const std::function<bool()>& still = nullptr, int* counted = nullptr) {
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    const auto t = clock_type::now();
    const bool filled = category.empty() ? s.search("产品名称", "圆钢") == data::NavigatorSession::SearchOutcome::Filled
                                         : s.fillByCategory(category);
    if (!filled) std::printf("  the fill failed\n");
    const double took = msSince(t);
    if (still && !still()) break;  // the import ended meanwhile: not a click during it
    ms.push_back(took);
  }
  if (counted) *counted = int(ms.size());
  return ms.empty() ? 0 : bench::median(ms);
}

int run(const std::string& dir, int runs) {
  platform::MessageBoxRecorder quiet;
  const std::string folder = fs::absolute(dir).string();
  const std::string cache = folder + "/cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  common::setProgramFolder(folder);
  data::libraryslot = 1;
  const auto months = price_tools::inMonthOrder(data::libraryNames(folder));
  if (months.size() < 2) return 1;
  platform::VSFlexGrid categories, products, factories;
  for (auto* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession session(categories, products, factories);

  std::vector<Run> all;
  for (int r = 0; r < runs; ++r) {
    Run x;
    emptyCache(cache);
    {
      data::opendatabases(months.back() + ".zdj");
      session.loadnav();
      const auto t = clock_type::now();
      const double cpu = cpuMs();
      price_tools::productHistory("100", months.back(), "", months);
      x.today = msSince(t);
      x.todayCpu = cpuMs() - cpu;
    }
    emptyCache(cache);
    {
      const auto t = clock_type::now();
      data::opendatabases(months.back() + ".zdj");
      session.loadnav();
      x.start = msSince(t);
      price_tools::LibraryPreparer prep;
      const auto b = clock_type::now();
      const double cpu = cpuMs();
      prep.prepare(folder);
      prep.waitUntilIdle();
      x.ahead = msSince(b);
      x.aheadCpu = cpuMs() - cpu;
      const auto h = clock_type::now();
      price_tools::productHistory("100", months.back(), "", months);
      x.history = msSince(h);
    }
    // Clicks on the window's library (open, in memory) alone, then while the
    // others are imported again in the background.
    const std::string category = largestCategory();
    x.clickAlone = clicks(session, category, 7);
    x.listed = products.Rows() - 3;
    x.searchAlone = clicks(session, "", 5);
    x.searched = products.Rows() - 3;
    emptyCache(cache);
    {
      std::atomic<bool> importing{false};
      price_tools::LibraryPreparer prep([&](const price_tools::PrepProgress& p) { importing = !p.file.empty(); });
      prep.prepare(folder);
      while (!importing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      x.clickDuring = clicks(session, category, 7, [&] { return importing.load(); }, &x.clicksDuring);
      x.searchDuring = clicks(session, "", 5, [&] { return importing.load(); }, &x.searchesDuring);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));  // well into an import
      const auto s = clock_type::now();
      prep.stop();
      x.stop = msSince(s);
    }
    std::printf("run %d: first history today %.0f ms (processor %.0f ms) | start-up %.0f ms, background import %.0f "
                "ms (processor %.0f ms), first history %.1f ms | click (%d products) %.1f ms alone, %.1f ms during the import (%d clicks) | search (%d products) "
                "%.1f ms alone, %.1f ms during the import (%d) | stop %.1f ms\n",
                r + 1, x.today, x.todayCpu, x.start, x.ahead, x.aheadCpu, x.history, x.listed, x.clickAlone, x.clickDuring, x.clicksDuring,
                x.searched, x.searchAlone, x.searchDuring, x.searchesDuring, x.stop);
    std::fflush(stdout);
    all.push_back(x);
  }
  auto med = [&](double Run::* f) {
    std::vector<double> v;
    for (const Run& x : all) v.push_back(x.*f);
    return bench::median(v);
  };
  std::printf("median of %d, %zu libraries: first history today (one import after another) %.0f ms, "
              "processor %.0f ms; background import to its end %.0f ms, processor %.0f ms, then first history %.1f ms; category click %.1f ms alone, "
              "%.1f ms during the import; search %.1f ms alone, %.1f ms during the import; stop %.1f ms; peak %ld MB, reader %ld MB\n",
              runs, months.size(), med(&Run::today), med(&Run::todayCpu), med(&Run::ahead), med(&Run::aheadCpu), med(&Run::history), med(&Run::clickAlone),
              med(&Run::clickDuring), med(&Run::searchAlone), med(&Run::searchDuring), med(&Run::stop), peakMb(), peakMb(RUSAGE_CHILDREN));
  fs::remove_all(cache);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc == 6 && std::string(argv[1]) == "prepare") return prepare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
  if (argc == 4 && std::string(argv[1]) == "run") return run(argv[2], std::max(1, std::atoi(argv[3])));
  std::fprintf(stderr, "usage: prep_bench prepare DIR PRO_MDB COUNT PRODUCTS | run DIR RUNS\n");
  return 2;
}
