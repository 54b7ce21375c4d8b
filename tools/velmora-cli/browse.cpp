// velmora-cli browse FOLDER [--library NAME] [--format text|csv|json|xlsx|pdf] [--output FILE]
//                    [--encoding utf8|gbk] [--numbers shown|raw] [--url BASE] [--all] COMMAND
//
// Browses a program folder without a window, through the very routines the
// main window runs (data::NavigatorSession: layoutgrid, fillgrid, the id
// rules and the page lookup), and prints the grid the window would show:
//
//   tree                    the category navigator after the navigators are loaded
//   factories               the manufacturer navigator
//   category ID             the product grid after a click on category ID
//   factory ID              the product grid after a click on manufacturer ID
//   search FIELD TEXT       the product grid after a search (FIELD 产品名称, 生产厂家 or 拼音简码)
//   page CATEGORY FACTORY   the page the page display would show for the pair
//
// A grid prints one line per shown row (folded outline rows are left out
// unless --all): the outline level, then the shown columns, tab-separated; the
// first line holds the column titles. --format csv and json export the same.
//
// With --output FILE the grid is written to FILE as the main window exports
// it: --format xlsx a spreadsheet, pdf the printed pages, csv a CSV file
// (UTF-8 with a byte-order mark, or --encoding gbk; numbers as shown, or as
// stored with --numbers raw). xlsx and pdf need --output.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "common/items.h"
#include "common/program_folder.h"
#include "common/text_case.h"
#include "platform/database/jet_dump.h"
#include "data/browse.h"
#include "data/connections.h"
#include "platform/grid/shown_table.h"
#include "price_tools/export/csv_export.h"
#include "price_tools/export/grid_pages.h"
#include "price_tools/export/xlsx_export.h"
#include "price_tools/pinyin/pinyin_search.h"

#include <QGuiApplication>

namespace {

using platform::VSFlexGrid;

struct BrowseOptions {
  std::string folder;
  std::string library;
  std::string format = "text";
  std::string url;
  std::string output;
  std::string encoding = "utf8";
  std::string numbers = "shown";
  bool urlGiven = false;
  bool all = false;
  std::vector<std::string> command;
};

const char* kUsage =
    "usage: velmora-cli browse FOLDER [--library NAME] [--format text|csv|json|xlsx|pdf] [--output FILE]\n"
    "                          [--encoding utf8|gbk] [--numbers shown|raw] [--url BASE] [--all] COMMAND\n"
    "  COMMAND: tree | factories | category ID | factory ID | search 产品名称|生产厂家|拼音简码 TEXT\n"
    "           | page CATEGORY FACTORY\n";

bool parse(const std::vector<std::string>& args, BrowseOptions& o, std::string& problem) {
  std::vector<std::string> plain;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--library" || a == "--format" || a == "--url" || a == "--output" || a == "--encoding" ||
        a == "--numbers") {
      if (i + 1 >= args.size()) {
        problem = a + " needs a value";
        return false;
      }
      const std::string& v = args[++i];
      if (a == "--library") o.library = v;
      if (a == "--format") o.format = v;
      if (a == "--url") o.url = v, o.urlGiven = true;
      if (a == "--output") o.output = v;
      if (a == "--encoding") o.encoding = v;
      if (a == "--numbers") o.numbers = v;
    } else if (a == "--all") {
      o.all = true;
    } else if (a == "--") {
      plain.insert(plain.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.rfind("--", 0) == 0) {
      problem = "unknown option " + a;
      return false;
    } else {
      plain.push_back(a);
    }
  }
  if (o.format != "text" && o.format != "csv" && o.format != "json" && o.format != "xlsx" && o.format != "pdf") {
    problem = "unknown format " + o.format;
    return false;
  }
  if ((o.format == "xlsx" || o.format == "pdf") && o.output.empty()) {
    problem = "--format " + o.format + " needs --output FILE";
    return false;
  }
  if (!o.output.empty() && o.format != "xlsx" && o.format != "pdf" && o.format != "csv") {
    problem = "--output writes xlsx, pdf or csv";
    return false;
  }
  if (o.encoding != "utf8" && o.encoding != "gbk") {
    problem = "unknown encoding " + o.encoding;
    return false;
  }
  if (o.numbers != "shown" && o.numbers != "raw") {
    problem = "--numbers is shown or raw";
    return false;
  }
  if (plain.size() < 2) {
    problem = "a folder and a command are needed";
    return false;
  }
  std::error_code ec;
  o.folder = std::filesystem::absolute(plain[0], ec).lexically_normal().string();
  if (o.folder.size() > 1 && o.folder.back() == '/') o.folder.pop_back();
  o.command.assign(plain.begin() + 1, plain.end());
  const std::string& c = o.command[0];
  const size_t want = c == "tree" || c == "factories" ? 1 : c == "category" || c == "factory" ? 2 : 3;
  if ((c != "tree" && c != "factories" && c != "category" && c != "factory" && c != "search" && c != "page") ||
      o.command.size() != want) {
    problem = "unknown command or wrong arguments: " + c;
    return false;
  }
  return true;
}

