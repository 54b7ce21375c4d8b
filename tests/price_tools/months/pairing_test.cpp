// The pairing and the comparison on many products: the flat grouping by key
// code against a plain statement of the rule, tables that keep texts once,
// and the order of rows whose changes have different numbers of places.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "price_tools/months/comparison.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/product_keys.h"

using namespace price_tools;

namespace {

// The rule as the header states it, product by product: products of one
// code and one key are paired, equal ids first, then the k-th left over with
// the k-th; pairs in the order of `to`, then the gone ones in the order of
// `from`.
std::vector<MatchedPair> plainPairs(const std::vector<Product>& from, const std::vector<Product>& to) {
  std::vector<int> partner(to.size(), -1);
  std::vector<bool> used(from.size(), false);
  auto sameGroup = [&](size_t f, size_t t) {
    return keyCode(from[f]) == keyCode(to[t]) && matchKey(from[f]) == matchKey(to[t]);
  };
  for (size_t t = 0; t < to.size(); ++t)
    for (size_t f = 0; f < from.size(); ++f)
      if (!used[f] && sameGroup(f, t) && from[f].id == to[t].id) {
        partner[t] = static_cast<int>(f), used[f] = true;
        break;
      }
  for (size_t t = 0; t < to.size(); ++t) {
    if (partner[t] >= 0) continue;
    for (size_t f = 0; f < from.size(); ++f)
      if (!used[f] && sameGroup(f, t)) {
        // The k-th left over in to takes the k-th left over in from only
        // when every earlier left-over of its group found one; the groups
        // are filled in order, so the first free one is that one.
        partner[t] = static_cast<int>(f), used[f] = true;
        break;
      }
  }
  std::vector<MatchedPair> out;
  for (size_t t = 0; t < to.size(); ++t) out.push_back({partner[t], static_cast<int>(t)});
  for (size_t f = 0; f < from.size(); ++f)
    if (!used[f]) out.push_back({static_cast<int>(f), -1});
  return out;
}

std::vector<std::pair<int, int>> plain(const std::vector<MatchedPair>& pairs) {
  std::vector<std::pair<int, int>> out;
  for (const MatchedPair& p : pairs) out.emplace_back(p.from, p.to);
  return out;
}

// Products drawn from few names and codes, so that codes repeat, hold
// several keys (as colliding digests would) and ids repeat too.
std::vector<Product> drawn(std::mt19937& random, size_t n) {
  static const char* names[] = {"螺纹钢", "ＰＶＣ管", "pvc管", "圆钢", "角钢  ", "Steel"};
  static const char* makers[] = {"", "青川建材", "青川 建材", "东方"};
  std::vector<Product> out(n);
  for (Product& p : out) {
    p.id = std::to_string(random() % 40);
    p.name = names[random() % 6];
    p.model = random() % 2 ? "Φ12" : "φ12";
    p.unit = "吨";
    p.factory = makers[random() % 4];
    // Mostly a code of the few, now and then none (made from the texts).
    p.keyCode = random() % 8 == 0 ? -1 : static_cast<int64_t>(random() % 5);
  }
  return out;
}

ProductRow rowOf(const Product& p, const std::string* maker) {
  ProductRow r;
  r.id = p.id;
  r.name = p.name;
  r.model = p.model;
  r.unit = p.unit;
  r.categoryId = p.categoryId;
  r.factoryId = p.factoryId;
  r.factoryName = maker;
  r.factory = maker ? std::string_view(*maker) : std::string_view();
  r.price = p.price;
  r.keyCode = p.keyCode;
  return r;
}

// A table of the products, each with its manufacturer's name where the
// table keeps it.
std::shared_ptr<ProductTable> tableOf(const std::string& library, const std::vector<Product>& products) {
  auto table = std::make_shared<ProductTable>();
  table->library = library;
  for (const Product& p : products)
    if (!p.factory.empty()) table->factories.emplace(p.factoryId.empty() ? p.factory : p.factoryId, p.factory);
  for (const Product& p : products) {
    const auto maker = table->factories.find(p.factoryId.empty() ? p.factory : p.factoryId);
    table->add(rowOf(p, maker == table->factories.end() ? nullptr : &maker->second));
  }
  table->doneAdding();
  return table;
}

Product priced(const std::string& id, const std::string& name, const char* price) {
  Product p;
  p.id = id;
  p.name = name;
  p.price = Decimal::parse(price);
  return p;
}

}  // namespace

