// Grid engine benchmark: the fills the main window makes, on generated
// material libraries of three sizes (1/16, 1/4 and all of 200,000 products,
// 5,000 categories over six levels), each with no view and with a shown grid
// view attached (offscreen):
//
//   tree     layoutgrid + fillgrid of the category tree from its first level
//            ("ParentID=0": every category, six levels, one query per node)
//   loadnav  the same as the window's start does it ("ID=0": the root and
//            five levels below it)
//   fill     fillgrid of the product grid with one category of 10,000 products
//            (10,000 / 16 and / 4 at the smaller sizes)
//   search   fillgrid of the product grid with a product-name search over all
//            products (CLProduct.Name like '%螺纹钢%')
//
// usage: bench_grid WORKDIR PRO.MDB
// WORKDIR becomes the program folder; the libraries are generated into it
// once (kept between runs) by the generator of the benchmark library, with the
// first 10,000 products (scaled) moved into one leaf category.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/large_pages.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/fill.h"
#include "data/layout.h"
#include "jetwrite/jetwriter.h"
#include "jetwrite/tool_helpers.h"
#include "platform/grid/gridview.h"
#include "platform/messagebox/messagebox.h"

namespace fs = std::filesystem;
using platform::VSFlexGrid;

namespace {

constexpr int kFullProducts = 200000;
constexpr int kFullCategories = 5000;
constexpr int kFullFactories = 500;
constexpr int kFullBigCategory = 10000;

// The library of one size: the generated shape, with the first `big` products
// moved into one leaf category (the last category row).
std::string libraryFor(const fs::path& dir, int divisor, int& bigCategory) {
  jetwrite::BenchShape shape;
  shape.products = kFullProducts / divisor;
  shape.categories = kFullCategories / divisor;
  shape.factories = std::max(1, kFullFactories / divisor);
  const int big = kFullBigCategory / divisor;
  const std::string name = "grid-bench-" + std::to_string(divisor);
  const fs::path file = dir / (name + ".zdj");
  jetwrite::Database db = jetwrite::makeBenchLibrary(shape);
  bigCategory = 0;
  for (auto& t : db.tables)
    if (t.name == "Category") bigCategory = std::stoi(*t.rows.back()[0]);
  if (!fs::exists(file)) {
    for (auto& t : db.tables)
      if (t.name == "CLProduct")
        for (int p = 0; p < big && p < static_cast<int>(t.rows.size()); ++p) t.rows[static_cast<size_t>(p)][1] = std::to_string(bigCategory);
    std::fprintf(stderr, "writing %s ...\n", file.string().c_str());
    jetwrite::writeDatabase(db, file.string());
  }
  return name;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a step `rounds` times; returns the median in milliseconds.
double timeIt(int rounds, const std::function<void()>& step) {
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    step();
    const auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return median(ms);
}

struct Line {
  std::string what;
  int divisor;
  bool view;
  int rows;
  double ms;
  double viewMs;  // of ms: the update reaching the view and its paint
};

double viewTime = 0;

void measure(const std::string& library, int divisor, int bigCategory, bool withView, std::vector<Line>& out) {
  if (data::opendatabases(library + ".zdj") != 1) {
    std::fprintf(stderr, "cannot open %s\n", library.c_str());
    return;
  }
  platform::GridView categoriesView, productsView;
  VSFlexGrid& categories = categoriesView.grid();
  VSFlexGrid& products = productsView.grid();
  for (VSFlexGrid* g : {&categories, &products}) data::prepareNavigatorGrid(*g);
  if (withView) {
    categoriesView.resize(400, 700);
    productsView.resize(1000, 700);
    categoriesView.show();
    productsView.show();
  }
  // With a view the time includes the update reaching it and one paint.
  auto settle = [&](platform::GridView& v) {
    if (!withView) return;
    const auto t0 = std::chrono::steady_clock::now();
    QApplication::processEvents();
    v.viewport()->repaint();
    viewTime += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  };
  const int rounds = 3;
  // The view's share, averaged over the rounds of one step.
  auto viewShare = [&] {
    const double v = viewTime / rounds;
    viewTime = 0;
    return v;
  };
  double ms = timeIt(rounds, [&] {
    data::layoutgrid(categories, "Category");
    std::string condition = "ParentID=0";
    data::fillgrid(data::libraryslot, categories, condition, 1);
    settle(categoriesView);
  });
  out.push_back({"tree (all nodes)", divisor, withView, categories.Rows() - 3, ms, viewShare()});
  ms = timeIt(rounds, [&] {
    data::layoutgrid(categories, "Category");
    std::string condition = "ID=0";
    data::fillgrid(data::libraryslot, categories, condition, 1);
    settle(categoriesView);
  });
  out.push_back({"loadnav tree (ID=0)", divisor, withView, categories.Rows() - 3, ms, viewShare()});
  data::layoutgrid(products, "CLProduct");
  ms = timeIt(rounds, [&] {
    std::string condition = "CLProduct.CategoryID=" + std::to_string(bigCategory);
    data::fillgrid(data::libraryslot, products, condition, 1);
    settle(productsView);
  });
  out.push_back({"category fill", divisor, withView, products.Rows() - 3, ms, viewShare()});
  ms = timeIt(rounds, [&] {
    std::string condition = *data::searchCondition(data::kSearchByName, "螺纹钢");
    data::fillgrid(data::libraryslot, products, condition, 1);
    settle(productsView);
  });
  out.push_back({"name search", divisor, withView, products.Rows() - 3, ms, viewShare()});
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_grid WORKDIR PRO.MDB\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  const fs::path dir = fs::absolute(argv[1]);
  fs::create_directories(dir);
  fs::copy_file(argv[2], dir / "pro.mdb", fs::copy_options::overwrite_existing);
  common::setProgramFolder(dir.string());
  platform::setMessageBoxHandler([](const platform::MessageBoxRequest& box) {
    std::fprintf(stderr, "message: %s\n", box.text.c_str());
    return platform::MsgResult::Ok;
  });

  std::vector<Line> lines;
  for (int divisor : {16, 4, 1}) {
    int big = 0;
    const std::string lib = libraryFor(dir, divisor, big);
    for (bool view : {false, true}) measure(lib, divisor, big, view, lines);
  }
  std::printf("%-22s %6s %5s %7s %9s %9s\n", "step", "size", "view", "rows", "ms", "view ms");
  for (const Line& l : lines)
    std::printf("%-22s %6s %5s %7d %9.1f %9.1f\n", l.what.c_str(),
                (l.divisor == 1 ? "1x" : "1/" + std::to_string(l.divisor)).c_str(), l.view ? "yes" : "no", l.rows, l.ms,
                l.viewMs);
  std::printf("targets at full size: tree < 300 ms, 10,000-row fill < 200 ms, search < 300 ms\n");
  return 0;
}
