#include "price_tools/months/matching.h"

#include "price_tools/months/product_keys.h"

#include <algorithm>
#include <future>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace price_tools {

namespace {

// Decodes one UTF-8 sequence at i; -1 (and one byte) for anything else.
long decode(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return -1;
  }
  long cp = len == 1 ? b : b & (0xFF >> (len + 1));
  for (int k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += len;
  return cp;
}

}  // namespace

namespace {

// Appends `text` normalised (see normalised) to `out`.
void appendNormalised(std::string& out, std::string_view text) {
  const size_t begin = out.size();
  bool pendingBlank = false;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    long cp = decode(text, i);
    if (cp == 0x3000 || cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n') {
      pendingBlank = out.size() > begin;
      continue;
    }
    if (pendingBlank) out += ' ';
    pendingBlank = false;
    if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;
    if (cp >= 0 && cp < 0x80) {
      char c = static_cast<char>(cp);
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      out += c;
    } else {
      out.append(text, start, i - start);
    }
  }
}

}  // namespace

std::string normalised(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendNormalised(out, text);
  return out;
}

std::string matchKeyOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory) {
  std::string key;
  key.reserve(name.size() + model.size() + unit.size() + factory.size() + 3);
  appendNormalised(key, name);
  for (const std::string_view part : {model, unit, factory}) {
    key += '\x1f';
    appendNormalised(key, part);
  }
  return key;
}

std::string matchKey(const Product& p) { return matchKeyOf(p.name, p.model, p.unit, p.factory); }

namespace {

// The texts a pair is confirmed by.
struct Texts {
  std::string_view name, model, unit, factory;
  bool operator==(const Texts&) const = default;
  std::string key() const { return matchKeyOf(name, model, unit, factory); }
};

// The two kinds of product lists, as the pairing sees them.
struct ProductList {
  const std::vector<Product>& products;
  size_t size() const { return products.size(); }
  int64_t code(size_t i) const { return keyCode(products[i]); }
  std::string_view id(size_t i) const { return products[i].id; }
  Texts texts(size_t i) const {
    const Product& p = products[i];
    return {p.name, p.model, p.unit, p.factory};
  }
  bool sameTexts(size_t i, size_t j) const { return texts(i) == texts(j); }
  void prefetch(size_t i) const { __builtin_prefetch(&products[i]); }
  void prefetchTexts(size_t) const {}
};

struct TableList {
  const ProductTable& table;
  size_t size() const { return table.size(); }
  int64_t code(size_t i) const {
    if (table.keyCode(i) >= 0) return table.keyCode(i);
    const Texts t = texts(i);
    return keyCodeOf(t.name, t.model, t.unit, t.factory);
  }
  std::string_view id(size_t i) const { return table[i].id; }
  Texts texts(size_t i) const {
    Texts t;
    table[i].nameModelUnit(t.name, t.model, t.unit);
    t.factory = table[i].factory();
    return t;
  }
  // The product's entry, then (once the entry is at hand) its texts, asked
  // for ahead of use: the pairing goes through one list in order and the
  // other in the order of the first.
  // Whether two products of the list have the same texts: without reading
  // them when the table keeps them once (and the same manufacturer).
  bool sameTexts(size_t i, size_t j) const {
    const ProductEntry &a = table[i], &b = table[j];
    if (a.texts == b.texts && a.factoryName == b.factoryName) return true;
    return texts(i) == texts(j);
  }
  void prefetch(size_t i) const { __builtin_prefetch(&table[i]); }
  void prefetchTexts(size_t i) const { __builtin_prefetch(table[i].texts); }
};

// The products of two lists grouped by the code of their key, in one flat
// table open by address: each code's products of either list chained in list
// order. Products of one key share a code; a code may (rarely) hold several
// keys.
class CodeGroups {
 public:
  static constexpr int kNone = -1;
  struct Slot {
    int64_t code = -1;  // codes are never negative: -1 marks a free slot
    int first[2] = {kNone, kNone};  // the first product of each list
  };