TEST(Pairing, GroupsByCodeAsThePlainRuleDoesInBothKindsOfList) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    const size_t n = round < 20 ? 12 : 300;  // few products, and more than a group's quick path takes
    const std::vector<Product> from = drawn(random, n), to = drawn(random, n + round % 5);
    const auto expected = plain(plainPairs(from, to));
    ASSERT_EQ(plain(matchProducts(from, to)), expected) << "round " << round;
    ASSERT_EQ(plain(matchProducts(*tableOf("a", from), *tableOf("b", to))), expected) << "round " << round;
  }
}

TEST(Pairing, ATableKeepsSharedTextsOnceButTellsManufacturersAndModelsApart) {
  // Under one code (as colliding digests would give it): the same name,
  // model and unit from two manufacturers are different keys.
  Product a = priced("1", "螺纹钢", "10"), b = priced("5", "螺纹钢", "11"), c = priced("1", "螺纹钢", "12");
  a.factory = b.factory = "青川建材";
  c.factory = "东方建材";
  a.keyCode = b.keyCode = c.keyCode = 3;
  const auto from = tableOf("a", {a}), to = tableOf("b", {b, c});
  EXPECT_EQ(plain(matchProducts(*from, *to)), (std::vector<std::pair<int, int>>{{0, 0}, {-1, 1}}));
  // One name, model and unit kept once; a different model its own.
  Product d = priced("7", "螺纹钢", "1"), e = priced("8", "螺纹钢", "2");
  d.model = "Φ12";
  e.model = "Φ14";
  const auto table = tableOf("c", {a, d, b, e});
  EXPECT_EQ((*table)[0].texts, (*table)[2].texts);
  EXPECT_NE((*table)[1].texts, (*table)[3].texts);
  EXPECT_EQ((*table)[1].view().model, "Φ12");
  EXPECT_EQ((*table)[3].view().model, "Φ14");
  EXPECT_EQ((*table)[2].view().factory, "青川建材");
  EXPECT_EQ((*table)[2].view().name, "螺纹钢");
}

TEST(Comparison, SortsChangesOfDifferentPlacesAndBeyond64BitsByTheirValue) {
  // Changes 1, 0.5, 0.45 and 0.000000000001 at one scale; and changes whose
  // units at twelve places no longer fit 64 bits.
  auto compareOf = [](const std::vector<std::pair<const char*, const char*>>& prices) {
    std::vector<Product> older, newer;
    for (size_t i = 0; i < prices.size(); ++i) {
      older.push_back(priced(std::to_string(i), "P" + std::to_string(i), prices[i].first));
      newer.push_back(priced(std::to_string(i), "P" + std::to_string(i), prices[i].second));
    }
    std::vector<std::string> out;
    const Comparison c = compareProducts(tableOf("a", older), tableOf("b", newer), PriceColumn{}, Scope{}, Filter::All);
    for (const ComparedRow& r : c.rows) out.push_back(r.to->id + " " + r.change->text());
    out.push_back(c.summary.medianChange ? c.summary.medianChange->text() : "-");
    return out;
  };
  EXPECT_EQ(compareOf({{"2", "2.45"}, {"3", "4"}, {"1", "1.000000000001"}, {"10", "9.5"}}),
            (std::vector<std::string>{"1 1", "3 -0.5", "0 0.45", "2 0.000000000001", "0.2250000000005"}));
  EXPECT_EQ(compareOf({{"1", "1.000000000001"}, {"1", "10000001"}, {"10000000", "1"}}),
            (std::vector<std::string>{"1 10000000", "2 -9999999", "0 0.000000000001", "0.000000000001"}));
  // Equal changes by their per cent: 1 of 4 before 1 of 8.
  EXPECT_EQ(compareOf({{"8", "9"}, {"4", "5"}, {"2", "2"}}),
            (std::vector<std::string>{"1 1", "0 1", "2 0", "1"}));
  // Per cent whose terms go beyond 64 bits is still exact.
  const Decimal big = *Decimal::parse("922337203685477.5807");
  EXPECT_EQ(Decimal::percent(big, big)->text(), "100");
  EXPECT_EQ(Decimal::percent(*Decimal::parse("-461168601842738.7903"), big)->text(), "-50");
}
