#include "price_tools/pricelist/priced_list.h"

#include <algorithm>
#include <functional>
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

std::string answerKey(std::string_view name, std::string_view model, std::string_view unit) {
  return normalised(name) + '\x1f' + normalised(model) + '\x1f' + normalised(unit);
}

// The price of a line's answer in another library: the same name, model and
// unit (and the maker, when the user chose one), priced by the list's rule.
// Prices already looked up: lines of one answer share them.
using PriceCache = std::unordered_map<std::string, std::optional<Decimal>>;

std::optional<Decimal> priceIn(const Catalogue& lib, const PricedLine& line, const SeveralRule& rule,
                               PriceCache* cache) {
  const Candidate& m = *line.match;
  const std::string factory = line.chosen ? m.factory : std::string();
  std::string key;
  if (cache) {
    key = std::to_string(reinterpret_cast<uintptr_t>(&lib)) + '\x1e' + m.name + '\x1f' + m.model + '\x1f' + m.unit +
          '\x1f' + factory;
    if (auto it = cache->find(key); it != cache->end()) return it->second;
  }
  const std::optional<Candidate> c = lib.findAnswer(m.name, m.model, m.unit, factory, rule);
  const std::optional<Decimal> price = c ? c->price : std::nullopt;
  if (cache) cache->emplace(std::move(key), price);
  return price;
}

// A line's price in the base library (-1) or the k-th current one.
using PriceSource = std::function<std::optional<Decimal>(int library, const PricedLine& line)>;

void priceLineFrom(PricedList& priced, PricedLine& pl, bool hasBase, int currents, const PriceSource& priceOf) {
  const ListLine& line = *pl.line;
  pl.amount.reset();
  if (pl.match && pl.match->price && line.quantity) pl.amount = (*line.quantity * *pl.match->price).rounded(2);
  pl.basePrice.reset();
  pl.currentPrice.reset();
  pl.adjustment.reset();
  if (!priced.adjusted) return;
  if (line.base) pl.basePrice = line.base;
  else if (pl.match && hasBase) pl.basePrice = priceOf(-1, pl);
  if (pl.match && currents > 0) {
    if (currents == 1) {
      pl.currentPrice = priceOf(0, pl);
    } else {
      std::vector<std::optional<Decimal>> prices;
      prices.reserve(static_cast<size_t>(currents));
      for (int k = 0; k < currents; ++k) prices.push_back(priceOf(k, pl));
      pl.currentPrice = meanPrice(prices);
    }
  }
  const std::optional<Decimal> bid = line.bid ? line.bid : pl.basePrice;
  pl.adjustment = adjust(pl.basePrice, bid, pl.currentPrice, pl.risk ? *pl.risk : priced.risk,
                         line.quantity ? *line.quantity : Decimal());
}

void priceLine(PricedList& priced, PricedLine& pl, const Catalogue* baseLib,
               const std::vector<const Catalogue*>& currentLibs, PriceCache* cache = nullptr) {
  priceLineFrom(priced, pl, baseLib != nullptr, static_cast<int>(currentLibs.size()),
                [&](int k, const PricedLine& l) {
                  return priceIn(k < 0 ? *baseLib : *currentLibs[static_cast<size_t>(k)], l, priced.several, cache);
                });
}

// What a matched line asks of another library: its answer (normalised name,
// model and unit) and, when the user chose the maker, that maker.
struct Asked {
  std::string answer;
  std::string maker;  // normalised; "" for the list's rule
  bool operator==(const Asked&) const = default;
};
struct AskedHash {
  size_t operator()(const Asked& a) const { return std::hash<std::string>()(a.answer + '\x1e' + a.maker); }
};

Asked askedOf(const PricedLine& pl) {
  const Candidate& m = *pl.match;
  return {answerKey(m.name, m.model, m.unit), pl.chosen ? normalised(m.factory) : std::string()};
}

using MakersOf = std::unordered_map<std::string, std::vector<std::string>>;  // answer -> makers asked

