#include "price_tools/pinyin/pinyin_search.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "data/connections.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"
#include "platform/database/id_set.h"

namespace price_tools::pinyin {

InitialsCoder& InitialsIndex::sharedCoder() {
  static InitialsCoder coder;
  return coder;
}

void InitialsIndex::add(long long id, std::string_view name) {
  ids_.push_back(id);
  coded_ += coder_.encode(name);
  offsets_.push_back(static_cast<uint32_t>(coded_.size()));
}

std::vector<long long> InitialsIndex::find(const std::string& typed) const {
  std::vector<long long> out;
  const std::string_view all(coded_);
  for (size_t k = 0; k < ids_.size(); ++k)
    if (coder_.matches(all.substr(offsets_[k], offsets_[k + 1] - offsets_[k]), typed)) out.push_back(ids_[k]);
  return out;
}

std::string InitialsIndex::condition(const std::string& text) {
  const std::string typed = coder_.typedLetters(text);
  const std::vector<long long> hits = find(typed);
  if (hits.empty()) return "CLProduct.ID is null";
  if (hits.size() == ids_.size()) return "CLProduct.ID is not null";
  const bool named = hits.size() * 2 <= ids_.size();
  std::vector<long long> others;
  if (!named) {
    // More than half match: name the others. Both lists follow the index order.
    size_t h = 0;
    for (long long id : ids_) {
      if (h < hits.size() && hits[h] == id) {
        ++h;
        continue;
      }
      others.push_back(id);
    }
  }
  const std::vector<long long>& ids = named ? hits : others;
  if (ids.size() > kListedIds) return ado::idSetCondition("CLProduct.ID", ids, named);
  std::string list;
  for (long long id : ids) {
    if (!list.empty()) list += ',';
    list += std::to_string(id);
  }
  return std::string(named ? "CLProduct.ID in (" : "CLProduct.ID not in (") + list + ")";
}

namespace {

// The indexes of the libraries searched last, most recent first: the main
// window's, and those a comparison opens beside it. An entry goes with its
// library (the database closed) or when more libraries come.
constexpr size_t kIndexedLibraries = 4;

struct Indexed {
  std::weak_ptr<ado::Database> db;
  std::shared_ptr<InitialsIndex> index;
};

// Guards the indexes and the one coder they share.
std::mutex& indexLock() {
  static std::mutex lock;
  return lock;
}

std::shared_ptr<InitialsIndex> indexLocked(const ado::Connection& library) {
  static std::vector<Indexed> indexed;
  const std::shared_ptr<ado::Database> db = library.database();
  if (!db) throw ado::Error(3709, "no library is open");
  std::erase_if(indexed, [](const Indexed& e) { return e.db.expired(); });
  for (auto it = indexed.begin(); it != indexed.end(); ++it) {
    if (it->db.lock() != db) continue;
    std::rotate(indexed.begin(), it, it + 1);
    return indexed.front().index;
  }
  auto fresh = std::make_shared<InitialsIndex>();
  ado::Recordset rs;
  rs.Open("select ID, Name from CLProduct", library, 1, 1, -1);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    const ado::Variant& id = rs.Fields(0).Value();
    if (!id.isNumeric()) continue;  // a product without a number id cannot be named in the condition
    fresh->add(id.toInt64(), rs.Fields(1).Value().toText());
  }
  rs.Close();
  if (indexed.size() >= kIndexedLibraries) indexed.pop_back();
  indexed.insert(indexed.begin(), Indexed{db, fresh});
  return fresh;
}

}  // namespace

std::shared_ptr<InitialsIndex> libraryIndex(const ado::Connection& library) {
  const std::lock_guard<std::mutex> held(indexLock());
  return indexLocked(library);
}

InitialsIndex& libraryIndex() {
  // Held here too, so that the reference outlives the index's place among
  // the recent ones until the next call.
  static std::shared_ptr<InitialsIndex> current;
  current = libraryIndex(data::connections(data::libraryslot));
  return *current;
}

std::string initialsCondition(const ado::Connection& library, const std::string& text) {
  const std::lock_guard<std::mutex> held(indexLock());
  return indexLocked(library)->condition(text);
}

void registerInitialsSearch() {
  data::registerSearchField(kSearchByInitials, initialsCondition);
}

}  // namespace price_tools::pinyin
