#include "price_tools/pricelist/adjustment.h"

namespace price_tools::pricelist {

std::optional<Adjustment> adjust(const std::optional<Decimal>& base, const std::optional<Decimal>& bid,
                                 const std::optional<Decimal>& current, const Decimal& risk,
                                 const Decimal& quantity) {
  if (!base || !current) return std::nullopt;
  const Decimal& b = *base;
  const Decimal t = bid ? *bid : b;
  const Decimal up = b < t ? t : b;    // U = max(B, T)
  const Decimal down = t < b ? t : b;  // D = min(B, T)
  const Decimal one(1, 0);
  const Decimal upper = up * (one + risk);
  const Decimal lower = down * (one - risk);
  Decimal perUnit;  // 0 within the range, its ends included
  if (upper < *current)
    perUnit = (*current - upper).rounded(2);
  else if (*current < lower)
    perUnit = (*current - lower).rounded(2);
  return Adjustment{perUnit, (perUnit * quantity).rounded(2)};
}

std::optional<Decimal> meanPrice(const std::vector<std::optional<Decimal>>& prices) {
  Decimal sum;
  int64_t count = 0;
  for (const auto& p : prices) {
    if (!p) continue;
    sum = sum + *p;
    ++count;
  }
  if (count == 0) return std::nullopt;
  return Decimal::quotient(sum, Decimal(count, 0), 2);
}

}  // namespace price_tools::pricelist
