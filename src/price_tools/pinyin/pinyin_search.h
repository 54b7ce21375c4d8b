#pragma once
// The search field "拼音简码" of the product search: a product matches when
// the letters typed occur in its name's initials (initials.h).
//
// The initials of a library are computed once, the first time it is searched,
// and kept in memory with the open library (an index of product id and coded
// initials); a library opened anew (another one, or the same one again) gets
// a fresh index. A search is then a scan of that index, and reaches the grid
// as a row condition on CLProduct.ID, so the grid's statement keeps its shape:
// "CLProduct.ID in (…)" with the matching ids, or "CLProduct.ID not in (…)"
// with the others when more than half the products match (the shorter list),
// "CLProduct.ID is null" when none match. A list longer than kListedIds goes
// as the provider's set of ids (platform/database/id_set.h), which the engine
// reads once instead of parsing and indexing every number of it.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "price_tools/pinyin/initials.h"

namespace ado {
class Connection;
}

namespace price_tools::pinyin {

inline constexpr const char* kSearchByInitials = "拼音简码";
// The most ids a condition lists as literals (the engine looks each one up in
// the id index; a longer list would be parsed and indexed at every fill).
inline constexpr size_t kListedIds = 256;

// The initials of one library's products.
class InitialsIndex {
 public:
  InitialsIndex() = default;
  // Adds a product (an id as the library keeps it, and its name).
  void add(long long id, std::string_view name);
  size_t size() const { return ids_.size(); }
  // The ids of the products whose initials hold `typed` (letters as
  // InitialsCoder::typedLetters gives them), in the order they were added.
  std::vector<long long> find(const std::string& typed) const;
  // The row condition for a typed text (see above).
  std::string condition(const std::string& text);
  InitialsCoder& coder() { return coder_; }

 private:
  // One coder for every index: ICU's transliterator is made once, and the
  // readings found stay known across libraries.
  static InitialsCoder& sharedCoder();
  InitialsCoder& coder_ = sharedCoder();
  std::vector<long long> ids_;
  std::vector<uint32_t> offsets_{0};  // coded initials of product k: [offsets_[k], offsets_[k+1])
  std::string coded_;
};

// The index of the library open on `library`, built from
// "select ID, Name from CLProduct" the first time it is asked for after the
// library was opened there, and kept while it stays open (for the last few
// libraries searched). Throws ado::Error when no library is open on it.
std::shared_ptr<InitialsIndex> libraryIndex(const ado::Connection& library);
// The same for the library open in the data module's library slot; the
// reference holds until the next call.
InitialsIndex& libraryIndex();

// The row condition of a 拼音简码 search in the library open on `library`:
// it names that library's own ids. Safe on any thread.
std::string initialsCondition(const ado::Connection& library, const std::string& text);

// Registers "拼音简码" with the data module's search fields
// (data::registerSearchField); the toolbar combo lists it after its own two.
// Safe to call more than once.
void registerInitialsSearch();

}  // namespace price_tools::pinyin
