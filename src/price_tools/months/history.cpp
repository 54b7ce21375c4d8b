#include "price_tools/months/history.h"

#include <memory>
#include <stdexcept>

#include "common/program_folder.h"
#include "data/browse.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"
#include "price_tools/months/bounded_pipeline.h"
#include "price_tools/months/matching.h"
#include "price_tools/months/product_keys.h"

namespace price_tools {

namespace {

// The products of one key in a library: found through the key's index where
// the library's copy holds the keys, otherwise by the name (see below).
std::string sameKeyCondition(const LibraryFile& lib, int64_t code, const std::string& byName) {
  return lib.keyed() ? keyCondition(code) : byName;
}

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
  return best.empty() ? std::string() : "InStr(Name, '" + best + "') > 0";
}

// The product found in a library.
void place(HistoryPoint& point, const Product& found) {
  point.present = true;
  point.id = found.id;
  point.price = found.price;
}

}  // namespace

History productHistory(const std::string& productId, const std::string& library, const std::string& priceTitle) {
  return productHistory(productId, library, priceTitle, libraryList(common::programFolder()));
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
  // the products with the reference product's key are read.
  std::optional<PriceColumn> column;
  LibraryProducts reference;
  std::string key;
  int64_t code = 0;
  std::string byName;
  {
    const LibraryFile lib(library);
    column = findPriceColumn(lib.priceColumns(), priceTitle);
    if (!column) throw std::invalid_argument("no price column " + priceTitle);
    reference = lib.products(column->field, [&](const Product& p) { return p.id == productId; },
                             "ID=" + data::idText(productId), false);
    if (reference.products.empty()) throw std::invalid_argument("no product " + productId + " in " + library);
    key = matchKey(reference.products.front());
    code = keyCode(reference.products.front());
    byName = nameCondition(normalised(reference.products.front().name));
    reference = lib.products(column->field, [&](const Product& p) { return matchKey(p) == key; },
                             sameKeyCondition(lib, code, byName), false);
  }
  const int self = reference.indexOf(productId);
  auto ofKey = [&](const Product& p) { return matchKey(p) == key; };

  History out;
  out.product = reference.products[static_cast<size_t>(self)];
  out.price = *column;
  out.points.resize(ordered.size());
  // Where the product stands in one library: its partner among the products
  // of its key there (read on any thread: it touches the library's own
  // connection and the reference's products only). A library that cannot be
  // read gives its point the reason.
  auto lookUp = [&](const LibraryFile& lib, HistoryPoint& point) {
    try {
      const LibraryProducts other = lib.products(column->field, ofKey, sameKeyCondition(lib, code, byName), false);
      for (const MatchedPair& pair : matchProducts(reference.products, other.products))
        if (pair.from == self && pair.to >= 0) place(point, other.products[static_cast<size_t>(pair.to)]);
    } catch (const std::exception& e) {
      point.error = e.what();
    }
  };
  std::vector<size_t> others;
  for (size_t i = 0; i < ordered.size(); ++i) {
    HistoryPoint& point = out.points[i];
    point.library = ordered[i];
    point.month = monthOf(ordered[i]);
    if (ordered[i] == library)
      place(point, out.product);
    else
      others.push_back(i);
  }
  // Opened one after the other on this thread, read by two helpers, no more
  // than three held at once.
  std::vector<std::unique_ptr<LibraryFile>> opened(others.size());
  openThenRead(
      others.size(),
      [&](size_t k) {
        try {
          opened[k] = std::make_unique<LibraryFile>(ordered[others[k]]);
          return true;
        } catch (const ado::Error& e) {
          out.points[others[k]].error = e.description;
          return false;
        }
      },
      [&](size_t k) {
        lookUp(*opened[k], out.points[others[k]]);
        opened[k].reset();
      },
      {2, 3});
  return out;
}

}  // namespace price_tools
