#include "price_tools/months/comparison.h"

#include <algorithm>
#include <future>
#include <stdexcept>

#include "price_tools/months/arrange.h"
#include "price_tools/months/matching.h"

namespace price_tools {

const char* statusName(Status s) {
  switch (s) {
    case Status::Up: return "up";
    case Status::Down: return "down";
    case Status::Same: return "same";
    case Status::New: return "new";
    case Status::Gone: return "gone";
  }
  return "same";
}

std::optional<Filter> filterNamed(const std::string& name) {
  if (name == "all") return Filter::All;
  if (name == "changed") return Filter::Changed;
  if (name == "up") return Filter::Up;
  if (name == "down") return Filter::Down;
  if (name == "new") return Filter::New;
  if (name == "gone") return Filter::Gone;
  return std::nullopt;
}

bool passes(Filter filter, Status s) {
  switch (filter) {
    case Filter::All: return true;
    case Filter::Changed: return s != Status::Same;
    case Filter::Up: return s == Status::Up;
    case Filter::Down: return s == Status::Down;
    case Filter::New: return s == Status::New;
    case Filter::Gone: return s == Status::Gone;
  }
  return true;
}

Status statusOf(const ComparedRow& row) {
  if (!row.from || !row.oldPrice) return row.to && row.newPrice ? Status::New : Status::Gone;
  if (!row.to || !row.newPrice) return Status::Gone;
  const int c = compare(*row.newPrice, *row.oldPrice);
  return c > 0 ? Status::Up : c < 0 ? Status::Down : Status::Same;
}

namespace {

// Whether a product lies in the scope within its library.
struct ScopeTest {
  const Scope& scope;
  std::set<std::string> categories;
  std::string factoryName;  // normalised
  const std::set<std::string>* searchIds = nullptr;