  template <class List>
  CodeGroups(const List& from, const List& to) {
    // A quarter more slots than products: the table is at most four fifths
    // full when the lists share no key, well under half when, as months do,
    // they share most.
    const size_t products = from.size() + to.size();
    int bits = 4;
    while ((size_t(1) << bits) < products + products / 4) ++bits;
    slots_.resize(size_t(1) << bits);
    mask_ = slots_.size() - 1;
    shift_ = 64 - bits;
    // The codes of both lists at once, on two threads (a code not stored is
    // made from the texts).
    std::vector<int64_t> toCodes(to.size());
    auto fromCoding = std::async(std::launch::async, [&from] {
      std::vector<int64_t> codes(from.size());
      for (size_t i = 0; i < codes.size(); ++i) codes[i] = from.code(i);
      return codes;
    });
    for (size_t i = 0; i < toCodes.size(); ++i) toCodes[i] = to.code(i);
    const std::vector<int64_t> fromCodes = fromCoding.get();
    add(0, fromCodes);
    add(1, toCodes);
  }

  // The slot of the k-th product of `side` (0 from, 1 to).
  const Slot& slotOf(int side, size_t k) const { return slots_[slotOf_[side][k]]; }
  // The product after `k` in its group, kNone after the last.
  int next(int side, int k) const { return next_[side][static_cast<size_t>(k)]; }
  void prefetchSlot(int side, size_t k) const { __builtin_prefetch(&slots_[slotOf_[side][k]]); }
  void prefetchNext(int side, int k) const { __builtin_prefetch(&next_[side][static_cast<size_t>(k)]); }

