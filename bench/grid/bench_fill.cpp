// Big result sets into the product grid: where the time of a fill of 100,000
// rows goes, and what the same rows cost in plain containers, in one run:
//
//   query      the grid's statement alone: the record set opened and every
//              field read as text (what the fill cannot do without)
//   grid       the texts of those rows written into a fresh grid with the
//              calls the fill makes (a row added, its cells set, every other
//              row shaded, the outline folded), no database
//   fill       fillgrid of the product grid with 100,000 products, headless,
//              into an empty grid and over the rows of the previous fill
//   fill+view  the same with a shown view (offscreen): the fill, the update
//              reaching the view and one paint
//   pinyin     the search by initials "g" (112,499 of 200,000 products) and
//              its fill, headless and with the view
//   scroll     the view scrolled a page at a time through the filled grid, one
//              paint per page (the per-page cost of drawing)
//   references the same texts into a QStandardItemModel (one item per cell)
//              and into a plain std::vector<std::string> (one string per cell,
//              reserved at once): what holding the texts costs at the least
//
// Each step runs --runs times (default 7); the line gives the median wall
// time, the median processor time of the process (user + system, which a busy
// machine does not stretch), the peak resident memory above the size before
// the step (the heap's free pages are given back before it), and the heap
// the step left in use (the rows held).
//
// usage: bench_fill WORKDIR PRO.MDB LIBRARY.zdj [--runs=N]
// LIBRARY.zdj is the generated 200,000-product library (bench_library).
#include <QApplication>
#include <QScrollBar>
#include <QStandardItemModel>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/large_pages.h"
#include "support/bench_folder.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/fill.h"
#include "data/layout.h"
#include "data/table_settings.h"
#include "platform/database/adodb.h"
#include "platform/grid/gridview.h"
#include "platform/messagebox/messagebox.h"
#include "price_tools/pinyin/pinyin_search.h"

namespace fs = std::filesystem;
using platform::VSFlexGrid;

namespace {

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, n, key) == 0) return std::stol(line.substr(n));
  return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The bytes the heap has handed out and not had back.
double heapMb() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0;
}

double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Result {
  double ms = 0, cpu = 0;
  double peakMb = 0, heldMb = 0;
};

int runs = 7;
std::string only;  // --only=WORD: the steps whose name holds WORD

bool wanted(const char* what) { return only.empty() || std::strstr(what, only.c_str()); }

// Runs `prepare` (not timed) and `step` `runs` times; `release` after each
// round frees what the step kept, once its size has been read.
Result measure(const std::function<void()>& prepare, const std::function<void()>& step,
               const std::function<void()>& release) {
  std::vector<double> ms, cpu, peak, kept;
  for (int i = 0; i < runs; ++i) {
    prepare();
    QApplication::processEvents();
    malloc_trim(0);
    resetPeak();
    const long before = statusKb("VmRSS:");
    const double heapBefore = heapMb();
    const double c0 = cpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    step();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    cpu.push_back(cpuMs() - c0);
    peak.push_back((statusKb("VmHWM:") - before) / 1024.0);
    kept.push_back(heapMb() - heapBefore);
    release();
  }
  return {median(ms), median(cpu), median(peak), median(kept)};
}

// Measures a step (when --only lets it) and prints its line; the rows are
// counted after it ran.
Result run(const char* what, const std::function<long()>& rows, const std::function<void()>& prepare,
           const std::function<void()>& step, const std::function<void()>& release) {
  if (!wanted(what)) return {};
  const Result r = measure(prepare, step, release);
  std::printf("%-40s %8ld %9.1f %9.1f %9.1f %9.1f\n", what, rows(), r.ms, r.cpu, r.peakMb, r.heldMb);
  std::fflush(stdout);
  return r;
}