  ScopeTest(const Scope& s, const ProductTable& lib, const std::string& factory, const std::set<std::string>& ids)
      : scope(s), factoryName(factory), searchIds(&ids) {
    if (s.kind == Scope::Category) categories = categoryWithDescendants(lib.categoryParents, s.id);
  }
  bool operator()(const ProductEntry& p) const {
    switch (scope.kind) {
      case Scope::Library: return true;
      case Scope::Category: return categories.count(std::string(p.view().categoryId)) > 0;
      case Scope::Factory: return !factoryName.empty() && normalised(p.factory()) == factoryName;
      case Scope::Search: return searchIds->count(p.id) > 0;
    }
    return true;
  }
};

std::string scopeFactory(const Scope& scope, const ProductTable& from, const ProductTable& to) {
  if (scope.kind != Scope::Factory) return "";
  for (const ProductTable* lib : {&to, &from}) {
    auto it = lib->factories.find(scope.id);
    if (it != lib->factories.end()) return normalised(it->second);
  }
  return "";
}

// Puts the rows in the order given (order[k]: the row that goes to place k),
// moving each row once, without a second set of rows.
void arrange(std::vector<ComparedRow>& rows, std::vector<uint32_t>& order) {
  ComparedRow held;
  arrangeInPlace(
      order, [&](size_t k) { held = std::move(rows[k]); },
      [&](size_t to, size_t from) { rows[to] = std::move(rows[from]); }, [&](size_t to) { rows[to] = std::move(held); },
      [&](size_t i) {
        __builtin_prefetch(&rows[i]);
        __builtin_prefetch(reinterpret_cast<const char*>(&rows[i]) + 64);
      });
}

}  // namespace

Comparison compareProducts(std::shared_ptr<const ProductTable> older, std::shared_ptr<const ProductTable> newer,
                           const PriceColumn& price, const Scope& scope, Filter filter,
                           const std::set<std::string>& fromSearch, const std::set<std::string>& toSearch) {
  Comparison out;
  const ProductTable& from = *older;
  const ProductTable& to = *newer;
  out.from = from.library;
  out.to = to.library;
  out.older = older;
  out.newer = newer;
  out.price = price;
  const std::string factory = scopeFactory(scope, from, to);
  const ScopeTest inFrom(scope, from, factory, fromSearch), inTo(scope, to, factory, toSearch);
  if (scope.kind == Scope::Category)
    for (const ProductTable* lib : {&from, &to})
      if (lib->treeUnread)
        out.notes.push_back("the category tree of " + lib->library + " cannot be read: its subcategories are left out");

  std::vector<Decimal> changes;
  std::vector<MatchedPair> pairs = matchProducts(from, to);
  out.rows.reserve(pairs.size());
  changes.reserve(pairs.size());
  for (const MatchedPair& pair : pairs) {
    const auto f = static_cast<size_t>(pair.from), t = static_cast<size_t>(pair.to);
    const ProductEntry* fp = pair.from >= 0 ? &from[f] : nullptr;
    const ProductEntry* tp = pair.to >= 0 ? &to[t] : nullptr;
    if (!((fp && inFrom(*fp)) || (tp && inTo(*tp)))) continue;
    ComparedRow row;
    if (fp) row.from = fp, row.oldPrice = from.price(f);
    if (tp) row.to = tp, row.newPrice = to.price(t);
    // A price out of range marks its own row, never the whole comparison.
    if (fp && !from.priceNote(f).empty()) row.note = from.priceNote(f);
    if (tp && !to.priceNote(t).empty()) row.note = to.priceNote(t);
    if (row.oldPrice && row.newPrice) {
      try {
        row.change = *row.newPrice - *row.oldPrice;
      } catch (const std::overflow_error&) {
        row.note = "change out of range";
      }
      try {
        if (row.change) row.percent = Decimal::percent(*row.change, *row.oldPrice);
      } catch (const std::overflow_error&) {
        row.note = "per cent out of range";
      }
    }
    row.status = statusOf(row);
    switch (row.status) {
      case Status::Up: ++out.summary.up; break;
      case Status::Down: ++out.summary.down; break;
      case Status::Same: ++out.summary.same; break;
      case Status::New: ++out.summary.added; break;
      case Status::Gone: ++out.summary.gone; break;
    }
    if (row.change) changes.push_back(*row.change);
    if (passes(filter, row.status)) out.rows.push_back(std::move(row));
  }
  pairs = {};
  if (!changes.empty()) {
    // Only the middle one or two are put in their places. (Changes are in
    // their shortest form, so equal values are equal numbers.)
    const size_t m = changes.size() / 2;
    std::nth_element(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(m), changes.end());
    try {
      if (changes.size() % 2)
        out.summary.medianChange = changes[m];
      else
        out.summary.medianChange =
            (*std::max_element(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(m)) + changes[m]).half();
    } catch (const std::overflow_error&) {
      // The middle two changes sum beyond the range of prices: no median.
      out.summary.medianChange.reset();
    }
  }
  changes = {};
  // Sorted through small keys of their places, so that the rows themselves
  // move once: the size of the change and of the per cent, at one scale (the
  // most places any of them has), in 64 bits when they fit there.
  int scale = 0;
  for (const ComparedRow& r : out.rows) {
    if (r.change) scale = std::max(scale, r.change->scale());
    if (r.percent) scale = std::max(scale, r.percent->scale());
  }
  bool narrow = true;
  auto atScale = [scale, &narrow](const Decimal& d) {
    __int128 v = d.units() < 0 ? -static_cast<__int128>(d.units()) : static_cast<__int128>(d.units());
    for (int s = d.scale(); s < scale; ++s) v *= 10;  // at most 12 places: fits 128 bits
    narrow = narrow && v <= INT64_MAX;
    return v;
  };
  std::vector<uint32_t> order(out.rows.size());
  auto sortRows = [&](auto zero) {
    using Size = decltype(zero);
    struct SortKey {
      Size change = 0;
      Size percent = 0;
      uint32_t row = 0;
      uint8_t rank = 0;  // 0 with a change, 1 new, 2 gone
      bool hasPercent = false;
    };
    std::vector<SortKey> keys(out.rows.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      const ComparedRow& r = out.rows[i];
      SortKey& k = keys[i];
      k.row = static_cast<uint32_t>(i);
      k.rank = r.change ? 0 : r.status == Status::New ? 1 : 2;
      if (r.change) k.change = static_cast<Size>(atScale(*r.change));
      if (r.percent) k.percent = static_cast<Size>(atScale(*r.percent)), k.hasPercent = true;
    }
    auto before = [](const SortKey& a, const SortKey& b) {
      if (a.rank != b.rank) return a.rank < b.rank;
      if (a.rank != 0) return false;
      if (a.change != b.change) return a.change > b.change;
      if (a.hasPercent && b.hasPercent && a.percent != b.percent) return a.percent > b.percent;
      return false;
    };
    // Where every change has its per cent, that order ranks the rows by
    // (rank, size of change, size of per cent): its stable form is that of
    // those keys with the place last. Only the rows whose change is not 0
    // are sorted then; those without a change (nearly all, as months go) stay
    // where they are, after them, the new and the gone after those. A change
    // without a per cent (the old price 0) ties with every per cent: such
    // rows are sorted as they come.
    const bool ranked = std::none_of(keys.begin(), keys.end(), [](const SortKey& k) { return k.rank == 0 && !k.hasPercent; });
    if (!ranked) {
      std::stable_sort(keys.begin(), keys.end(), before);
      for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].row;
      return;
    }
    std::vector<SortKey> changed;
    for (const SortKey& k : keys)
      if (k.rank == 0 && k.change != 0) changed.push_back(k);
    std::sort(changed.begin(), changed.end(), [&before](const SortKey& a, const SortKey& b) {
      return before(a, b) || (!before(b, a) && a.row < b.row);
    });
    size_t at = 0;
    for (const SortKey& k : changed) order[at++] = k.row;
    for (const uint8_t rank : {0, 1, 2})
      for (const SortKey& k : keys)
        if (k.rank == rank && (rank != 0 || k.change == 0)) order[at++] = k.row;
  };
  for (const ComparedRow& r : out.rows) {
    if (r.change) atScale(*r.change);
    if (r.percent) atScale(*r.percent);
  }
  if (narrow)
    sortRows(int64_t(0));
  else
    sortRows(__int128(0));
  arrange(out.rows, order);
  return out;
}

