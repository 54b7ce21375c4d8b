// Products, rounding and quotients of prices: exact, half away from zero.
#include <gtest/gtest.h>

#include <stdexcept>

#include "price_tools/months/decimal.h"

using price_tools::Decimal;

namespace {

Decimal dec(const char* s) { return *Decimal::parse(s); }

}  // namespace

TEST(DecimalArithmetic, ProductsAreExact) {
  EXPECT_EQ((dec("4142.2") * dec("12.5")).text(), "51777.5");
  EXPECT_EQ((dec("0.1") * dec("0.2")).text(), "0.02");
  EXPECT_EQ((dec("-3.05") * dec("2")).text(), "-6.1");
  // Twelve places each: the product keeps the places it can, exactly.
  EXPECT_EQ((dec("0.000001") * dec("0.000001")).text(), "0.000000000001");
  EXPECT_THROW(dec("0.0000001") * dec("0.0000001"), std::overflow_error);
  EXPECT_THROW(dec("9223372036854775807") * dec("2"), std::overflow_error);
}

TEST(DecimalArithmetic, RoundsHalfAwayFromZeroOnTheDecimalValue) {
  // 2.675 is 2.67499999... as a binary double; as a decimal it rounds up.
  EXPECT_EQ(dec("2.675").rounded(2).text(), "2.68");
  EXPECT_EQ(dec("-2.675").rounded(2).text(), "-2.68");
  EXPECT_EQ(dec("2.674999").rounded(2).text(), "2.67");
  EXPECT_EQ(dec("1.005").rounded(2).text(), "1.01");
  EXPECT_EQ(dec("0.5").rounded(0).text(), "1");
  EXPECT_EQ(dec("-0.5").rounded(0).text(), "-1");
  EXPECT_EQ(dec("12.3").rounded(2).text(), "12.3");
}

TEST(DecimalArithmetic, QuotientsRoundHalfAwayFromZero) {
  EXPECT_EQ(Decimal::quotient(dec("10"), dec("4"), 2)->text(), "2.5");
  EXPECT_EQ(Decimal::quotient(dec("1"), dec("3"), 2)->text(), "0.33");
  EXPECT_EQ(Decimal::quotient(dec("2"), dec("3"), 2)->text(), "0.67");
  EXPECT_EQ(Decimal::quotient(dec("0.125"), dec("1"), 2)->text(), "0.13");
  EXPECT_EQ(Decimal::quotient(dec("-0.125"), dec("1"), 2)->text(), "-0.13");
  EXPECT_EQ(Decimal::quotient(dec("1"), dec("-8"), 2)->text(), "-0.13");
  EXPECT_EQ(Decimal::quotient(dec("7.5"), dec("0.25"), 0)->text(), "30");
  EXPECT_FALSE(Decimal::quotient(dec("1"), dec("0"), 2));
}
