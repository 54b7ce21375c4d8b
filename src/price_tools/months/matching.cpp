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
    t.factory = table[i].factory;
    return t;
  }
};

// The products of one list by the code of their key: (code, place) in
// order, so that the products of one code lie together, in list order.
// Products of one key share a code; a code may (rarely) hold several keys.
template <class List>
std::vector<std::pair<int64_t, int>> byCode(const List& products) {
  std::vector<std::pair<int64_t, int>> out(products.size());
  for (size_t i = 0; i < products.size(); ++i) out[i] = {products.code(i), static_cast<int>(i)};
  std::sort(out.begin(), out.end());
  return out;
}

template <class List>
std::vector<MatchedPair> matchLists(const List& from, const List& to) {
  // The two lists are grouped at once, on two threads.
  auto fromGrouping = std::async(std::launch::async, [&from] { return byCode(from); });
  const std::vector<std::pair<int64_t, int>> toCodes = byCode(to);
  const std::vector<std::pair<int64_t, int>> fromCodes = fromGrouping.get();
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
  std::vector<int> froms, tos;
  for (size_t a = 0, b = 0; a < fromCodes.size() && b < toCodes.size();) {
    const int64_t code = fromCodes[a].first;
    if (code < toCodes[b].first) {
      ++a;
      continue;
    }
    if (toCodes[b].first < code) {
      ++b;
      continue;
    }
    froms.clear();
    tos.clear();
    for (; a < fromCodes.size() && fromCodes[a].first == code; ++a) froms.push_back(fromCodes[a].second);
    for (; b < toCodes.size() && toCodes[b].first == code; ++b) tos.push_back(toCodes[b].second);
    if (froms.size() == 1 && tos.size() == 1) {
      const Texts f = from.texts(static_cast<size_t>(froms.front()));
      const Texts t = to.texts(static_cast<size_t>(tos.front()));
      if (f == t || f.key() == t.key()) pair(tos.front(), froms.front());
      continue;
    }
    // Several products under the code: one key when their texts are equal
    // (the usual case), otherwise split by their keys.
    const Texts first = from.texts(static_cast<size_t>(froms.front()));
    bool oneText = true;
    for (int f : froms) oneText = oneText && first == from.texts(static_cast<size_t>(f));
    for (int t : tos) oneText = oneText && first == to.texts(static_cast<size_t>(t));
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