// The service base address from MainPro.ini (key url), read as the window
// reads its configuration: items lower-cased, split at the first "=".
std::string serviceBase() {
  auto items = common::readItemFile(common::inProgramFolder("MainPro.ini"), 50);
  std::string url;
  if (!items) return url;
  for (const std::string& raw : *items) {
    const std::string item = common::lowerText(raw);
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq + 1 == item.size()) continue;
    if (item.substr(0, eq) == "url") url = item.substr(eq + 1);
  }
  return url;
}

// --- output -----------------------------------------------------------------------

using ado::jsonString;

using cli::csvField;

using cli::textField;

using platform::shownColumns;

std::string title(const VSFlexGrid& g, int c) { return platform::columnTitle(g, c); }

std::string cellText(const VSFlexGrid& g, int r, int c) {
  if (g.ColDataType(c) == platform::flexDTBoolean) return g.cellChecked(r, c) == platform::flexChecked ? "1" : "0";
  return g.displayText(r, c);
}

void printGrid(const VSFlexGrid& g, const BrowseOptions& o) {
  const std::vector<int> cols = shownColumns(g);
  std::vector<int> rows;
  if (o.all) {
    for (int r = g.FixedRows(); r < g.Rows(); ++r)
      if (!g.RowHidden(r)) rows.push_back(r);
  } else {
    rows = g.visibleDataRows();
  }
  std::string out;
  auto level = [&](int r) { return g.IsSubtotal(r) ? g.RowOutlineLevel(r) : 0; };
  if (o.format == "json") {
    out += "{\"table\":" + jsonString(g.Tag()) + ",\"columns\":[";
    for (size_t i = 0; i < cols.size(); ++i) out += (i ? "," : "") + jsonString(title(g, cols[i]));
    out += "],\"rows\":[";
    for (size_t k = 0; k < rows.size(); ++k) {
      const int r = rows[k];
      out += std::string(k ? ",\n" : "\n") + "{\"row\":" + std::to_string(r) + ",\"level\":" + std::to_string(level(r)) +
             ",\"id\":" + jsonString(g.TextMatrix(r, g.Cols() - 1)) + ",\"cells\":[";
      for (size_t i = 0; i < cols.size(); ++i) out += (i ? "," : "") + jsonString(cellText(g, r, cols[i]));
      out += "]}";
    }
    out += "\n]}\n";
  } else {
    const bool csv = o.format == "csv";
    const char sep = csv ? ',' : '\t';
    auto field = [&](const std::string& s) { return csv ? csvField(s) : textField(s); };
    out += "level";
    for (int c : cols) out += sep + field(title(g, c));
    out += csv ? "\r\n" : "\n";
    for (int r : rows) {
      out += std::to_string(level(r));
      for (int c : cols) out += sep + field(cellText(g, r, c));
      out += csv ? "\r\n" : "\n";
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

// Writes the grid to --output as the window exports it; the exit code.
int exportGrid(const VSFlexGrid& g, const price_tools::exporting::ExportTitle& title, const BrowseOptions& o) {
  namespace ex = price_tools::exporting;
  ex::ExportResult result;
  if (o.format == "xlsx") {
    result = ex::writeXlsx(g, title, o.output);
  } else if (o.format == "csv") {
    ex::CsvOptions options;
    options.encoding = o.encoding == "gbk" ? ex::CsvOptions::Gbk : ex::CsvOptions::Utf8Bom;
    options.numbersAsShown = o.numbers == "shown";
    result = ex::writeCsv(g, options, o.output);
  } else {
    // Pages need fonts, hence a GUI application (without a display).
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velmora-cli";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
    (void)app;
    result = ex::writePdf(g, title, o.output);
  }
  if (!result.ok()) {
    std::fprintf(stderr, "%s\n", result.error.c_str());
    return 1;
  }
  return 0;
}

void printPage(const data::PageKey& key, const data::PageTarget& page, const BrowseOptions& o) {
  const std::string kind = page.isDefault ? "default" : page.isLocal ? "local" : "online";
  std::string out;
  if (o.format == "json") {
    out = "{\"category\":" + jsonString(key.categoryId) + ",\"factory\":" + jsonString(key.factoryId) +
          ",\"kind\":" + jsonString(kind) + ",\"address\":" + jsonString(page.address) + "}\n";
  } else if (o.format == "csv") {
    out = "category,factory,kind,address\r\n" + csvField(key.categoryId) + "," + csvField(key.factoryId) + "," + kind +
          "," + csvField(page.address) + "\r\n";
  } else {
    out = kind + "\t" + textField(page.address) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

int runBrowse(const std::vector<std::string>& args) {
  BrowseOptions o;
  std::string problem;
  if (!parse(args, o, problem)) {
    std::fprintf(stderr, "%s%s\n", kUsage, problem.c_str());
    return 2;
  }
  std::string library = o.library;
  price_tools::pinyin::registerInitialsSearch();
  if (!cli::openProgramFolder(o.folder, library)) return 1;
  const std::string base = o.urlGiven ? o.url : serviceBase();

  const std::string& cmd = o.command[0];
  if (cmd == "page") {
    const data::PageKey key{data::idText(o.command[1]), data::idText(o.command[2])};
    printPage(key, data::NavigatorSession::pageOf(key, base), o);
    return 0;
  }

  VSFlexGrid categories, products, factories;
  for (VSFlexGrid* g : {&categories, &products, &factories}) data::prepareNavigatorGrid(*g);
  data::NavigatorSession session(categories, products, factories);
  session.loadnav();
  bool ok = true;
  const VSFlexGrid* shown = &products;
  price_tools::exporting::ExportTitle exportTitle{library, "", price_tools::exporting::today()};
  if (cmd == "tree") {
    shown = &categories;
  } else if (cmd == "factories") {
    shown = &factories;
  } else if (cmd == "category") {
    ok = session.fillByCategory(o.command[1]);
    exportTitle.shown = price_tools::exporting::describeCategory(categories, data::idText(o.command[1]));
  } else if (cmd == "factory") {
    ok = session.fillByFactory(o.command[1]);
    exportTitle.shown = price_tools::exporting::describeFactory(factories, data::idText(o.command[1]));
  } else if (cmd == "search") {
    exportTitle.shown = price_tools::exporting::describeSearch(o.command[1], o.command[2]);
    switch (session.search(o.command[1], o.command[2])) {
      case data::NavigatorSession::SearchOutcome::EmptyText:
        std::fprintf(stderr, "请录入查询内容!\n");
        return 2;
      case data::NavigatorSession::SearchOutcome::NoSuchField:
        std::fprintf(stderr, "search field must be 产品名称, 生产厂家 or 拼音简码\n");
        return 2;
      case data::NavigatorSession::SearchOutcome::Failed:
        ok = false;
        break;
      case data::NavigatorSession::SearchOutcome::Filled:
        break;
    }
  }
  if (!o.output.empty()) {
    if (!ok) std::fprintf(stderr, "the fill stopped at a failing statement; the rows written before it are exported\n");
    const int code = exportGrid(*shown, exportTitle, o);
    return ok ? code : 1;
  }
  printGrid(*shown, o);
  if (!ok) {
    std::fprintf(stderr, "the fill stopped at a failing statement; the rows written before it are shown\n");
    return 1;
  }
  return 0;
}

}  // namespace

VELMORA_CLI_COMMAND(browse,
                    "browse FOLDER [--library NAME] [--format text|csv|json|xlsx|pdf] [--output FILE] "
                    "[--encoding utf8|gbk] [--numbers shown|raw] [--url BASE] [--all] COMMAND",
                    runBrowse);