 private:
  size_t home(int64_t code) const {
    return static_cast<size_t>((static_cast<uint64_t>(code) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  size_t find(int64_t code) {
    size_t at = home(code);
    while (slots_[at].code != code && slots_[at].code != -1) at = (at + 1) & mask_;
    slots_[at].code = code;
    return at;
  }
  // Chains each group in list order by going through the list backwards.
  void add(int side, const std::vector<int64_t>& codes) {
    slotOf_[side].resize(codes.size());
    next_[side].assign(codes.size(), kNone);
    constexpr size_t kAhead = 16;  // slots asked for that many products ahead
    for (size_t k = codes.size(); k-- > 0;) {
      if (k >= kAhead) __builtin_prefetch(&slots_[home(codes[k - kAhead])]);
      const size_t at = find(codes[k]);
      slotOf_[side][k] = static_cast<uint32_t>(at);
      next_[side][k] = slots_[at].first[side];
      slots_[at].first[side] = static_cast<int>(k);
    }
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  int shift_ = 60;
  std::vector<uint32_t> slotOf_[2];
  std::vector<int> next_[2];
};

template <class List>
std::vector<MatchedPair> matchLists(const List& from, const List& to) {
  const CodeGroups groups(from, to);
  std::vector<int> partnerOfTo(to.size(), -1);
  std::vector<bool> fromUsed(from.size(), false);
  auto pair = [&](int t, int f) {
    partnerOfTo[static_cast<size_t>(t)] = f;
    fromUsed[static_cast<size_t>(f)] = true;
  };
  // Products of one key: equal ids first, then the rest in their order.
  // (A few products are compared with each other; many through their ids.)
  auto pairKey = [&](const std::vector<int>& froms, const std::vector<int>& tos) {
    if (froms.size() * tos.size() <= 64) {
      for (int t : tos)
        for (int f : froms)
          if (!fromUsed[static_cast<size_t>(f)] && from.id(static_cast<size_t>(f)) == to.id(static_cast<size_t>(t))) {
            pair(t, f);
            break;
          }
    } else {
      std::unordered_map<std::string_view, std::vector<int>> fromById;
      for (int f : froms) fromById[from.id(static_cast<size_t>(f))].push_back(f);
      for (int t : tos) {
        auto same = fromById.find(to.id(static_cast<size_t>(t)));
        if (same == fromById.end()) continue;
        for (int f : same->second)
          if (!fromUsed[static_cast<size_t>(f)]) {
            pair(t, f);
            break;
          }
      }
    }
    size_t k = 0;
    for (int t : tos) {
      if (partnerOfTo[static_cast<size_t>(t)] >= 0) continue;
      while (k < froms.size() && fromUsed[static_cast<size_t>(froms[k])]) ++k;
      if (k == froms.size()) break;
      pair(t, froms[k]);
    }
  };
  // Each code shared by both lists once, where its first product of `to`
  // lies: `to` is gone through in its order.
  // What a product needs is asked for in three steps ahead of it (its slot,
  // then its partner's entry, then their texts), each once the one before
  // has arrived.
  constexpr size_t kAhead = 8;
  auto ahead = [&](size_t j) {
    if (j + 2 * kAhead < to.size()) groups.prefetchSlot(1, j + 2 * kAhead);
    if (j + kAhead < to.size()) {
      const int f = groups.slotOf(1, j + kAhead).first[0];
      if (f != CodeGroups::kNone) from.prefetch(static_cast<size_t>(f)), groups.prefetchNext(0, f);
      to.prefetch(j + kAhead);
    }
    if (j + kAhead / 2 < to.size()) {
      const int f = groups.slotOf(1, j + kAhead / 2).first[0];
      if (f != CodeGroups::kNone) from.prefetchTexts(static_cast<size_t>(f));
      to.prefetchTexts(j + kAhead / 2);
    }
  };
  std::vector<int> froms, tos;
  for (size_t j = 0; j < to.size(); ++j) {
    ahead(j);
    const CodeGroups::Slot& slot = groups.slotOf(1, j);
    if (slot.first[1] != static_cast<int>(j) || slot.first[0] == CodeGroups::kNone) continue;
    const int onlyFrom = slot.first[0], onlyTo = slot.first[1];
    if (groups.next(0, onlyFrom) == CodeGroups::kNone && groups.next(1, onlyTo) == CodeGroups::kNone) {
      const Texts f = from.texts(static_cast<size_t>(onlyFrom));
      const Texts t = to.texts(static_cast<size_t>(onlyTo));
      if (f == t || f.key() == t.key()) pair(onlyTo, onlyFrom);
      continue;
    }
    froms.clear();
    tos.clear();
    for (int f = slot.first[0]; f != CodeGroups::kNone; f = groups.next(0, f)) froms.push_back(f);
    for (int t = slot.first[1]; t != CodeGroups::kNone; t = groups.next(1, t)) tos.push_back(t);
    // Several products under the code: one key when their texts are equal
    // (the usual case), otherwise split by their keys.
    // (Each product against the first of its own list, then the two firsts.)
    const auto fromFirst = static_cast<size_t>(froms.front()), toFirst = static_cast<size_t>(tos.front());
    bool oneText = from.texts(fromFirst) == to.texts(toFirst);
    for (size_t k = 1; oneText && k < froms.size(); ++k)
      oneText = from.sameTexts(fromFirst, static_cast<size_t>(froms[k]));
    for (size_t k = 1; oneText && k < tos.size(); ++k) oneText = to.sameTexts(toFirst, static_cast<size_t>(tos[k]));
    if (oneText) {
      pairKey(froms, tos);
      continue;
    }
    std::unordered_map<std::string, std::pair<std::vector<int>, std::vector<int>>> byKey;
    for (int f : froms) byKey[from.texts(static_cast<size_t>(f)).key()].first.push_back(f);
    for (int t : tos) byKey[to.texts(static_cast<size_t>(t)).key()].second.push_back(t);
    for (const auto& [key, sides] : byKey)
      if (!sides.first.empty() && !sides.second.empty()) pairKey(sides.first, sides.second);
  }
  std::vector<MatchedPair> pairs;
  pairs.reserve(to.size() + from.size());
  for (size_t j = 0; j < to.size(); ++j) pairs.push_back({partnerOfTo[j], static_cast<int>(j)});
  for (size_t i = 0; i < from.size(); ++i)
    if (!fromUsed[i]) pairs.push_back({static_cast<int>(i), -1});
  return pairs;
}

}  // namespace

std::vector<MatchedPair> matchProducts(const std::vector<Product>& from, const std::vector<Product>& to) {
  return matchLists(ProductList{from}, ProductList{to});
}

std::vector<MatchedPair> matchProducts(const ProductTable& from, const ProductTable& to) {
  return matchLists(TableList{from}, TableList{to});
}

}  // namespace price_tools
