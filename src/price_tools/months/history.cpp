#include "price_tools/months/history.h"

#include <stdexcept>

#include "common/program_folder.h"
#include "data/browse.h"
#include "platform/database/adodb.h"
#include "price_tools/months/matching.h"

namespace price_tools {

History productHistory(const std::string& productId, const std::string& library, const std::string& priceTitle) {
  return productHistory(productId, library, priceTitle, data::libraryNames(common::programFolder()));
}

History productHistory(const std::string& productId, const std::string& libraryIn, const std::string& priceTitle,
                       const std::vector<std::string>& libraries) {
  const std::vector<std::string> ordered = inMonthOrder(libraries);
  std::string library = libraryIn;
  if (library.empty() && !ordered.empty()) {
    library = ordered.back();
    for (const std::string& name : ordered)
      if (monthOf(name)) library = name;
  }
  // Pairs depend only on the products of one key, so of each library only
  // the products with the reference product's key are kept.
  std::optional<PriceColumn> column;
  LibraryProducts reference;
  std::string key;
  {
    const LibraryFile lib(library);
    column = findPriceColumn(lib.priceColumns(), priceTitle);
    if (!column) throw std::invalid_argument("no price column " + priceTitle);
    std::string id = productId;
    reference = lib.products(column->field, [&](const Product& p) { return p.id == id; });
    if (reference.products.empty()) throw std::invalid_argument("no product " + productId + " in " + library);
    key = matchKey(reference.products.front());
    reference = lib.products(column->field, [&](const Product& p) { return matchKey(p) == key; });
  }
  const int self = reference.indexOf(productId);
  auto sameKey = [&](const Product& p) { return matchKey(p) == key; };

  History out;
  out.product = reference.products[static_cast<size_t>(self)];
  out.price = *column;
  for (const std::string& name : ordered) {
    HistoryPoint point;
    point.library = name;
    point.month = monthOf(name);
    const Product* found = nullptr;
    LibraryProducts other;
    if (name == library) {
      found = &out.product;
    } else {
      try {
        other = LibraryFile(name).products(column->field, sameKey);
        for (const MatchedPair& pair : matchProducts(reference.products, other.products))
          if (pair.from == self && pair.to >= 0) found = &other.products[static_cast<size_t>(pair.to)];
      } catch (const ado::Error& e) {
        point.error = e.description;
      }
    }
    if (found) {
      point.present = true;
      point.id = found->id;
      point.price = found->price;
    }
    out.points.push_back(std::move(point));
  }
  return out;
}

}  // namespace price_tools