Comparison compareLibraries(const std::string& from, const std::string& to, const std::string& priceTitle,
                            const Scope& scope, Filter filter) {
  // Both libraries are opened here, then read at once, one on a thread of its
  // own: reading is most of a comparison's time, and each library is read on
  // its own connection.
  auto newerLib = std::make_unique<const LibraryFile>(to);
  const std::optional<PriceColumn> column = findPriceColumn(newerLib->priceColumns(), priceTitle);
  if (!column) throw std::invalid_argument("no price column " + priceTitle);
  auto olderLib = std::make_unique<const LibraryFile>(from);
  std::set<std::string> fromSearch, toSearch;
  if (scope.kind == Scope::Search) {
    toSearch = newerLib->searchIds(scope.field, scope.text);
    fromSearch = olderLib->searchIds(scope.field, scope.text);
  }
  // Each library is closed as soon as its products are read.
  // (The future waits for its thread when it goes, also when the other read throws.)
  auto olderRead = std::async(std::launch::async, [&] {
    auto table = std::make_shared<const ProductTable>(olderLib->table(column->field));
    olderLib.reset();
    return table;
  });
  auto newer = std::make_shared<const ProductTable>(newerLib->table(column->field));
  newerLib.reset();
  auto older = olderRead.get();
  return compareProducts(older, newer, *column, scope, filter, fromSearch, toSearch);
}

}  // namespace price_tools
