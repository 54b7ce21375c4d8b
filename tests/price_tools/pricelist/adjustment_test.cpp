// The price adjustment by the information-price difference method, against
// cases worked by hand: U = max(B, T), D = min(B, T); above U × (1 + r) the
// excess, below D × (1 − r) the (negative) shortfall, in between and at both
// ends of the range nothing; per unit and amount rounded half away from zero
// to two places.
#include <gtest/gtest.h>

#include "price_tools/pricelist/adjustment.h"

using price_tools::Decimal;
using namespace price_tools::pricelist;

namespace {

std::optional<Decimal> dec(const char* s) {
  if (!s) return std::nullopt;
  return *Decimal::parse(s);
}

struct Case {
  const char* what;
  const char* base;
  const char* bid;  // nullptr: the list has no bid price
  const char* current;
  const char* risk;
  const char* quantity;
  const char* perUnit;
  const char* amount;
};

// Worked by hand from the rule.
const Case kCases[] = {
    {"rise beyond the range, no bid", "4000.00", nullptr, "4300.00", "0.05", "12.5", "100", "1250"},
    {"rise within the range", "4000.00", nullptr, "4200.00", "0.05", "12.5", "0", "0"},
    {"exactly at +r", "4000.00", nullptr, "4200.00", "0.05", "1", "0", "0"},
    {"a cent beyond +r", "4000.00", nullptr, "4200.01", "0.05", "100", "0.01", "1"},
    {"fall beyond the range, no bid", "4000.00", nullptr, "3700.00", "0.05", "8", "-100", "-800"},
    {"exactly at -r", "4000.00", nullptr, "3800.00", "0.05", "8", "0", "0"},
    {"a cent beyond -r", "4000.00", nullptr, "3799.99", "0.05", "8", "-0.01", "-0.08"},
    {"fall within the range", "4000.00", nullptr, "3850.00", "0.05", "8", "0", "0"},
    {"bid below base, rise measured from the base", "4000.00", "3800.00", "4300.00", "0.05", "10", "100", "1000"},
    {"bid below base, fall measured from the bid", "4000.00", "3800.00", "3550.00", "0.05", "10", "-60", "-600"},
    {"bid below base, exactly at -r of the bid", "4000.00", "3800.00", "3610.00", "0.05", "10", "0", "0"},
    {"bid above base, rise measured from the bid", "4000.00", "4100.00", "4350.00", "0.05", "10", "45", "450"},
    {"bid above base, exactly at +r of the bid", "4000.00", "4100.00", "4305.00", "0.05", "10", "0", "0"},
    {"bid above base, fall measured from the base", "4000.00", "4100.00", "3750.00", "0.05", "10", "-50", "-500"},
    {"the bid equal to the base", "4000.00", "4000.00", "4300.00", "0.05", "2", "100", "200"},
    // 105.13 - 100.01 × 1.05 = 105.13 - 105.0105 = 0.1195 -> 0.12
    {"per unit rounded half away from zero", "100.01", nullptr, "105.13", "0.05", "3", "0.12", "0.36"},
    // 105.0255 - 105.0105 = 0.015, half a cent: away from zero
    {"per unit at a half cent", "100.01", nullptr, "105.0255", "0.05", "1", "0.02", "0.02"},
    // 94.9945 - 100.00 × 0.95 = -0.0055 -> -0.01
    {"a fall of half a tenth of a cent", "100.00", nullptr, "94.9945", "0.05", "1", "-0.01", "-0.01"},
    // 540 - 520 × 1.03 = 4.40; × 37.75 = 166.10
    {"risk range 3%", "520.00", nullptr, "540.00", "0.03", "37.75", "4.4", "166.1"},
    // 0.01 × 0.5 = 0.005: half a cent, away from zero
    {"amount rounded half away from zero", "4000.00", nullptr, "4200.01", "0.05", "0.5", "0.01", "0.01"},
    {"negative amount rounded away from zero", "4000.00", nullptr, "3799.99", "0.05", "0.5", "-0.01", "-0.01"},
    {"no risk range", "50", nullptr, "50.01", "0", "3", "0.01", "0.03"},
    // the amount is the rounded per-unit figure × quantity: 0.12 × 1000 = 120, not 0.1195 × 1000 = 119.5
    {"amount from the rounded per-unit figure", "100.01", nullptr, "105.13", "0.05", "1000", "0.12", "120"},
    {"a zero quantity", "4000.00", nullptr, "4300.00", "0.05", "0", "100", "0"},
};

}  // namespace

TEST(Adjustment, MatchesTheCasesWorkedByHand) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const auto a = adjust(dec(c.base), dec(c.bid), dec(c.current), *dec(c.risk), *dec(c.quantity));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->perUnit.text(), c.perUnit);
    EXPECT_EQ(a->amount.text(), c.amount);
  }
}

TEST(Adjustment, NeedsABaseAndACurrentPrice) {
  EXPECT_FALSE(adjust(std::nullopt, dec("4000"), dec("4300"), *dec("0.05"), *dec("1")));
  EXPECT_FALSE(adjust(dec("4000"), dec("4000"), std::nullopt, *dec("0.05"), *dec("1")));
  // A bid price alone does not stand in for the base.
  EXPECT_TRUE(adjust(dec("4000"), std::nullopt, dec("4300"), *dec("0.05"), *dec("1")));
}

TEST(MeanPrice, IsTheMeanOfThePricesPresentRoundedToTwoPlaces) {
  EXPECT_EQ(meanPrice({dec("10"), dec("20"), dec("40")})->text(), "23.33");
  EXPECT_EQ(meanPrice({dec("10.00"), dec("10.01")})->text(), "10.01");  // 10.005 rounds away from zero
  EXPECT_EQ(meanPrice({dec("-10.00"), dec("-10.01")})->text(), "-10.01");
  EXPECT_EQ(meanPrice({dec("3952.35"), std::nullopt, dec("4142.2")})->text(), "4047.28");  // 4047.275
  EXPECT_EQ(meanPrice({dec("0.1"), dec("0.2")})->text(), "0.15");
  EXPECT_FALSE(meanPrice({std::nullopt, std::nullopt}));
  EXPECT_FALSE(meanPrice({}));
}
