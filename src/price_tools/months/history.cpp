#include "price_tools/months/history.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
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
  // the products with the reference product's key are kept.
  std::optional<PriceColumn> column;
  LibraryProducts reference;
  std::string key;
  std::string filter;
  const std::string byId = "ID=" + data::idText(productId);
  {
    const LibraryFile lib(library);
    column = findPriceColumn(lib.priceColumns(), priceTitle);
    if (!column) throw std::invalid_argument("no price column " + priceTitle);
    reference = lib.products(column->field, [&](const Product& p) { return p.id == productId; }, byId, false);
    if (reference.products.empty()) throw std::invalid_argument("no product " + productId + " in " + library);
    key = matchKey(reference.products.front());
    filter = nameCondition(normalised(reference.products.front().name));
    reference = lib.products(column->field, [&](const Product& p) { return matchKey(p) == key; }, filter, false);
  }
  const int self = reference.indexOf(productId);
  auto sameKey = [&](const Product& p) { return matchKey(p) == key; };

  History out;
  out.product = reference.products[static_cast<size_t>(self)];
  out.price = *column;
  out.points.resize(ordered.size());
  // Where the product stands in one library (read on any thread: it touches
  // the library's own connection and the reference's products only). Pairs
  // of equal ids come first, and the product is the first of its id among
  // the reference's products of its key: a library's only product with that
  // id and key is its partner, whatever else the key holds there. So the
  // product is looked up by its id first; only where no product (or more
  // than one) has it is the library searched by name. A library that cannot
  // be read gives its point the reason.
  auto lookUp = [&](const LibraryFile& lib, HistoryPoint& point) {
    try {
      const LibraryProducts sameId = lib.products(column->field, sameKey, byId, false);
      if (sameId.products.size() == 1) {
        place(point, sameId.products.front());
        return;
      }
      const LibraryProducts other = lib.products(column->field, sameKey, filter, false);
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
  // The libraries are opened on the caller's thread (an open may copy a
  // library and tell its progress), one after the other, and read by two
  // helper threads: one library is opened while two are read, and no more
  // than three are open at once.
  struct Opened {
    std::unique_ptr<LibraryFile> lib;
    size_t point = 0;
  };
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Opened> queue;
  int open = 0;
  bool allOpened = false;
  auto reader = [&] {
    for (std::unique_lock<std::mutex> held(lock);; held.lock()) {
      changed.wait(held, [&] { return !queue.empty() || allOpened; });
      if (queue.empty()) return;
      Opened o = std::move(queue.front());
      queue.pop_front();
      held.unlock();
      struct Closed {  // also when the reading fails
        std::mutex& m;
        std::condition_variable& c;
        int& open;
        ~Closed() {
          const std::lock_guard<std::mutex> g(m);
          --open;
          c.notify_all();
        }
      } closed{lock, changed, open};
      lookUp(*o.lib, out.points[o.point]);
      o.lib.reset();
    }
  };
  auto first = std::async(std::launch::async, reader);
  auto second = std::async(std::launch::async, reader);
  {
    struct Done {  // the readers end also when an open fails unexpectedly
      std::mutex& m;
      std::condition_variable& c;
      bool& all;
      ~Done() {
        const std::lock_guard<std::mutex> g(m);
        all = true;
        c.notify_all();
      }
    } done{lock, changed, allOpened};
    for (const size_t i : others) {
      {
        std::unique_lock<std::mutex> held(lock);
        changed.wait(held, [&] { return open < 3; });
      }
      std::unique_ptr<LibraryFile> lib;
      try {
        lib = std::make_unique<LibraryFile>(ordered[i]);
      } catch (const ado::Error& e) {
        out.points[i].error = e.description;
        continue;
      }
      const std::lock_guard<std::mutex> held(lock);
      ++open;
      queue.push_back({std::move(lib), i});
      changed.notify_all();
    }
  }
  first.get();
  second.get();
  return out;
}

}  // namespace price_tools
