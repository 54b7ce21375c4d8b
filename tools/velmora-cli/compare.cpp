// velmora-cli compare FOLDER --from NAME --to NAME [--price TITLE]
//     [--category ID | --factory ID | --search 产品名称|生产厂家|拼音简码 TEXT]
//     [--only changed|up|down|new|gone] [--format text|csv|json]
//
// Compares two libraries of a program folder through the same routines as the
// window "价格对比" (price_tools::compareLibraries), and prints the rows the
// window lists: the pair's ids, product, model, unit, manufacturer, old and
// new price, change, change in per cent and status, sorted by the size of the
// change. Without --to the latest library in month order is the newer one;
// without --from the library before the newer one in month order. JSON gives
// exact numbers (null where absent); CSV the same numbers unformatted; text
// shows the prices as the product grid formats them and prints the summary on
// standard error. A price, change or per cent that cannot be represented leaves
// that row without it, named on standard error (in JSON also as "note"); the
// rest of the comparison goes on. A search scope finds its products in each
// library by that library's own names, as the window's "current search" does.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "common/program_folder.h"
#include "data/browse.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_dump.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/months/comparison.h"
#include "price_tools/months/month_order.h"
#include "price_tools/pinyin/pinyin_search.h"

namespace {

using namespace price_tools;

const char* kUsage =
    "usage: velmora-cli compare FOLDER --from NAME --to NAME [--price TITLE]\n"
    "         [--category ID | --factory ID | --search 产品名称|生产厂家|拼音简码 TEXT]\n"
    "         [--only changed|up|down|new|gone] [--format text|csv|json]\n";

struct CompareOptions {
  std::string folder, from, to, price, format = "text";
  Scope scope;
  Filter filter = Filter::All;
};

bool parse(const std::vector<std::string>& args, CompareOptions& o, std::string& problem) {
  std::vector<std::string> plain;
  int scopes = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const size_t values = a == "--search" ? 2 : 1;
    const bool option = a == "--from" || a == "--to" || a == "--price" || a == "--category" || a == "--factory" ||
                        a == "--search" || a == "--only" || a == "--format";
    if (!option) {
      if (a.rfind("--", 0) == 0) {
        problem = "unknown option " + a;
        return false;
      }
      plain.push_back(a);
      continue;
    }
    if (i + values >= args.size()) {
      problem = a + " needs " + (values == 2 ? "a field and a text" : "a value");
      return false;
    }
    const std::string& v = args[++i];
    // An id is a whole number, 0 or more: anything else would name no
    // category (or the whole tree) and compare more than was asked.
    if ((a == "--category" || a == "--factory") &&
        (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 18)) {
      problem = a + " takes an id, a whole number of 0 or more: " + v;
      return false;
    }
    if (a == "--from") o.from = v;
    if (a == "--to") o.to = v;
    if (a == "--price") o.price = v;
    if (a == "--format") o.format = v;
    if (a == "--category") o.scope = {Scope::Category, data::idText(v), "", ""}, ++scopes;
    if (a == "--factory") o.scope = {Scope::Factory, data::idText(v), "", ""}, ++scopes;
    if (a == "--search") o.scope = {Scope::Search, "", v, args[++i]}, ++scopes;
    if (a == "--only") {
      auto f = filterNamed(v);
      if (!f || *f == Filter::All) {
        problem = "--only takes changed, up, down, new or gone";
        return false;
      }
      o.filter = *f;
    }
  }
  if (o.format != "text" && o.format != "csv" && o.format != "json") {
    problem = "unknown format " + o.format;
    return false;
  }
  if (scopes > 1) {
    problem = "one of --category, --factory and --search";
    return false;
  }
  if (o.scope.kind == Scope::Search) {
    if (o.scope.text.empty()) {
      problem = "请录入查询内容!";
      return false;
    }
    if (!data::isSearchField(o.scope.field)) {
      problem = "search field must be 产品名称, 生产厂家 or 拼音简码";
      return false;
    }
  }
  if (plain.size() != 1) {
    problem = "one program folder is needed";
    return false;
  }
  o.folder = plain[0];
  return true;
}

std::string number(const std::optional<Decimal>& d) { return d ? d->text() : ""; }
std::string json(const std::optional<Decimal>& d) { return d ? d->text() : "null"; }
std::string shown(const std::string& format, const std::optional<Decimal>& d) {
  return d ? platform::formatCellText(format, d->text()) : "";
}

