#pragma once
// A product's price over every library of the program folder, in month order.
#include <optional>
#include <string>
#include <vector>

#include "price_tools/months/decimal.h"
#include "price_tools/months/month_order.h"
#include "price_tools/months/products.h"

namespace price_tools {

struct HistoryPoint {
  std::string library;
  std::optional<YearMonth> month;  // nullopt: the name gives no month
  std::string id;                  // the product's id there, "" when missing
  std::optional<Decimal> price;    // nullopt when missing or empty
  bool present = false;            // the product is in this library
  std::string error;               // the library could not be read (why)
};

struct History {
  Product product;  // as the reference library has it
  PriceColumn price;
  std::vector<HistoryPoint> points;
};

// The history of the product with id `productId` in `library` (the reference;
// when empty, the library of the latest month, or the last one when no name
// gives a month), over every library of the
// program folder in month order, matched in each by matchProducts against the
// reference library. Libraries are opened one after the other on the
// caller's thread and read by two helper threads, then released, so no more
// than three are held at once. A library that cannot be
// read gives a point without the product and with its error. Throws ado::Error when the
// reference library cannot be read, std::invalid_argument for an unknown
// price column or product.
History productHistory(const std::string& productId, const std::string& library, const std::string& priceTitle);

// The same over a given list of libraries (month order is applied to it).
History productHistory(const std::string& productId, const std::string& library, const std::string& priceTitle,
                       const std::vector<std::string>& libraries);

}  // namespace price_tools
