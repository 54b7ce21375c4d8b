// The rules of the month tools that need no library: exact prices, the month
// of a library name and month order, normalising and pairing products.
#include <gtest/gtest.h>

#include "platform/database/adodb.h"
#include "price_tools/months/decimal.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/month_order.h"

using namespace price_tools;

namespace {

Decimal dec(const std::string& s) { return *Decimal::parse(s); }

Product product(const std::string& id, const std::string& name, const std::string& model = "Φ12",
                const std::string& unit = "吨", const std::string& factory = "东岚钢铁") {
  Product p;
  p.id = id;
  p.name = name;
  p.model = model;
  p.unit = unit;
  p.factory = factory;
  return p;
}

// The pairs as "from-to" ids ("-" for a missing side).
std::vector<std::string> pairs(const std::vector<Product>& from, const std::vector<Product>& to) {
  std::vector<std::string> out;
  for (const MatchedPair& p : matchProducts(from, to))
    out.push_back((p.from >= 0 ? from[static_cast<size_t>(p.from)].id : "-") + "-" +
                  (p.to >= 0 ? to[static_cast<size_t>(p.to)].id : "-"));
  return out;
}

}  // namespace

TEST(Prices, AreExactDecimalsRoundedHalfAwayFromZero) {
  // Currency's whole range stays exact (a double has 15-16 digits).
  const Decimal big = *Decimal::fromVariant(ado::Variant::currency(9223372036854775807LL));
  EXPECT_EQ(big.text(), "922337203685477.5807");
  EXPECT_EQ((big - *Decimal::fromVariant(ado::Variant::currency(9223372036854775806LL))).text(), "0.0001");
  EXPECT_EQ(Decimal::fromVariant(ado::Variant::currency(41422000))->text(), "4142.2");
  EXPECT_EQ(Decimal::fromVariant(ado::Variant::longInt(-12))->text(), "-12");
  EXPECT_FALSE(Decimal::fromVariant(ado::Variant::null()));
  EXPECT_FALSE(Decimal::fromVariant(ado::Variant::text("abc")));
  EXPECT_EQ((dec("0.1") + dec("0.2")).text(), "0.3");
  EXPECT_EQ((dec("3.00") - dec("3.5")).text(), "-0.5");
  EXPECT_EQ(dec("1.50"), dec("1.5"));
  // Exponent forms, as a Double is written.
  EXPECT_EQ(dec("1E+15").text(), "1000000000000000");
  EXPECT_EQ(dec("1e3").text(), "1000");
  EXPECT_EQ(dec("-2.5E-3").text(), "-0.0025");
  EXPECT_EQ(dec("4.18064E+03").text(), "4180.64");
  EXPECT_EQ(dec("0E-20").text(), "0");
  EXPECT_FALSE(Decimal::parse("1E+300")) << "cannot be held exactly";
  EXPECT_FALSE(Decimal::parse("1E-20"));
  EXPECT_FALSE(Decimal::parse("1E"));
  EXPECT_FALSE(Decimal::parse("E5"));
  EXPECT_FALSE(Decimal::parse("1E+5x"));
  EXPECT_EQ(Decimal::fromVariant(ado::Variant::text("1E+15"))->text(), "1000000000000000");
  EXPECT_FALSE(Decimal::parse("1.2.3"));
  EXPECT_FALSE(Decimal::parse(""));
  // Per cent at two places, half away from zero on the exact value.
  EXPECT_EQ(Decimal::percent(dec("1"), dec("8"))->text(), "12.5");
  EXPECT_EQ(Decimal::percent(dec("0.00125"), dec("1"))->text(), "0.13");
  EXPECT_EQ(Decimal::percent(dec("-0.00125"), dec("1"))->text(), "-0.13");
  EXPECT_EQ(Decimal::percent(dec("1"), dec("-3"))->text(), "-33.33");
  EXPECT_EQ(Decimal::percent(dec("2"), dec("3"))->text(), "66.67");
  EXPECT_FALSE(Decimal::percent(dec("1"), dec("0.000")));
  EXPECT_EQ(dec("-0.3").half().text(), "-0.15");
}

