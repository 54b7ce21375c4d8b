#pragma once
// The comparison of two monthly libraries: every product of either, paired by
// matchProducts, with its old and new price in one price column, the change
// and the change in per cent; limited to a scope and a filter, sorted by the
// size of the change.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "price_tools/months/decimal.h"
#include "price_tools/months/products.h"

namespace price_tools {

// What part of the libraries is compared: the whole library, a category with
// its subcategories, a manufacturer, or the products a toolbar search finds.
// A pair is in scope when its product is in scope in either library:
//   - a category by its id, in each library's own category tree;
//   - a manufacturer by its name: the id names a manufacturer of the `to`
//     library (of `from` when `to` has no such id), and products of a
//     manufacturer of that name (normalised) are in scope in both;
//   - a search as the product grid's search runs it, in each library.
struct Scope {
  enum Kind { Library, Category, Factory, Search } kind = Library;
  std::string id;     // Category, Factory
  std::string field;  // Search: 产品名称 or 生产厂家
  std::string text;   // Search
};

enum class Status { Up, Down, Same, New, Gone };
const char* statusName(Status s);  // "up", "down", "same", "new", "gone"

// all, changed (up, down, new, gone), up, down, new, gone.
enum class Filter { All, Changed, Up, Down, New, Gone };
std::optional<Filter> filterNamed(const std::string& name);  // "all", "changed", "up", ...
bool passes(Filter filter, Status status);

struct ComparedRow {
  const ProductEntry* from = nullptr;  // the product in the older library (owned by the Comparison)
  const ProductEntry* to = nullptr;    // the product in the newer library
  std::optional<Decimal> oldPrice, newPrice;
  std::optional<Decimal> change;   // new - old, when both prices are there
  std::optional<Decimal> percent;  // change / old * 100, two places; nullopt when old is 0
  Status status = Status::Same;
  // Why a price, the change or the per cent is missing although both products
  // are there with a number: a price that cannot be represented (the product
  // then counts as one without that price), a change or per cent beyond the
  // range of prices. "" otherwise.
  std::string note;
  // The shown product: the newer one when there is one.
  ProductView product() const { return (to ? *to : *from).view(); }
};

// A pair's status: a product in one library only is new or gone; a product
// whose price is empty in one library counts as new (empty before) or gone
// (empty now) as well; otherwise up, down or same by the change.
Status statusOf(const ComparedRow& row);

struct Summary {
  int up = 0, down = 0, same = 0, added = 0, gone = 0;
  std::optional<Decimal> medianChange;  // of the products with both prices
};

struct Comparison {
  std::string from, to;
  std::shared_ptr<const ProductTable> older, newer;  // the products the rows point to
  PriceColumn price;
  std::vector<ComparedRow> rows;  // in scope and passing the filter, sorted
  Summary summary;                // of every row in scope, filter aside
  // What the comparison could not do as asked although it ran (a category
  // scope in a library whose category tree cannot be read), for the window's
  // summary line and the command line's standard error.
  std::vector<std::string> notes;
};

// Compares a pair of loaded libraries (both read with the same price field).
// `fromSearch`/`toSearch` are the ids a Search scope finds in each (ignored
// for other scopes). Rows sort by the size of the change, largest first (ties
// by per cent, then in the newer library's order); rows without a change
// (new, gone) come after them, new before gone.
Comparison compareProducts(std::shared_ptr<const ProductTable> from, std::shared_ptr<const ProductTable> to,
                           const PriceColumn& price,
                           const Scope& scope, Filter filter, const std::set<std::string>& fromSearch = {},
                           const std::set<std::string>& toSearch = {});

// Opens both libraries of the program folder, reads them at once (two
// threads) and compares them. The price column is the one titled `priceTitle`, the
// first one when empty. Throws ado::Error when a library cannot be read and
// std::invalid_argument for an unknown price column.
Comparison compareLibraries(const std::string& from, const std::string& to, const std::string& priceTitle,
                            const Scope& scope, Filter filter);

}  // namespace price_tools
