#include "price_tools/months/history.h"

#include <stdexcept>

#include "common/program_folder.h"
#include "data/browse.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"
#include "price_tools/months/matching.h"

namespace price_tools {

namespace {

// A row condition every product of a normalised name passes: the name holds
// the longest run of Chinese characters of that name. Normalising changes
// blanks, full-width forms and ASCII case, never a Chinese character, so the
// run stands in the stored name too. Empty when the name has no Chinese
// character (every product is then read).
std::string nameCondition(const std::string& normalisedName) {
  std::string best, run;
  for (size_t i = 0; i < normalisedName.size();) {
    const auto b0 = static_cast<unsigned char>(normalisedName[i]);
    const size_t len = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
    bool han = false;
    if (len == 3 && i + 3 <= normalisedName.size()) {
      const char32_t cp = (char32_t(b0 & 0x0F) << 12) |
                          (char32_t(static_cast<unsigned char>(normalisedName[i + 1]) & 0x3F) << 6) |
                          char32_t(static_cast<unsigned char>(normalisedName[i + 2]) & 0x3F);
      han = cp >= 0x4E00 && cp <= 0x9FFF;
    }
    if (han) {
      run.append(normalisedName, i, 3);
      if (run.size() > best.size()) best = run;
    } else {
      run.clear();
    }
    i += len;
  }
  return best.empty() ? std::string() : "Name like '%" + best + "%'";
}

}  // namespace

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
  std::string filter;
  {
    const LibraryFile lib(library);
    column = findPriceColumn(lib.priceColumns(), priceTitle);
    if (!column) throw std::invalid_argument("no price column " + priceTitle);
    std::string id = productId;
    reference = lib.products(column->field, [&](const Product& p) { return p.id == id; },
                             "ID=" + data::idText(id));
    if (reference.products.empty()) throw std::invalid_argument("no product " + productId + " in " + library);
    key = matchKey(reference.products.front());
    filter = nameCondition(normalised(reference.products.front().name));
    reference = lib.products(column->field, [&](const Product& p) { return matchKey(p) == key; }, filter);
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
        other = LibraryFile(name).products(column->field, sameKey, filter);
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