// The statement fillgrid runs for a flat table, built from the same settings.
std::string statementOf(const VSFlexGrid& grid, std::string condition) {
  data::loadtableset(grid.Tag());
  const data::TableSettingsRecord& ts = data::TableSettings;
  const std::string fields = grid.TextMatrix(0, grid.Cols() - 1).empty() ? ts.fieldlist
                                                                          : grid.TextMatrix(0, grid.Cols() - 1);
  if (!condition.empty() && condition.find("where") == std::string::npos) condition = " where " + condition;
  const std::string ordering = ts.sortid.empty() ? std::string() : " order by " + ts.tname + "." + ts.sortid;
  return "select  " + fields + " from " + ts.tname + ts.inner + condition + ordering;
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_fill WORKDIR PRO.MDB LIBRARY.zdj [--runs=N]\n");
    return 2;
  }
  for (int i = 4; i < argc; ++i)
    if (!std::strncmp(argv[i], "--runs=", 7)) runs = std::max(1, std::atoi(argv[i] + 7));
    else if (!std::strncmp(argv[i], "--only=", 7)) only = argv[i] + 7;
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const fs::path dir = fs::absolute(argv[1]);
  if (!bench::openBenchFolder(dir, argv[2], argv[3])) return 1;
  price_tools::pinyin::registerInitialsSearch();
  price_tools::pinyin::libraryIndex();  // built at the first search; not what is measured here

  platform::GridView categoriesView, productsView, factoriesView;
  VSFlexGrid& products = productsView.grid();
  for (platform::GridView* v : {&categoriesView, &productsView, &factoriesView}) data::prepareNavigatorGrid(v->grid());
  data::layoutgrid(products, "CLProduct");
  data::NavigatorSession session(categoriesView.grid(), products, factoriesView.grid());
  const std::string condition = "CLProduct.ID<=100000";
  const std::string statement = statementOf(products, condition);

  // The rows as texts, once, for the steps without a database.
  std::vector<std::vector<std::string>> texts;
  {
    ado::Recordset rs;
    data::openQuery(rs, statement, data::libraryslot);
    const int fields = rs.FieldsCount();
    for (long k = 0, n = rs.RecordCount(); k < n; ++k) {
      std::vector<std::string>& row = texts.emplace_back();
      for (int f = 0; f < fields; ++f) row.push_back(rs.Fields(f).Value().toText());
      rs.MoveNext();
    }
    rs.Close();
  }
  const long rows = static_cast<long>(texts.size());
  const int cols = products.Cols();

  std::printf("%d runs per step, product grid of %d columns\n", runs, cols);
  std::printf("statement: %s\n", statement.c_str());
  std::printf("%-40s %8s %9s %9s %9s %9s\n", "step", "rows", "ms", "cpu ms", "peak MB", "held MB");
  auto nothing = [] {};
  auto emptyGrid = [&] {
    products.setRows(3);
    products.flushChanges();
    QApplication::processEvents();
  };

  const Result query = run("query (open + every field as text)", [&] { return rows; }, nothing, [&] {
          ado::Recordset rs;
          data::openQuery(rs, statement, data::libraryslot);
          const int fields = rs.FieldsCount();
          size_t bytes = 0;
          for (long k = 0, n = rs.RecordCount(); k < n; ++k) {
            for (int f = 0; f < fields; ++f) bytes += rs.Fields(f).Value().toText().size();
            rs.MoveNext();
          }
          rs.Close();
          if (bytes == 0) std::fprintf(stderr, "no text read\n");
        }, nothing);

  std::unique_ptr<VSFlexGrid> fresh;
  const Result grid = run("grid (the fill's writes, no database)", [&] { return rows; }, [&] {
          fresh = std::make_unique<VSFlexGrid>();
          data::prepareNavigatorGrid(*fresh);
          fresh->setCols(cols);
          fresh->setFixedRows(3);
        }, [&] {
          VSFlexGrid& g = *fresh;
          platform::GridBatch batch(g);
          g.setRows(3);
          for (const auto& row : texts) {
            g.setRows(g.Rows() + 1);
            const int r = g.Rows() - 1;
            for (size_t f = 0; f < row.size(); ++f) g.setTextMatrix(r, static_cast<int>(f) + 1, row[f]);
          }
          data::shaderows(g);
          g.Outline(2);
        }, [&] { fresh.reset(); });

  const Result fill = run("fill (fillgrid, headless)", [&] { return rows; }, emptyGrid, [&] {
          std::string c = condition;
          data::fillgrid(data::libraryslot, products, c, 1);
        }, nothing);
  run("refill (over the previous fill)", [&] { return rows; }, nothing, [&] {
          std::string c = condition;
          data::fillgrid(data::libraryslot, products, c, 1);
        }, nothing);
  const long filled = products.Rows() - 3;
  if (wanted("fill (") && filled != rows) std::fprintf(stderr, "the fill wrote %ld rows, the query has %ld\n", filled, rows);

  productsView.resize(1000, 700);
  productsView.show();
  QApplication::processEvents();
  run("fill + view (update, one paint)", [&] { return rows; }, emptyGrid, [&] {
          std::string c = condition;
          data::fillgrid(data::libraryslot, products, c, 1);
          QApplication::processEvents();
          productsView.viewport()->repaint();
        }, nothing);

  const int pages = 50;
  run("scroll, one paint per page (50 pages)", [&] { return pages; }, nothing, [&] {
          QScrollBar* sb = productsView.verticalScrollBar();
          sb->setValue(0);
          for (int p = 0; p < pages; ++p) {
            sb->setValue(sb->value() + sb->pageStep());
            productsView.viewport()->repaint();
          }
        }, nothing);

  productsView.hide();
  QApplication::processEvents();
  run("pinyin \"g\" search + fill, headless", [&] { return products.Rows() - 3; }, emptyGrid, [&] {
          session.search(price_tools::pinyin::kSearchByInitials, "g");
        }, nothing);
  productsView.show();
  QApplication::processEvents();
  run("pinyin \"g\" search + fill + view", [&] { return products.Rows() - 3; }, emptyGrid, [&] {
          session.search(price_tools::pinyin::kSearchByInitials, "g");
          QApplication::processEvents();
          productsView.viewport()->repaint();
        }, nothing);
  productsView.hide();
  emptyGrid();

  std::unique_ptr<QStandardItemModel> model;
  run("reference: QStandardItemModel", [&] { return rows; }, [&] { model = std::make_unique<QStandardItemModel>(); }, [&] {
          model->setColumnCount(cols);
          model->setRowCount(static_cast<int>(texts.size()));
          int r = 0;
          for (const auto& row : texts) {
            for (size_t f = 0; f < row.size(); ++f)
              model->setItem(r, static_cast<int>(f) + 1, new QStandardItem(QString::fromStdString(row[f])));
            ++r;
          }
        }, [&] { model.reset(); });

  std::unique_ptr<std::vector<std::string>> flat;
  run("reference: vector<string>", [&] { return rows; }, [&] { flat = std::make_unique<std::vector<std::string>>(); }, [&] {
          flat->reserve(texts.size() * texts.front().size());
          for (const auto& row : texts)
            for (const std::string& t : row) flat->push_back(t);
        }, [&] { flat.reset(); });

  if (fill.cpu > 0 && query.cpu > 0 && grid.cpu > 0)
    std::printf("of the headless fill's processor time: query %.0f %%, grid writes %.0f %%\n",
                100.0 * query.cpu / fill.cpu, 100.0 * grid.cpu / fill.cpu);
  double load[1] = {0};
  if (getloadavg(load, 1) == 1)
    std::printf("load average during the run: %.1f on %ld cores\n", load[0], sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("target: a fill of 100,000 rows (and the pinyin search of 112,499) under 300 ms\n");
  return 0;
}
