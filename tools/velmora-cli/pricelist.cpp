// velmora-cli pricelist FOLDER --input FILE [--sheet NAME] [--library NAME] [--price TITLE]
//     [--several average|lowest|highest|median|factory:ID] [--choices FILE]
//     [--base NAME --current NAME[,NAME...] [--risk PERCENT]]
//     [--format text|csv|json|xlsx] [--output FILE]
//
// Prices a material list through the same routine as the window 材料清单载价
// (price_tools::pricelist::priceList): every line matched to the library, its
// price by the rule for several makers, its amount and, with --base, the
// price adjustment between the base month and the current month (the mean of
// several with a list of names). JSON gives exact numbers (null where
// absent); CSV and text carry the same columns; xlsx writes the priced list
// as the window exports it (needs --output).
#include <cctype>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands.h"
#include "common/atomic_file.h"
#include "platform/database/jet_dump.h"
#include "price_tools/pricelist/list_export.h"
#include "price_tools/pricelist/priced_list.h"

namespace {

using namespace price_tools;
using namespace price_tools::pricelist;

const char* kUsage =
    "usage: velmora-cli pricelist FOLDER --input FILE [--sheet NAME] [--library NAME] [--price TITLE]\n"
    "         [--several average|lowest|highest|median|factory:ID] [--choices FILE]\n"
    "         [--base NAME --current NAME[,NAME...] [--risk PERCENT]]\n"
    "         [--format text|csv|json|xlsx] [--output FILE]\n";

struct ListOptions {
  std::string folder, input, sheet, choices, format = "text", output;
  PricingOptions pricing;
};

bool parse(const std::vector<std::string>& args, ListOptions& o, std::string& problem) {
  std::vector<std::string> plain;
  bool risk = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    static const std::vector<std::string> valued = {"--input", "--sheet", "--library", "--price", "--several",
                                                    "--choices", "--base", "--current", "--risk", "--format",
                                                    "--output"};
    if (std::find(valued.begin(), valued.end(), a) == valued.end()) {
      if (a.rfind("--", 0) == 0) {
        problem = "unknown option " + a;
        return false;
      }
      plain.push_back(a);
      continue;
    }
    if (i + 1 >= args.size()) {
      problem = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    if (a == "--input") o.input = v;
    if (a == "--sheet") o.sheet = v;
    if (a == "--library") o.pricing.library = v;
    if (a == "--price") o.pricing.priceTitle = v;
    if (a == "--choices") o.choices = v;
    if (a == "--base") o.pricing.base = v;
    if (a == "--format") o.format = v;
    if (a == "--output") o.output = v;
    if (a == "--several") {
      const auto rule = SeveralRule::parse(v);
      if (!rule) {
        problem = "--several takes average, lowest, highest, median or factory:ID";
        return false;
      }
      o.pricing.several = *rule;
    }
    if (a == "--current") {
      o.pricing.current.clear();
      size_t from = 0;
      for (size_t at = 0; at <= v.size(); ++at)
        if (at == v.size() || v[at] == ',') {
          if (at > from) o.pricing.current.push_back(v.substr(from, at - from));
          from = at + 1;
        }
      if (o.pricing.current.empty()) {
        problem = "--current needs a library name";
        return false;
      }
    }
    if (a == "--risk") {
      const auto percent = Decimal::parse(v);
      if (!percent || percent->sign() < 0 || Decimal(100, 0) < *percent) {
        problem = "--risk takes a per cent from 0 to 100";
        return false;
      }
      o.pricing.risk = *Decimal::quotient(*percent, Decimal(100, 0), 12);
      risk = true;
    }
  }
  if (o.format != "text" && o.format != "csv" && o.format != "json" && o.format != "xlsx") {
    problem = "unknown format " + o.format;
    return false;
  }
  if (o.format == "xlsx" && o.output.empty()) {
    problem = "--format xlsx needs --output FILE";
    return false;
  }
  if (o.input.empty()) {
    problem = "--input FILE is needed";
    return false;
  }
  if (o.pricing.base.empty() != o.pricing.current.empty()) {
    problem = "--base and --current go together";
    return false;
  }
  if (risk && o.pricing.base.empty()) {
    problem = "--risk needs --base and --current";
    return false;
  }
  if (plain.size() != 1) {
    problem = "one program folder is needed";
    return false;
  }
  o.folder = plain[0];
  return true;
}

// Never writes over the list, the choices, a library, pro.mdb or anything
// that is not a plain file: the output is a new file or one of our own.
bool outputIsSafe(const ListOptions& o, std::string& problem) {
  namespace fs = std::filesystem;
  if (o.output.empty()) return true;
  if (const std::string refused = common::exportTargetRefusal(o.output); !refused.empty()) {
    problem = "--output: " + refused;
    return false;
  }
  std::error_code ec;
  for (const std::string& own : {o.input, o.choices})
    if (!own.empty() && fs::equivalent(fs::path(o.output), fs::path(own), ec) && !ec) {
      problem = "--output " + o.output + " would write over " + own;
      return false;
    }
  return true;
}

std::string json(const std::optional<Decimal>& d) { return d ? d->text() : "null"; }
std::string plainNumber(const std::optional<Decimal>& d) { return d ? d->text() : ""; }

std::string jsonAnswer(const Candidate& c, bool withScore) {
  using ado::jsonString;
  std::string s = "{\"id\":" + jsonString(c.id) + ",\"name\":" + jsonString(c.name) + ",\"model\":" +
                  jsonString(c.model) + ",\"unit\":" + jsonString(c.unit) +
                  ",\"factory\":" + (c.factory.empty() ? std::string("null") : jsonString(c.factory)) +
                  ",\"price\":" + json(c.price);
  if (withScore) s += ",\"score\":" + std::to_string(c.score);
  return s + "}";
}

std::string asJson(const PricedList& p) {
  using ado::jsonString;
  std::string out = "{\"library\":" + jsonString(p.library) + ",\"price\":" + jsonString(p.price.title) +
                    ",\"lines\":[";
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const PricedLine& pl = p.lines[i];
    const ListLine& l = *pl.line;
    out += std::string(i ? ",\n" : "\n") + "{\"line\":" + std::to_string(l.row) + ",\"name\":" + jsonString(l.name) +
           ",\"model\":" + jsonString(l.model) + ",\"unit\":" + jsonString(l.unit) + ",\"quantity\":" +
           json(l.quantity) + ",\"bid\":" + json(l.bid) + ",\"status\":\"" + statusName(pl.status) + "\",\"match\":" +
           (pl.match ? jsonAnswer(*pl.match, false) : "null") + ",\"candidates\":[";
    for (size_t k = 0; k < pl.candidates.size(); ++k) out += (k ? "," : "") + jsonAnswer(pl.candidates[k], true);
    out += "],\"amount\":" + json(pl.amount);
    if (p.adjusted)
      out += ",\"base\":" + json(pl.basePrice) + ",\"current\":" + json(pl.currentPrice) + ",\"adjust\":" +
             json(pl.adjustment ? std::optional<Decimal>(pl.adjustment->perUnit) : std::nullopt) +
             ",\"adjust_amount\":" +
             json(pl.adjustment ? std::optional<Decimal>(pl.adjustment->amount) : std::nullopt);
    out += "}";
  }
  out += "\n],\"totals\":{\"amount\":" + p.total.text() + ",\"matched\":" + std::to_string(p.matched) +
         ",\"check\":" + std::to_string(p.check) + ",\"none\":" + std::to_string(p.none) +
         ",\"subtotals\":" + std::to_string(p.list->subtotalRows.size());
  if (p.adjusted)
    out += ",\"rises\":" + p.adjustmentTotals.rises.text() + ",\"falls\":" + p.adjustmentTotals.falls.text() +
           ",\"net\":" + p.adjustmentTotals.net.text();
  return out + "}}\n";
}

