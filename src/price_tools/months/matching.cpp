#include "price_tools/months/matching.h"

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

std::string normalised(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool pendingBlank = false;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    long cp = decode(text, i);
    if (cp == 0x3000 || cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n') {
      pendingBlank = !out.empty();
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
  return out;
}

std::string matchKey(const Product& p) {
  std::string key = normalised(p.name);
  for (const std::string* part : {&p.model, &p.unit, &p.factory}) {
    key += '\x1f';
    key += normalised(*part);
  }
  return key;
}

std::vector<MatchedPair> matchProducts(const std::vector<Product>& from, const std::vector<Product>& to) {
  // Products of `from` by key, in order.
  std::unordered_map<std::string, std::vector<int>> byKey;
  for (size_t i = 0; i < from.size(); ++i) byKey[matchKey(from[i])].push_back(static_cast<int>(i));
  std::unordered_map<std::string, std::vector<int>> toByKey;
  for (size_t j = 0; j < to.size(); ++j) toByKey[matchKey(to[j])].push_back(static_cast<int>(j));

  std::vector<int> partnerOfTo(to.size(), -1);
  std::vector<bool> fromUsed(from.size(), false);
  for (auto& [key, tos] : toByKey) {
    auto it = byKey.find(key);
    if (it == byKey.end()) continue;
    std::vector<int>& froms = it->second;
    if (froms.size() == 1 && tos.size() == 1) {
      partnerOfTo[static_cast<size_t>(tos[0])] = froms[0];
      fromUsed[static_cast<size_t>(froms[0])] = true;
      continue;
    }
    // Equal ids first.
    std::unordered_map<std::string, std::vector<int>> fromById;
    for (int f : froms) fromById[from[static_cast<size_t>(f)].id].push_back(f);
    for (int t : tos) {
      auto same = fromById.find(to[static_cast<size_t>(t)].id);
      if (same == fromById.end()) continue;
      for (int f : same->second)
        if (!fromUsed[static_cast<size_t>(f)]) {
          partnerOfTo[static_cast<size_t>(t)] = f;
          fromUsed[static_cast<size_t>(f)] = true;
          break;
        }
    }
    // Then the rest, in order.
    size_t k = 0;
    for (int t : tos) {
      if (partnerOfTo[static_cast<size_t>(t)] >= 0) continue;
      while (k < froms.size() && fromUsed[static_cast<size_t>(froms[k])]) ++k;
      if (k == froms.size()) break;
      partnerOfTo[static_cast<size_t>(t)] = froms[k];
      fromUsed[static_cast<size_t>(froms[k])] = true;
    }
  }
  std::vector<MatchedPair> pairs;
  pairs.reserve(to.size() + from.size());
  for (size_t j = 0; j < to.size(); ++j) pairs.push_back({partnerOfTo[j], static_cast<int>(j)});
  for (size_t i = 0; i < from.size(); ++i)
    if (!fromUsed[i]) pairs.push_back({static_cast<int>(i), -1});
  return pairs;
}

}  // namespace price_tools