// One library reduced to the prices the list asks of it. The products are
// streamed past and only the prices the rule needs are kept, per answer; the
// products themselves are never held.
std::unordered_map<Asked, std::optional<Decimal>, AskedHash> pricesIn(
    const LibraryFile& lib, const std::string& field, const SeveralRule& rule,
    const MakersOf& makersOf) {
  // Per answer asked, per maker asked of it: the prices of its products.
  struct Gathered {
    std::vector<std::pair<const std::string*, std::vector<Decimal>>> byMaker;
  };
  std::unordered_map<std::string, Gathered> gathered;
  for (const auto& [answer, makers] : makersOf) {
    Gathered& g = gathered[answer];
    for (const std::string& m : makers) g.byMaker.emplace_back(&m, std::vector<Decimal>());
  }
  // A library writes many products alike (one answer, several makers): each
  // text is normalised once. Keyed by the texts' lengths and the texts, so
  // that no two triples share a key.
  std::unordered_map<std::string, Gathered*> answerOf;
  std::unordered_map<std::string, std::string> makerNamed;
  std::string texts;
  const auto keep = [&](const ProductRow& p) {
    if (!p.price) return;
    texts.clear();
    for (const std::string_view t : {p.name, p.model, p.unit}) {
      texts += std::to_string(t.size());
      texts += ':';
      texts += t;
    }
    auto at = answerOf.find(texts);
    if (at == answerOf.end()) {
      const auto found = gathered.find(answerKey(p.name, p.model, p.unit));
      at = answerOf.emplace(texts, found == gathered.end() ? nullptr : &found->second).first;
    }
    if (!at->second) return;
    const std::string* maker = nullptr;  // normalised once, only when a choice names one
    for (auto& [m, prices] : at->second->byMaker) {
      if (m->empty()) {
        if (rule.kind != SeveralRule::Factory || p.factoryId == rule.factoryId) prices.push_back(*p.price);
        continue;
      }
      if (!maker) {
        const std::string factory(p.factory);
        auto named = makerNamed.find(factory);
        if (named == makerNamed.end()) named = makerNamed.emplace(factory, normalised(factory)).first;
        maker = &named->second;
      }
      if (*maker == *m) prices.push_back(*p.price);
    }
  };
  // Only the texts and the price: neither ids nor categories nor keys, and
  // the makers' names only when a choice names one.
  RowParts parts{false, false, false};
  parts.factories = false;
  for (const auto& [answer, makers] : makersOf)
    for (const std::string& m : makers) parts.factories = parts.factories || !m.empty();
  lib.forEachRow(field, {}, parts, keep);
  std::unordered_map<Asked, std::optional<Decimal>, AskedHash> out;
  for (auto& [answer, g] : gathered)
    for (auto& [maker, prices] : g.byMaker) {
      if (prices.empty()) continue;  // as an answer no product gave a price
      // A chosen maker: its price (the average of its products), whatever the
      // rule; the Factory rule likewise averages the one maker it leaves.
      out.emplace(Asked{answer, *maker},
                  priceByRule(std::move(prices), maker->empty() ? rule.kind : SeveralRule::Average));
    }
  return out;
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
  PriceCache cache;
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
    priceLine(out, pl, baseLib, currentLibs, &cache);
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
  const Catalogue catalogue(std::make_shared<const LibraryProducts>(main.products(column->field, nullptr, {}, false, false)),
                            synonyms);
  if (!adjusted) return priceListWith(list, catalogue, *column, options, choices, nullptr, {}, progress);

  // The base and current months are needed only for the answers the list
  // found: priced once without them, the answers tell which products to keep.
  PricedList first = priceListWith(list, catalogue, *column, options, choices, nullptr, {}, progress);
  PeriodPrices::read(first, column->field, options).apply(first);
  return first;
}

using AskedPrices = std::unordered_map<Asked, std::optional<Decimal>, AskedHash>;

struct PeriodPrices::Data {
  std::unordered_set<Asked, AskedHash> asked;  // what was asked of the libraries
  std::vector<AskedPrices> prices;             // the base library's, then each current one's
};

PeriodPrices::PeriodPrices() = default;
PeriodPrices::~PeriodPrices() = default;
PeriodPrices::PeriodPrices(PeriodPrices&&) noexcept = default;
PeriodPrices& PeriodPrices::operator=(PeriodPrices&&) noexcept = default;

PeriodPrices PeriodPrices::read(const PricedList& priced, const std::string& field, const PricingOptions& options) {
  PeriodPrices out;
  out.d_ = std::make_unique<Data>();
  // answer -> the makers asked of it ("" for the list's rule)
  MakersOf makersOf;
  for (const PricedLine& pl : priced.lines)
    if (pl.match) {
      Asked a = askedOf(pl);
      out.d_->asked.insert(a);
      std::vector<std::string>& makers = makersOf[a.answer];
      if (std::find(makers.begin(), makers.end(), a.maker) == makers.end()) makers.push_back(std::move(a.maker));
    }

  std::vector<std::string> others{options.base};
  others.insert(others.end(), options.current.begin(), options.current.end());
  // A library named twice (the base month is often the period's first) is
  // read once: `readAs[k]` is the place of others[k] among the ones read.
  std::vector<std::string> distinct;
  std::vector<size_t> readAs;
  std::unordered_map<std::string, size_t> placeOf;
  for (const std::string& name : others) {
    const auto [at, fresh] = placeOf.try_emplace(name, distinct.size());
    if (fresh) distinct.push_back(name);
    readAs.push_back(at->second);
  }
  std::vector<AskedPrices> read(distinct.size());
  // Two at a time: both opened on this thread (an open may copy a library
  // into the cache and tell its progress), then read at once, one on a
  // helper thread (each library reads its own connection). Each is reduced
  // to its prices and closed before the next two open.
  for (size_t i = 0; i < distinct.size(); i += 2) {
    std::vector<std::unique_ptr<LibraryFile>> opened;
    for (size_t k = i; k < std::min(i + 2, distinct.size()); ++k)
      opened.push_back(std::make_unique<LibraryFile>(distinct[k]));
    auto load = [&](size_t k) { read[k] = pricesIn(*opened[k - i], field, priced.several, makersOf); };
    std::future<void> second;
    if (opened.size() > 1) second = std::async(std::launch::async, load, i + 1);
    load(i);
    if (second.valid()) second.get();
  }
  std::vector<AskedPrices>& prices = out.d_->prices;
  prices.reserve(others.size());
  for (const size_t k : readAs) prices.push_back(read[k]);
  return out;
}

bool PeriodPrices::covers(const PricedList& priced) const {
  if (!d_) return false;
  for (const PricedLine& pl : priced.lines)
    if (pl.match && !d_->asked.count(askedOf(pl))) return false;
  return true;
}

void PeriodPrices::apply(PricedList& priced) const {
  if (!d_ || d_->prices.empty()) return;
  const int currents = static_cast<int>(d_->prices.size()) - 1;
  for (PricedLine& pl : priced.lines)
    priceLineFrom(priced, pl, true, currents, [&](int k, const PricedLine& l) -> std::optional<Decimal> {
      const auto& in = d_->prices[static_cast<size_t>(k + 1)];
      const auto it = in.find(askedOf(l));
      return it == in.end() ? std::nullopt : it->second;
    });
  recomputeTotals(priced);
}

}  // namespace price_tools::pricelist
