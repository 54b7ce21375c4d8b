#pragma once
// A whole material list priced at once: every line matched to a library of
// the program folder, its price by the rule for several makers, its amount
// (数量 × 单价, two places), and optionally the price adjustment between a
// base month and the current month (or the mean over a period of months).
// Used alike by the window 材料清单载价 and `velmora-cli pricelist`.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "price_tools/months/decimal.h"
#include "price_tools/months/products.h"
#include "price_tools/pricelist/adjustment.h"
#include "price_tools/pricelist/choices.h"
#include "price_tools/pricelist/line_matching.h"
#include "price_tools/pricelist/material_list.h"

namespace price_tools::pricelist {

struct PricingOptions {
  std::string library;     // the library to price from (NAME without .zdj); "" for the last in month order
  std::string priceTitle;  // the price column's title; "" for the first
  SeveralRule several;
  // The adjustment, when `base` is not empty.
  std::string base;                  // the base month's library
  std::vector<std::string> current;  // the current month's library, or the period's libraries (their mean)
  Decimal risk = Decimal(5, 2);      // 0.05
};

struct PricedLine {
  const ListLine* line = nullptr;     // owned by the PricedList's list
  MatchStatus status = MatchStatus::None;
  std::vector<Candidate> candidates;  // at most five, best first
  std::optional<Candidate> match;     // the chosen answer (the user's choice, or the one clear answer)
  bool chosen = false;                // the match is the user's choice
  std::optional<Decimal> amount;      // quantity × match price, two places
  // With an adjustment:
  std::optional<Decimal> basePrice, currentPrice;
  std::optional<Decimal> risk;        // this line's risk range when it differs from the list's
  std::optional<Adjustment> adjustment;
};

struct PricedList {
  std::shared_ptr<const MaterialList> list;
  std::string library;
  PriceColumn price;
  SeveralRule several;
  std::vector<PricedLine> lines;  // one per line of the list, in its order
  Decimal total;                  // sum of the amounts
  int matched = 0, check = 0, none = 0;
  // With an adjustment:
  bool adjusted = false;
  std::string base;
  std::vector<std::string> current;
  Decimal risk;
  AdjustmentTotals adjustmentTotals;
};

// Called now and then with lines done of all; returning false cancels (the
// call then throws std::runtime_error("已取消")).
using PricingProgress = std::function<bool(int done, int total)>;

// Prices a list on the program folder the data module is pointed at. Throws
// ado::Error when a library cannot be read, std::invalid_argument for options
// that name no library or price column.
PricedList priceList(std::shared_ptr<const MaterialList> list, const PricingOptions& options,
                     const Choices& choices = Choices(), const PricingProgress& progress = {});

// The same on libraries already loaded. `baseLib` and `currentLibs` are used
// only when options.base is set; without them (nullptr, none) the lines get
// their prices of the other months from PeriodPrices::apply.
PricedList priceListWith(std::shared_ptr<const MaterialList> list, const Catalogue& catalogue,
                         const PriceColumn& price, const PricingOptions& options, const Choices& choices,
                         const Catalogue* baseLib, const std::vector<const Catalogue*>& currentLibs,
                         const PricingProgress& progress = {});

// The prices a priced list's answers have in the base month's library and in
// the current month's (or the period's) libraries. Each library is streamed
// past once and reduced to those prices: its products are never held, so a
// period of twelve months costs a few prices per line, not twelve libraries.
class PeriodPrices {
 public:
  PeriodPrices();
  ~PeriodPrices();
  PeriodPrices(PeriodPrices&&) noexcept;
  PeriodPrices& operator=(PeriodPrices&&) noexcept;

  // Reads options.base and options.current (the price column `field`, the
  // list's rule for several makers) for the answers of `priced`. Throws
  // ado::Error when a library cannot be read.
  static PeriodPrices read(const PricedList& priced, const std::string& field, const PricingOptions& options);
  // True when every answer of `priced` was asked of the libraries (false
  // once a line was given an answer that had not been read).
  bool covers(const PricedList& priced) const;
  // Each line's base and current price and its adjustment, with its own risk
  // range where it has one, and the list's totals.
  void apply(PricedList& priced) const;

 private:
  struct Data;
  std::unique_ptr<Data> d_;
};

// Recomputes one line's amount and adjustment after its match or risk
// changed, and the list's totals.
void repriceLine(PricedList& priced, size_t lineIndex, const Catalogue* baseLib,
                 const std::vector<const Catalogue*>& currentLibs);
void recomputeTotals(PricedList& priced);

}  // namespace price_tools::pricelist
