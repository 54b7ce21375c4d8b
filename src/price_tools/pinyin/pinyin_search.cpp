#include "price_tools/pinyin/pinyin_search.h"

#include <memory>

#include "data/connections.h"
#include "data/navigation.h"
#include "platform/database/adodb.h"

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
  std::string list;
  auto add = [&](long long id) {
    if (!list.empty()) list += ',';
    list += std::to_string(id);
  };
  if (hits.size() * 2 <= ids_.size()) {
    for (long long id : hits) add(id);
    return "CLProduct.ID in (" + list + ")";
  }
  // More than half match: name the others. Both lists follow the index order.
  size_t h = 0;
  for (long long id : ids_) {
    if (h < hits.size() && hits[h] == id) {
      ++h;
      continue;
    }
    add(id);
  }
  return "CLProduct.ID not in (" + list + ")";
}

InitialsIndex& libraryIndex() {
  static std::weak_ptr<ado::Database> indexed;
  static std::unique_ptr<InitialsIndex> index;
  const ado::Connection& connection = data::connections(data::libraryslot);
  const std::shared_ptr<ado::Database> db = connection.database();
  if (!db) throw ado::Error(3709, "no library is open");
  if (index && indexed.lock() == db) return *index;
  auto fresh = std::make_unique<InitialsIndex>();
  ado::Recordset rs;
  rs.Open("select ID, Name from CLProduct", connection, 1, 1, -1);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    const ado::Variant& id = rs.Fields(0).Value();
    if (!id.isNumeric()) continue;  // a product without a number id cannot be named in the condition
    fresh->add(id.toInt64(), rs.Fields(1).Value().toText());
  }
  rs.Close();
  index = std::move(fresh);
  indexed = db;
  return *index;
}

void registerInitialsSearch() {
  data::registerSearchField(kSearchByInitials,
                            [](const std::string& text) { return libraryIndex().condition(text); });
}

}  // namespace price_tools::pinyin
