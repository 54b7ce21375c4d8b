// The order of a comparison's rows on many generated pairs: by the size of
// the change, largest first, ties by the size of the per cent, then in the
// order the pairs come (the newer library's, the gone after); new before gone
// at the end. With changes that tie in every way, changes of 0 among many
// others, and changes whose old price is 0 (no per cent).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "price_tools/months/comparison.h"

using namespace price_tools;

namespace {

std::shared_ptr<const ProductTable> table(const std::vector<std::optional<Decimal>>& prices) {
  auto t = std::make_shared<ProductTable>();
  t->library = "m";
  for (size_t i = 0; i < prices.size(); ++i) {
    ProductRow r;
    const std::string id = std::to_string(i), name = "品" + std::to_string(i);
    r.id = id;
    r.name = name;
    r.price = prices[i];
    t->add(r);
  }
  t->doneAdding();
  return t;
}

// The rows in the order the rule gives, from where each pair comes.
std::vector<const ComparedRow*> ruled(const Comparison& c) {
  const ProductTable &from = *c.older, &to = *c.newer;
  auto place = [&](const ComparedRow* r) {
    return r->to ? static_cast<size_t>(r->to - &to[0]) : to.size() + static_cast<size_t>(r->from - &from[0]);
  };
  auto rank = [](const ComparedRow* r) { return r->change ? 0 : r->status == Status::New ? 1 : 2; };
  std::vector<const ComparedRow*> out;
  for (const ComparedRow& r : c.rows) out.push_back(&r);
  std::sort(out.begin(), out.end(), [&](const ComparedRow* a, const ComparedRow* b) { return place(a) < place(b); });
  std::stable_sort(out.begin(), out.end(), [&](const ComparedRow* a, const ComparedRow* b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    if (rank(a) != 0) return false;
    const int bySize = compare(a->change->abs(), b->change->abs());
    if (bySize != 0) return bySize > 0;
    if (a->percent && b->percent) return compare(a->percent->abs(), b->percent->abs()) > 0;
    return false;
  });
  return out;
}

}  // namespace

TEST(RowOrder, IsBySizeOfChangeThenPerCentThenWhereThePairComes) {
  for (const bool zeroOld : {false, true}) {
    SCOPED_TRACE(zeroOld ? "with old prices of 0" : "every old price above 0");
    std::mt19937 rng(zeroOld ? 5u : 4u);
    // Few prices, so that changes and per cents tie often; a third unchanged.
    const std::vector<std::optional<Decimal>> olds = {Decimal(100, 0), Decimal(200, 0), Decimal(5, 1),
                                                      Decimal(1000000, 4), std::nullopt};
    std::vector<std::optional<Decimal>> from, to;
    for (int i = 0; i < 3000; ++i) {
      std::optional<Decimal> old = olds[rng() % olds.size()];
      if (zeroOld && rng() % 50 == 0) old = Decimal(0, 0);
      std::optional<Decimal> now = old;
      if (old && rng() % 3 != 0) now = *old + Decimal(static_cast<int64_t>(rng() % 7) - 3, rng() % 2);
      if (rng() % 40 == 0) now.reset();
      from.push_back(old);
      to.push_back(now);
    }
    const Comparison c = compareProducts(table(from), table(to), PriceColumn{"价格", "P", ""}, Scope{}, Filter::All);
    ASSERT_EQ(c.rows.size(), 3000u);
    std::vector<const ComparedRow*> shown;
    for (const ComparedRow& r : c.rows) shown.push_back(&r);
    const std::vector<const ComparedRow*> expected = ruled(c);
    ASSERT_EQ(shown.size(), expected.size());
    size_t same = 0, zeroChanges = 0, withoutPerCent = 0;
    for (size_t k = 0; k < shown.size(); ++k) {
      ASSERT_EQ(shown[k], expected[k]) << "place " << k << ": " << shown[k]->to->id << " for " << expected[k]->to->id;
      same += shown[k]->status == Status::Same;
      zeroChanges += shown[k]->change && shown[k]->change->sign() == 0;
      withoutPerCent += shown[k]->change && !shown[k]->percent;
    }
    EXPECT_GT(same, 500u);
    EXPECT_EQ(zeroChanges, same);
    EXPECT_EQ(withoutPerCent > 0, zeroOld);
  }
}