// CSV and text: the same columns, one row a line.
std::string asTable(const PricedList& p, bool csv) {
  const char* sep = csv ? "," : "\t";
  const char* eol = csv ? "\r\n" : "\n";
  auto field = [&](const std::string& s) { return csv ? cli::csvField(s) : cli::textField(s); };
  std::vector<std::string> head = {"line", "name", "model", "unit", "quantity", "bid", "status", "match_id",
                                   "match_name", "match_model", "match_unit", "match_factory", "price", "score",
                                   "amount"};
  if (p.adjusted) head.insert(head.end(), {"base", "current", "adjust", "adjust_amount"});
  std::string out;
  for (size_t k = 0; k < head.size(); ++k) out += (k ? sep : "") + head[k];
  out += eol;
  for (const PricedLine& pl : p.lines) {
    const ListLine& l = *pl.line;
    const Candidate* m = pl.match ? &*pl.match : nullptr;
    std::vector<std::string> cells = {std::to_string(l.row), l.name, l.model, l.unit, plainNumber(l.quantity),
                                      plainNumber(l.bid), statusName(pl.status), m ? m->id : "", m ? m->name : "",
                                      m ? m->model : "", m ? m->unit : "", m ? m->factory : "",
                                      m ? plainNumber(m->price) : "",
                                      m && !pl.candidates.empty() ? std::to_string(pl.candidates.front().score) : "",
                                      plainNumber(pl.amount)};
    if (p.adjusted)
      cells.insert(cells.end(), {plainNumber(pl.basePrice), plainNumber(pl.currentPrice),
                                 pl.adjustment ? pl.adjustment->perUnit.text() : "",
                                 pl.adjustment ? pl.adjustment->amount.text() : ""});
    for (size_t k = 0; k < cells.size(); ++k) out += (k ? sep : "") + field(cells[k]);
    out += eol;
  }
  return out;
}

