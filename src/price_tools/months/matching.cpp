#include "price_tools/months/matching.h"

#include "price_tools/months/product_keys.h"

#include <future>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace price_tools {

namespace {

// Decodes one UTF-8 sequence at i; -1 (and one byte) for anything else.
long decode(const std::string& s, size_t& i) {
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
void appendNormalised(std::string& out, const std::string& text) {
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

std::string normalised(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  appendNormalised(out, text);
  return out;
}

std::string matchKey(const Product& p) {
  std::string key;
  key.reserve(p.name.size() + p.model.size() + p.unit.size() + p.factory.size() + 3);
  appendNormalised(key, p.name);
  for (const std::string* part : {&p.model, &p.unit, &p.factory}) {
    key += '\x1f';
    appendNormalised(key, *part);
  }
  return key;
}

namespace {

bool sameTexts(const Product& a, const Product& b) {
  return a.name == b.name && a.model == b.model && a.unit == b.unit && a.factory == b.factory;
}

// The products of one list grouped by the code of their key, each code's
// products in list order, as a chain through `next` from `head`. Products of
// one key share a code; a code may (rarely) hold several keys.
struct CodeGroups {
  struct Group {
    int head = -1, tail = -1, count = 0;
  };
  std::unordered_map<int64_t, Group> groups;
  std::vector<int> next;

  explicit CodeGroups(const std::vector<Product>& products) : next(products.size(), -1) {
    groups.reserve(products.size());
    for (size_t i = 0; i < products.size(); ++i) {
      Group& g = groups[keyCode(products[i])];
      const int at = static_cast<int>(i);
      if (g.tail >= 0) next[static_cast<size_t>(g.tail)] = at;
      else g.head = at;
      g.tail = at;
      ++g.count;
    }
  }
  std::vector<int> members(const Group& g) const {
    std::vector<int> out;
    out.reserve(static_cast<size_t>(g.count));
    for (int i = g.head; i >= 0; i = next[static_cast<size_t>(i)]) out.push_back(i);
    return out;
  }
};

}  // namespace

std::vector<MatchedPair> matchProducts(const std::vector<Product>& from, const std::vector<Product>& to) {
  // The two lists are grouped at once, on two threads.
  auto fromGrouping = std::async(std::launch::async, [&from] { return std::make_unique<const CodeGroups>(from); });
  const CodeGroups toCodes(to);
  const std::unique_ptr<const CodeGroups> fromOwned = fromGrouping.get();
  const CodeGroups& fromCodes = *fromOwned;
  std::vector<int> partnerOfTo(to.size(), -1);
  std::vector<bool> fromUsed(from.size(), false);
  auto pair = [&](int t, int f) {
    partnerOfTo[static_cast<size_t>(t)] = f;
    fromUsed[static_cast<size_t>(f)] = true;
  };
  // Products of one key: equal ids first, then the rest in their order.
  auto pairKey = [&](const std::vector<int>& froms, const std::vector<int>& tos) {
    std::unordered_map<std::string_view, std::vector<int>> fromById;
    for (int f : froms) fromById[from[static_cast<size_t>(f)].id].push_back(f);
    for (int t : tos) {
      auto same = fromById.find(to[static_cast<size_t>(t)].id);
      if (same == fromById.end()) continue;
      for (int f : same->second)
        if (!fromUsed[static_cast<size_t>(f)]) {
          pair(t, f);
          break;
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
  for (const auto& [code, toGroup] : toCodes.groups) {
    auto it = fromCodes.groups.find(code);
    if (it == fromCodes.groups.end()) continue;
    const CodeGroups::Group& fromGroup = it->second;
    if (fromGroup.count == 1 && toGroup.count == 1) {
      const Product& f = from[static_cast<size_t>(fromGroup.head)];
      const Product& t = to[static_cast<size_t>(toGroup.head)];
      if (sameTexts(f, t) || matchKey(f) == matchKey(t))
        pair(toGroup.head, fromGroup.head);
      continue;
    }
    // Several products under the code: one key when their texts are equal
    // (the usual case), otherwise split by their keys.
    const std::vector<int> froms = fromCodes.members(fromGroup), tos = toCodes.members(toGroup);
    const Product& first = from[static_cast<size_t>(froms.front())];
    bool oneText = true;
    for (int f : froms) oneText = oneText && sameTexts(first, from[static_cast<size_t>(f)]);
    for (int t : tos) oneText = oneText && sameTexts(first, to[static_cast<size_t>(t)]);
    if (oneText) {
      pairKey(froms, tos);
      continue;
    }
    std::unordered_map<std::string, std::pair<std::vector<int>, std::vector<int>>> byKey;
    for (int f : froms) byKey[matchKey(from[static_cast<size_t>(f)])].first.push_back(f);
    for (int t : tos) byKey[matchKey(to[static_cast<size_t>(t)])].second.push_back(t);
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

}  // namespace price_tools
