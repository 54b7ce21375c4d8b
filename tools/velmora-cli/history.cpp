// velmora-cli history FOLDER --product ID [--library NAME] [--price TITLE] [--format text|csv|json]
//
// A product's price over every library of a program folder, in month order,
// through the same routine as the window "价格走势" (price_tools::productHistory):
// the product with id ID in library NAME (the latest month when not
// given), found in each library by name, model, unit and manufacturer. One
// point per library: the library, its month ("2026-11", empty/null when the
// name gives none), the product's id there and its price (empty/null where it
// is missing).
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_dump.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/months/history.h"

namespace {

using namespace price_tools;

const char* kUsage =
    "usage: velmora-cli history FOLDER --product ID [--library NAME] [--price TITLE] [--format text|csv|json]\n";

struct HistoryOptions {
  std::string folder, product, library, price, format = "text";
};

bool parse(const std::vector<std::string>& args, HistoryOptions& o, std::string& problem) {
  std::vector<std::string> plain;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--product" || a == "--library" || a == "--price" || a == "--format") {
      if (i + 1 >= args.size()) {
        problem = a + " needs a value";
        return false;
      }
      const std::string& v = args[++i];
      (a == "--product" ? o.product : a == "--library" ? o.library : a == "--price" ? o.price : o.format) = v;
    } else if (a.rfind("--", 0) == 0) {
      problem = "unknown option " + a;
      return false;
    } else {
      plain.push_back(a);
    }
  }
  if (o.format != "text" && o.format != "csv" && o.format != "json") {
    problem = "unknown format " + o.format;
    return false;
  }
  if (o.product.empty()) {
    problem = "--product ID is needed";
    return false;
  }
  if (plain.size() != 1) {
    problem = "one program folder is needed";
    return false;
  }
  o.folder = plain[0];
  return true;
}

void print(const History& h, const std::string& format) {
  std::string out;
  using ado::jsonString;
  if (format == "json") {
    const Product& p = h.product;
    out = "{\"product\":{\"name\":" + jsonString(p.name) + ",\"model\":" + jsonString(p.model) +
          ",\"unit\":" + jsonString(p.unit) + ",\"factory\":" + jsonString(p.factory) +
          "},\"price\":" + jsonString(h.price.title) + ",\"points\":[";
    for (size_t i = 0; i < h.points.size(); ++i) {
      const HistoryPoint& pt = h.points[i];
      out += std::string(i ? ",\n" : "\n") + "{\"library\":" + jsonString(pt.library) +
             ",\"month\":" + (pt.month ? jsonString(pt.month->text()) : "null") +
             ",\"id\":" + (pt.present ? jsonString(pt.id) : "null") +
             ",\"price\":" + (pt.price ? pt.price->text() : "null") +
             (pt.error.empty() ? "" : ",\"error\":" + jsonString(pt.error)) + "}";
    }
    out += "\n]}\n";
  } else {
    const bool csv = format == "csv";
    const char* sep = csv ? "," : "\t";
    const char* eol = csv ? "\r\n" : "\n";
    auto field = [&](const std::string& s) { return csv ? cli::csvField(s) : cli::textField(s); };
    out = std::string("library") + sep + "month" + sep + "id" + sep + "price" + eol;
    for (const HistoryPoint& pt : h.points) {
      const std::string price =
          !pt.price ? "" : csv ? pt.price->text() : platform::formatCellText(h.price.format, pt.price->text());
      out += field(pt.library) + sep + (pt.month ? pt.month->text() : "") + sep + field(pt.id) + sep + price + eol;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  for (const HistoryPoint& pt : h.points)
    if (!pt.error.empty())
      std::fprintf(stderr, "%s: %s\n", cli::textField(pt.library).c_str(), cli::textField(pt.error).c_str());
}

int runHistory(const std::vector<std::string>& args) {
  HistoryOptions o;
  std::string problem;
  if (!parse(args, o, problem)) {
    std::fprintf(stderr, "%s%s\n", kUsage, problem.c_str());
    return 2;
  }
  std::string opened = o.library;
  if (!cli::openProgramFolder(o.folder, opened)) return 1;
  // A library that could not be read is marked in its point (and named on
  // standard error); the run then ends with 1, as a failure.
  bool failed = false;
  const int code = cli::runReported([&] {
    const History h = productHistory(o.product, o.library, o.price);
    print(h, o.format);
    for (const HistoryPoint& pt : h.points) failed = failed || !pt.error.empty();
  });
  return code != 0 ? code : failed ? 1 : 0;
}

}  // namespace

VELMORA_CLI_COMMAND(history,
                    "history FOLDER --product ID [--library NAME] [--price TITLE] [--format text|csv|json]",
                    runHistory);
