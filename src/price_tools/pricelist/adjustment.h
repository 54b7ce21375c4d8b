#pragma once
// The price adjustment (调差) of a contract by the information-price
// difference method: for one line, with
//   B  the base price (base month, or the list's 基准单价),
//   T  the bid price (the list's bid column, otherwise B),
//   C  the current price (current month, or the mean over a period),
//   r  the risk range (0.05 for 5%),
//   U = max(B, T), D = min(B, T):
//   C > U × (1 + r):  C − U × (1 + r)
//   C < D × (1 − r):  C − D × (1 − r)   (negative)
//   otherwise         0
// rounded half away from zero to two places; the amount is that figure ×
// quantity, rounded the same way. Exact decimals throughout.
#include <optional>
#include <vector>

#include "price_tools/months/decimal.h"

namespace price_tools::pricelist {

struct Adjustment {
  Decimal perUnit;  // two places
  Decimal amount;   // perUnit × quantity, two places
};

// nullopt when B or C is missing.
std::optional<Adjustment> adjust(const std::optional<Decimal>& base, const std::optional<Decimal>& bid,
                                 const std::optional<Decimal>& current, const Decimal& risk,
                                 const Decimal& quantity);

// The arithmetic mean of the prices present, rounded half away from zero to
// two places; nullopt when none is present.
std::optional<Decimal> meanPrice(const std::vector<std::optional<Decimal>>& prices);

struct AdjustmentTotals {
  Decimal rises;  // sum of the positive amounts
  Decimal falls;  // sum of the negative amounts (negative or 0)
  Decimal net;    // rises + falls
};

}  // namespace price_tools::pricelist