int runPricelist(const std::vector<std::string>& args) {
  ListOptions o;
  std::string problem;
  if (!parse(args, o, problem)) {
    std::fprintf(stderr, "%s%s\n", kUsage, problem.c_str());
    return 2;
  }
  if (!outputIsSafe(o, problem)) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 2;
  }
  std::shared_ptr<const MaterialList> list;
  try {
    list = std::make_shared<const MaterialList>(readMaterialList(o.input, o.sheet));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::string library = o.pricing.library.empty() && !o.pricing.current.empty() ? o.pricing.current.back()
                                                                                 : o.pricing.library;
  if (!cli::openProgramFolder(o.folder, library)) return 1;
  return cli::runReported([&] {
    const Choices choices = o.choices.empty() ? Choices() : Choices::load(o.choices);
    const PricedList priced = priceList(list, o.pricing, choices);
    if (o.format == "xlsx") {
      const exporting::ExportResult r = writePricedXlsx(priced, o.output);
      if (!r.ok()) throw std::runtime_error(o.output + ": " + r.error);
    } else {
      const std::string text = o.format == "json" ? asJson(priced) : asTable(priced, o.format == "csv");
      if (o.output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
      } else {
        std::string error;
        if (!common::writeFileAtomic(o.output, text, &error)) throw std::runtime_error(o.output + ": " + error);
      }
    }
    std::fprintf(stderr, "%s, %s: %zu lines, %d 匹配, %d 待确认, %d 未匹配, total %s", priced.library.c_str(),
                 priced.price.title.c_str(), priced.lines.size(), priced.matched, priced.check, priced.none,
                 priced.total.text().c_str());
    if (!list->subtotalRows.empty())
      std::fprintf(stderr, "; %zu subtotal lines of the list left out", list->subtotalRows.size());
    std::fprintf(stderr, "\n");
  });
}

}  // namespace

VELMORA_CLI_COMMAND(pricelist,
                    "pricelist FOLDER --input FILE [--sheet NAME] [--library NAME] [--price TITLE] "
                    "[--several average|lowest|highest|median|factory:ID] [--choices FILE] "
                    "[--base NAME --current NAME[,NAME...] [--risk PERCENT]] [--format text|csv|json|xlsx] "
                    "[--output FILE]",
                    runPricelist);
