// Benchmark of the material-list pricing on a 200,000-product library.
//
//   pricelist_bench prepare DIR PRO_MDB  writes DIR: pro.mdb (copied), the
//                                        generated library as 2025年01月 and 11
//                                        more months as hard links to it
//   pricelist_bench open DIR             reads the library's products once: the
//                                        reference for memory
//   pricelist_bench match DIR            prices 2,000 lines (priceList: the library
//                                        read, indexed and every line matched)
//   pricelist_bench adjust DIR           the same with the adjustment over the 12
//                                        months (base the first, current all 12)
//   pricelist_bench search DIR           the reference: the library's plain name
//                                        search (the product grid's) for the
//                                        same 2,000 lines
//
// Each prints its wall time and the process's peak resident memory. Run each
// twice after `prepare`: the first run fills the library cache, the second is
// the warm one.
#include <sys/resource.h>

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
#include "platform/messagebox/messagebox.h"
#include "price_tools/months/month_order.h"
#include "price_tools/pricelist/priced_list.h"

namespace fs = std::filesystem;
using namespace price_tools;
using namespace price_tools::pricelist;

namespace {

long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

std::string monthName(int i) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d年%02d月信息价", 2025 + i / 12, i % 12 + 1);
  return buf;
}

// 2,000 lines as a list writes the generated products: names and sizes of
// the library, with other signs, widths and units, and one line in ten for a
// size it does not list.
std::shared_ptr<MaterialList> benchList() {
  static const char* kinds[] = {"螺纹钢", "圆钢", "角钢", "槽钢", "工字钢", "钢板", "镀锌管", "焊管", "无缝管", "普通硅酸盐",
                                "复合硅酸盐", "板材", "方木", "胶合板", "PPR管", "PE管", "PVC管", "铜芯线", "铝芯线", "电力电缆",
                                "螺栓", "合页", "浮法玻璃", "钢化玻璃", "乳胶漆", "防火涂料", "卷材", "涂膜", "挤塑板", "岩棉板"};
  static const char* grades[] = {"HRB400", "HRB400E", "HRB500", "HPB300", "Q235", "Q345", "P.O42.5", "P.C32.5",
                                 "A级", "B级", "优等品", "一等品", "合格品", "国标", "加厚", "轻型"};
  static const char* units[] = {"t", "m", "m3", "㎡", "kg", "根", "块", "卷", "套", "个"};
  auto list = std::make_shared<MaterialList>();
  for (int i = 0; i < 2000; ++i) {
    const int p = 1 + i * 97;
    ListLine l;
    l.row = i + 4;
    l.name = std::string(kinds[p % 30]) + (i % 2 ? " " : "") + grades[(p / 3) % 16];
    const int d = i % 10 == 9 ? 60 : 6 + p % 40;  // Φ60 is not in the library
    l.model = (i % 3 ? "φ" : "直径") + std::to_string(d) + (i % 2 ? "*" : "×") + std::to_string(1 + p % 12);
    l.unit = units[p % 10];
    l.quantity = Decimal(1000 + i, 2);
    list->lines.push_back(l);
  }
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  common::preferLargePages(argv);  // as the programs start
  if (argc < 3) {
    std::fprintf(stderr, "usage: pricelist_bench prepare DIR PRO_MDB | open|match|adjust|search DIR\n");
    return 2;
  }
  const std::string what = argv[1], dir = argv[2];
  using clock = std::chrono::steady_clock;
  auto ms = [](clock::time_point a) { return std::chrono::duration<double, std::milli>(clock::now() - a).count(); };
  if (what == "prepare") {
    if (argc != 4) return 2;
    fs::create_directories(dir);
    fs::copy_file(argv[3], dir + "/pro.mdb", fs::copy_options::overwrite_existing);
    const std::string first = dir + "/" + monthName(0) + ".zdj";
    if (!fs::exists(first)) jetwrite::writeDatabase(jetwrite::makeBenchLibrary(jetwrite::BenchShape{}), first);
    for (int i = 1; i < 12; ++i) {
      const std::string link = dir + "/" + monthName(i) + ".zdj";
      fs::remove(link);
      fs::create_hard_link(first, link);
    }
    return 0;
  }
  platform::MessageBoxRecorder quiet;
  common::setProgramFolder(fs::absolute(dir).string());
  data::libraryslot = 1;
  const auto months = inMonthOrder(data::libraryNames(common::programFolder()));
  if (months.size() < 12) return 1;
  data::opendatabases(months.back() + ".zdj");
  const auto list = benchList();
  std::string detail;
  const auto t = clock::now();
  if (what == "open") {
    const LibraryFile lib(months.back());
    detail = std::to_string(lib.products("PriceTax", nullptr, {}, false).products.size()) + " products";
  } else if (what == "match" || what == "adjust") {
    PricingOptions o;
    o.library = months.back();
    if (what == "adjust") {
      o.base = months.front();
      o.current = months;
    }
    const PricedList p = priceList(list, o);
    detail = std::to_string(p.lines.size()) + " lines: " + std::to_string(p.matched) + " 匹配, " +
             std::to_string(p.check) + " 待确认, " + std::to_string(p.none) + " 未匹配" +
             (p.adjusted ? ", net " + p.adjustmentTotals.net.text() : "");
  } else if (what == "search") {
    const LibraryFile lib(months.back());
    size_t found = 0;
    for (const ListLine& l : list->lines) found += lib.searchIds("产品名称", l.name).size();
    detail = std::to_string(found) + " products found";
  } else {
    return 2;
  }
  std::printf("%-7s %8.0f ms  peak %5ld MB  (%s)\n", what.c_str(), ms(t), peakKb() / 1024, detail.c_str());
  return 0;
}