void print(const Comparison& c, const std::string& format) {
  std::string out;
  if (format == "json") {
    using ado::jsonString;
    out = "{\"from\":" + jsonString(c.from) + ",\"to\":" + jsonString(c.to) + ",\"price\":" + jsonString(c.price.title) +
          ",\"rows\":[";
    for (size_t i = 0; i < c.rows.size(); ++i) {
      const ComparedRow& r = c.rows[i];
      const ProductView p = r.product();
      auto js = [](std::string_view t) { return jsonString(std::string(t)); };
      out += std::string(i ? ",\n" : "\n") + "{\"id_from\":" + (r.from ? jsonString(r.from->id) : "null") +
             ",\"id_to\":" + (r.to ? jsonString(r.to->id) : "null") + ",\"name\":" + js(p.name) +
             ",\"model\":" + js(p.model) + ",\"unit\":" + js(p.unit) +
             ",\"factory\":" + js(p.factory) + ",\"old\":" + json(r.oldPrice) + ",\"new\":" + json(r.newPrice) +
             ",\"change\":" + json(r.change) + ",\"percent\":" + json(r.percent) + ",\"status\":\"" +
             statusName(r.status) + "\"" + (r.note.empty() ? "" : ",\"note\":" + jsonString(r.note)) + "}";
    }
    out += "\n]}\n";
  } else {
    const bool csv = format == "csv";
    const char* sep = csv ? "," : "\t";
    const char* eol = csv ? "\r\n" : "\n";
    auto field = [&](const std::string& s) { return csv ? cli::csvField(s) : cli::textField(s); };
    out = std::string("id_from") + sep + "id_to" + sep + "name" + sep + "model" + sep + "unit" + sep + "factory" + sep +
          "old" + sep + "new" + sep + "change" + sep + "percent" + sep + "status" + eol;
    const std::string& f = c.price.format;
    for (const ComparedRow& r : c.rows) {
      const ProductView p = r.product();
      const std::vector<std::string> cells = {
          r.from ? r.from->id : "", r.to ? r.to->id : "", std::string(p.name), std::string(p.model),
          std::string(p.unit), std::string(p.factory),
          csv ? number(r.oldPrice) : shown(f, r.oldPrice), csv ? number(r.newPrice) : shown(f, r.newPrice),
          csv ? number(r.change) : shown(f, r.change),
          csv ? number(r.percent) : (r.percent ? platform::formatCellText("0.00", r.percent->text()) + "%" : ""),
          statusName(r.status)};
      for (size_t k = 0; k < cells.size(); ++k) out += (k ? sep : "") + field(cells[k]);
      out += eol;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  for (const std::string& note : c.notes) std::fprintf(stderr, "%s\n", cli::textField(note).c_str());
  // A product whose price, change or per cent is out of range is named with
  // the reason (JSON also carries it as "note"); the others are compared.
  for (const ComparedRow& r : c.rows)
    if (!r.note.empty())
      std::fprintf(stderr, "%s %s %s: %s\n", r.to ? r.to->id.c_str() : r.from->id.c_str(),
                   cli::textField(r.product().name).c_str(), cli::textField(r.product().model).c_str(), r.note.c_str());
  if (format == "text") {
    const Summary& s = c.summary;
    std::fprintf(stderr,
                 "%s -> %s, %s: %d up, %d down, %d same, %d new, %d gone, "
                 "median change %s\n",
                 cli::textField(c.from).c_str(), cli::textField(c.to).c_str(), cli::textField(c.price.title).c_str(),
                 s.up, s.down, s.same, s.added, s.gone, s.medianChange ? s.medianChange->text().c_str() : "-");
  }
}

int runCompare(const std::vector<std::string>& args) {
  // The search fields the window offers: the toolbar's two and the initials.
  pinyin::registerInitialsSearch();
  CompareOptions o;
  std::string problem;
  if (!parse(args, o, problem)) {
    std::fprintf(stderr, "%s%s\n", kUsage, problem.c_str());
    return 2;
  }
  std::string library = o.to;
  if (!cli::openProgramFolder(o.folder, library)) return 1;
  if (o.from.empty() || o.to.empty()) {
    const auto ordered = inMonthOrder(libraryList(common::programFolder()));
    if (ordered.size() < 2) {
      std::fprintf(stderr, "two libraries are needed to compare\n");
      return 1;
    }
    if (o.to.empty()) o.to = ordered.back();
    // The month before the newer one.
    if (o.from.empty()) {
      auto at = std::find(ordered.begin(), ordered.end(), o.to);
      o.from = at != ordered.end() && at != ordered.begin() ? *(at - 1) : ordered[ordered.size() - 2];
    }
  }
  return cli::runReported([&] { print(compareLibraries(o.from, o.to, o.price, o.scope, o.filter), o.format); });
}

}  // namespace

VELMORA_CLI_COMMAND(compare,
                    "compare FOLDER --from NAME --to NAME [--price TITLE] [--category ID | --factory ID | "
                    "--search 产品名称|生产厂家|拼音简码 TEXT] [--only changed|up|down|new|gone] [--format text|csv|json]",
                    runCompare);
