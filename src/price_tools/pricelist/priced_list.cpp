#include "price_tools/pricelist/priced_list.h"

#include <algorithm>
#include <future>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "common/program_folder.h"
#include "data/browse.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/month_order.h"

namespace price_tools::pricelist {

namespace {

// Lines written the same way get the same answers.
std::string writtenAs(const ListLine& line) {
  return normalised(line.name) + '\x1f' + normalised(line.model) + '\x1f' + normalised(line.unit);
}

std::string answerKey(const std::string& name, const std::string& model, const std::string& unit) {
  return normalised(name) + '\x1f' + normalised(model) + '\x1f' + normalised(unit);
}

// The price of a line's answer in another library: the same name, model and
// unit (and the maker, when the user chose one), priced by the list's rule.
std::optional<Decimal> priceIn(const Catalogue& lib, const PricedLine& line, const SeveralRule& rule) {
  const Candidate& m = *line.match;
  const std::string factory = line.chosen ? m.factory : std::string();
  const std::optional<Candidate> c = lib.findAnswer(m.name, m.model, m.unit, factory, rule);
  return c ? c->price : std::nullopt;
}

void priceLine(PricedList& priced, PricedLine& pl, const Catalogue* baseLib,
               const std::vector<const Catalogue*>& currentLibs) {
  const ListLine& line = *pl.line;
  pl.amount.reset();
  if (pl.match && pl.match->price && line.quantity) pl.amount = (*line.quantity * *pl.match->price).rounded(2);
  pl.basePrice.reset();
  pl.currentPrice.reset();
  pl.adjustment.reset();
  if (!priced.adjusted) return;
  if (line.base) pl.basePrice = line.base;
  else if (pl.match && baseLib) pl.basePrice = priceIn(*baseLib, pl, priced.several);
  if (pl.match && !currentLibs.empty()) {
    if (currentLibs.size() == 1) {
      pl.currentPrice = priceIn(*currentLibs.front(), pl, priced.several);
    } else {
      std::vector<std::optional<Decimal>> prices;
      prices.reserve(currentLibs.size());
      for (const Catalogue* c : currentLibs) prices.push_back(priceIn(*c, pl, priced.several));
      pl.currentPrice = meanPrice(prices);
    }
  }
  const std::optional<Decimal> bid = line.bid ? line.bid : pl.basePrice;
  pl.adjustment = adjust(pl.basePrice, bid, pl.currentPrice, pl.risk ? *pl.risk : priced.risk,
                         line.quantity ? *line.quantity : Decimal());
}

}  // namespace

void recomputeTotals(PricedList& priced) {
  priced.total = Decimal();
  priced.matched = priced.check = priced.none = 0;
  priced.adjustmentTotals = AdjustmentTotals{};
  for (const PricedLine& pl : priced.lines) {
    if (pl.amount) priced.total = priced.total + *pl.amount;
    switch (pl.status) {
      case MatchStatus::Matched: ++priced.matched; break;
      case MatchStatus::Check: ++priced.check; break;
      case MatchStatus::None: ++priced.none; break;
    }
    if (pl.adjustment) {
      const Decimal& a = pl.adjustment->amount;
      if (a.sign() > 0) priced.adjustmentTotals.rises = priced.adjustmentTotals.rises + a;
      if (a.sign() < 0) priced.adjustmentTotals.falls = priced.adjustmentTotals.falls + a;
    }
  }
  priced.adjustmentTotals.net = priced.adjustmentTotals.rises + priced.adjustmentTotals.falls;
}

void repriceLine(PricedList& priced, size_t lineIndex, const Catalogue* baseLib,
                 const std::vector<const Catalogue*>& currentLibs) {
  if (lineIndex >= priced.lines.size()) return;
  priceLine(priced, priced.lines[lineIndex], baseLib, currentLibs);
  recomputeTotals(priced);
}

PricedList priceListWith(std::shared_ptr<const MaterialList> list, const Catalogue& catalogue,
                         const PriceColumn& price, const PricingOptions& options, const Choices& choices,
                         const Catalogue* baseLib, const std::vector<const Catalogue*>& currentLibs,
                         const PricingProgress& progress) {
  PricedList out;
  out.list = list;
  out.library = catalogue.library().library;
  out.price = price;
  out.several = options.several;
  out.adjusted = !options.base.empty();
  out.base = options.base;
  out.current = options.current;
  out.risk = options.risk;
  const int total = static_cast<int>(list->lines.size());
  out.lines.resize(list->lines.size());
  std::unordered_map<std::string, size_t> ranked;  // written as -> the first line written so
  for (size_t i = 0; i < list->lines.size(); ++i) {
    if (progress && i % 64 == 0 && !progress(static_cast<int>(i), total)) throw std::runtime_error("已取消");
    const ListLine& line = list->lines[i];
    PricedLine& pl = out.lines[i];
    pl.line = &line;
    auto [seen, fresh] = ranked.try_emplace(writtenAs(line), i);
    if (fresh)
      pl.candidates = catalogue.rank({line.name, line.model, line.unit, ""}, options.several, 5);
    else
      pl.candidates = out.lines[seen->second].candidates;
    pl.status = Catalogue::statusOf(pl.candidates);
    if (pl.status == MatchStatus::Matched) pl.match = pl.candidates.front();
    if (const std::optional<Choice> choice = choices.find(line)) {
      if (choice->none) {
        pl.match.reset();
        pl.status = MatchStatus::None;
        pl.chosen = true;
      } else if (auto answer =
                     catalogue.findAnswer(choice->name, choice->model, choice->unit, choice->factory, options.several)) {
        pl.match = std::move(answer);
        pl.status = MatchStatus::Matched;
        pl.chosen = true;
      }
      // A choice this library does not hold leaves the line to the matching.
    }
    priceLine(out, pl, baseLib, currentLibs);
  }
  if (progress && !progress(total, total)) throw std::runtime_error("已取消");
  recomputeTotals(out);
  return out;
}

PricedList priceList(std::shared_ptr<const MaterialList> list, const PricingOptions& optionsIn,
                     const Choices& choices, const PricingProgress& progress) {
  PricingOptions options = optionsIn;
  const std::vector<std::string> ordered = inMonthOrder(data::libraryNames(common::programFolder()));
  if (ordered.empty()) throw std::invalid_argument("no library in " + common::programFolder());
  if (options.library.empty()) options.library = options.current.empty() ? ordered.back() : options.current.back();
  const bool adjusted = !options.base.empty();
  if (adjusted && options.current.empty()) throw std::invalid_argument("the adjustment needs a current library");

  const LibraryFile main(options.library);
  const std::optional<PriceColumn> column = findPriceColumn(main.priceColumns(), options.priceTitle);
  if (!column) throw std::invalid_argument("no price column " + options.priceTitle);
  const Synonyms synonyms = Synonyms::forProgramFolder(common::programFolder());
  const Catalogue catalogue(std::make_shared<const LibraryProducts>(main.products(column->field, nullptr, {}, false)),
                            synonyms);
  if (!adjusted) return priceListWith(list, catalogue, *column, options, choices, nullptr, {}, progress);

  // The base and current months are needed only for the answers the list
  // found: priced once without them, the answers tell which products to keep.
  PricedList first = priceListWith(list, catalogue, *column, options, choices, nullptr, {}, progress);
  std::unordered_set<std::string> wanted;
  for (const PricedLine& pl : first.lines)
    if (pl.match) wanted.insert(answerKey(pl.match->name, pl.match->model, pl.match->unit));
  auto keep = [&](const Product& p) { return wanted.count(answerKey(p.name, p.model, p.unit)) > 0; };

  std::vector<std::string> others{options.base};
  others.insert(others.end(), options.current.begin(), options.current.end());
  std::vector<std::unique_ptr<Catalogue>> read(others.size());
  // Two at a time: each opened here, one read on a helper thread, the other
  // on this one (each library reads its own connection).
  for (size_t i = 0; i < others.size(); i += 2) {
    auto load = [&](size_t k) {
      const LibraryFile lib(others[k]);
      read[k] = std::make_unique<Catalogue>(
          std::make_shared<const LibraryProducts>(lib.products(column->field, keep, {}, false)), Synonyms());
    };
    std::future<void> second;
    if (i + 1 < others.size()) second = std::async(std::launch::async, load, i + 1);
    load(i);
    if (second.valid()) second.get();
  }
  std::vector<const Catalogue*> current;
  for (size_t k = 1; k < read.size(); ++k) current.push_back(read[k].get());
  for (PricedLine& pl : first.lines) priceLine(first, pl, read[0].get(), current);
  recomputeTotals(first);
  return first;
}

}  // namespace price_tools::pricelist