TEST(MonthOrder, ReadsTheMonthFromTheNameAndPutsNamesWithoutOneLast) {
  EXPECT_EQ(monthOf("2026年01月信息价"), (YearMonth{2026, 1}));
  EXPECT_EQ(monthOf("2025年3月信息价"), (YearMonth{2025, 3}));
  EXPECT_EQ(monthOf("信息价2025-03"), (YearMonth{2025, 3}));
  EXPECT_EQ(monthOf("price_202503"), (YearMonth{2025, 3}));
  EXPECT_EQ(monthOf("2025.11 Hangzhou"), (YearMonth{2025, 11}));
  EXPECT_EQ(monthOf("第2期 2024年12月"), (YearMonth{2024, 12}));
  EXPECT_FALSE(monthOf("2025年13月"));
  EXPECT_FALSE(monthOf("2025031"));
  EXPECT_FALSE(monthOf("材料库"));
  EXPECT_FALSE(monthOf("2025年"));
  EXPECT_EQ(monthOf("2026年11月信息价")->text(), "2026-11");

  // Name order would put 2025年10月 before 2025年3月 and 2026-01 before 2025年...
  const std::vector<std::string> names = {"2025-12", "2025年10月", "2025年3月", "旧库", "202601", "A库"};
  EXPECT_EQ(inMonthOrder(names),
            (std::vector<std::string>{"2025年3月", "2025年10月", "2025-12", "202601", "旧库", "A库"}));
}

TEST(Matching, NormalisesBlanksFullWidthAndAsciiCase) {
  EXPECT_EQ(normalised("  螺纹钢\t HRB400　 "), "螺纹钢 hrb400");
  EXPECT_EQ(normalised("ＨＲＢ４００（抗震）"), "hrb400(抗震)");
  EXPECT_EQ(normalised("Φ12 ＰＶＣ"), "Φ12 pvc");  // Greek Φ keeps its case
  EXPECT_EQ(matchKey(product("1", "PVC 管", " De110 ", "米", "联塑")),
            matchKey(product("9", "ｐｖｃ　管", "DE110", "米", "联塑")));
  EXPECT_NE(matchKey(product("1", "PVC管")), matchKey(product("1", "PVC 管")));
}

TEST(Matching, PairsRenumberedProductsByKeyEqualIdsFirstThenByOrder) {
  const std::vector<Product> from = {product("1", "螺纹钢"), product("2", "圆钢"), product("3", "线材"),
                                     product("4", "线材"), product("5", "线材"), product("6", "盘螺")};
  const std::vector<Product> to = {product("11", "螺纹钢"), product("12", "ＲＯＵＮＤ 圆钢", "Φ12"),
                                   product("5", "线材"), product("20", "线材"), product("21", "圆钢"),
                                   product("30", "新品")};
  // 螺纹钢 renumbered 1 -> 11; 圆钢 (same key) 2 -> 21; of the three 线材 in
  // `from`, id 5 pairs with id 5 first, then 3 with 20 in order, 4 is gone.
  EXPECT_EQ(pairs(from, to), (std::vector<std::string>{"1-11", "--12", "5-5", "3-20", "2-21", "--30", "4--", "6--"}));
  // One product of a key on one side only, several on the other: the equal
  // ids still pair first, whichever side holds the one.
  EXPECT_EQ(pairs({product("3", "线材")}, {product("20", "线材"), product("3", "线材")}),
            (std::vector<std::string>{"--20", "3-3"}));
  EXPECT_EQ(pairs({product("20", "线材"), product("3", "线材")}, {product("3", "线材")}),
            (std::vector<std::string>{"3-3", "20--"}));
  EXPECT_EQ(pairs({}, to).size(), to.size());
  EXPECT_EQ(pairs(from, {}).size(), from.size());
}
