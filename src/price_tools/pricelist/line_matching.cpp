#include "price_tools/pricelist/line_matching.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <QString>

#include "common/cp936.h"
#include "common/program_folder.h"
#include "price_tools/months/matching.h"
#include "price_tools/pricelist/normalise.h"

namespace price_tools::pricelist {

extern const std::string_view kShippedSynonyms;

using namespace detail;

// ---------------------------------------------------------------- synonyms

Synonyms Synonyms::shipped() {
  Synonyms s;
  s.addTable(std::string(kShippedSynonyms));
  return s;
}

Synonyms Synonyms::forProgramFolder(const std::string& folder) {
  Synonyms s = shipped();
  const std::optional<std::string> path = common::resolveIn(folder, "材料别名.txt");
  if (!path) return s;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return s;
  // A table is a few kilobytes; a file far larger is no table of names.
  constexpr size_t kMaxTable = 4 * 1024 * 1024;
  std::string text;
  text.resize(kMaxTable + 1);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kMaxTable) return s;
  s.addTable(text);
  return s;
}

int Synonyms::addTable(const std::string& textIn) {
  std::string text = textIn;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  // A user's table written on Windows may well be GBK: what is not UTF-8 is.
  const QString asUtf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (asUtf8.contains(QChar::ReplacementCharacter) && text.find("\xEF\xBF\xBD") == std::string::npos)
    text = common::fromCp936(text);
  int read = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string folded = foldText(line);
    if (folded.empty() || folded[0] == '#') continue;
    std::vector<std::string> names;
    size_t from = 0;
    // "=" and its full-width form (folded to "=") separate the names.
    for (size_t at = 0; at <= folded.size(); ++at) {
      if (at == folded.size() || folded[at] == '=') {
        std::string name = folded.substr(from, at - from);
        while (!name.empty() && name.front() == ' ') name.erase(name.begin());
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        from = at + 1;
      }
    }
    if (names.size() < 2) continue;
    ++read;
    // A group that shares a name with one already known extends it.
    auto known = std::find_if(groups_.begin(), groups_.end(), [&](const std::vector<std::string>& g) {
      return std::any_of(names.begin(), names.end(),
                         [&](const std::string& n) { return std::find(g.begin(), g.end(), n) != g.end(); });
    });
    if (known == groups_.end()) {
      groups_.push_back(names);
      continue;
    }
    for (const std::string& n : names)
      if (std::find(known->begin(), known->end(), n) == known->end()) known->push_back(n);
  }
  return read;
}

std::string Synonyms::canonical(const std::string& normalisedText) const {
  for (const auto& g : groups_)
    if (std::find(g.begin(), g.end(), normalisedText) != g.end()) return g.front();
  return normalisedText;
}

// ---------------------------------------------------------------- the rule for several makers

std::optional<SeveralRule> SeveralRule::parse(const std::string& text) {
  SeveralRule r;
  if (text == "average") r.kind = Average;
  else if (text == "lowest") r.kind = Lowest;
  else if (text == "highest") r.kind = Highest;
  else if (text == "median") r.kind = Median;
  else if (text.rfind("factory:", 0) == 0 && text.size() > 8) r.kind = Factory, r.factoryId = text.substr(8);
  else return std::nullopt;
  return r;
}

std::string SeveralRule::text() const {
  switch (kind) {
    case Average: return "average";
    case Lowest: return "lowest";
    case Highest: return "highest";
    case Median: return "median";
    case Factory: return "factory:" + factoryId;
  }
  return "average";
}

const char* statusText(MatchStatus status) {
  switch (status) {
    case MatchStatus::Matched: return "匹配";
    case MatchStatus::Check: return "待确认";
    case MatchStatus::None: return "未匹配";
  }
  return "未匹配";
}

const char* statusName(MatchStatus status) {
  switch (status) {
    case MatchStatus::Matched: return "matched";
    case MatchStatus::Check: return "check";
    case MatchStatus::None: return "none";
  }
  return "none";
}

// ---------------------------------------------------------------- the index

namespace {

// Rewrites the names of a synonym group to the group's first name, longest
// spelling first, Latin names only where they stand as words.
class SynonymRewriter {
 public:
  explicit SynonymRewriter(const Synonyms& synonyms) {
    for (const auto& g : synonyms.groups())
      for (const std::string& n : g) spellings_.push_back({n, g.front()});
    for (const auto& [spelling, canonical] : spellings_) {
      byText_[spelling] = &canonical;
      lengths_.push_back(spelling.size());
    }
    std::sort(lengths_.begin(), lengths_.end(), std::greater<>());
    lengths_.erase(std::unique(lengths_.begin(), lengths_.end()), lengths_.end());
  }

  std::string operator()(const std::string& folded) const {
    if (byText_.empty()) return folded;
    std::string out;
    out.reserve(folded.size());
    auto latin = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
    for (size_t i = 0; i < folded.size();) {
      bool replaced = false;
      for (size_t len : lengths_) {
        if (i + len > folded.size()) continue;
        auto it = byText_.find(std::string_view(folded).substr(i, len));
        if (it == byText_.end()) continue;
        const char first = folded[i], last = folded[i + len - 1];
        if ((latin(first) && i > 0 && latin(folded[i - 1])) ||
            (latin(last) && i + len < folded.size() && latin(folded[i + len])))
          continue;
        out += *it->second;
        i += len;
        replaced = true;
        break;
      }
      if (replaced) continue;
      // One whole UTF-8 character.
      size_t n = 1;
      while (i + n < folded.size() && (static_cast<unsigned char>(folded[i + n]) & 0xC0) == 0x80) ++n;
      out.append(folded, i, n);
      i += n;
    }
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> spellings_;
  std::unordered_map<std::string_view, const std::string*> byText_;
  std::vector<size_t> lengths_;
};

// What a line or an answer says, read once.
struct Described {
  std::string unit;             // canonical
  std::vector<int> tokens;      // sorted token ids (-1 never stored)
  std::vector<Grade> grades;
  std::vector<Size> sizes;
  std::vector<std::vector<int>> words;  // per word of two characters or more: its tokens (-1: no answer has it)
};

bool holds(const std::vector<int>& sorted, int token) { return std::binary_search(sorted.begin(), sorted.end(), token); }

// Words of `of` of which `in` holds nothing.
int wordsMissing(const Described& of, const Described& in) {
  int n = 0;
  for (const auto& w : of.words)
    if (std::none_of(w.begin(), w.end(), [&](int t) { return holds(in.tokens, t); })) ++n;
  return n;
}

std::string groupKey(const Product& p) {
  return normalised(p.name) + '\x1f' + normalised(p.model) + '\x1f' + normalised(p.unit);
}

}  // namespace

struct Catalogue::Index {
  std::shared_ptr<const LibraryProducts> library;
  SynonymRewriter rewrite;
  std::vector<std::vector<int>> groupProducts;  // per answer: the products, in library order
  std::vector<Described> groups;
  std::vector<double> groupWeight;               // sum of the weights of an answer's tokens
  std::vector<int> productGroup;
  std::unordered_map<std::string, int> byKey;
  std::unordered_map<std::string, int> tokenIds;
  std::vector<std::vector<int>> postings;  // per token: the answers that hold it
  std::vector<double> weight;              // per token
  std::vector<bool> single;                // per token: a single CJK character
  double rareWeight = 1;                   // of a token no answer holds

  explicit Index(std::shared_ptr<const LibraryProducts> lib, const Synonyms& synonyms)
      : library(std::move(lib)), rewrite(synonyms) {}

  Reading readOf(const std::string& name, const std::string& model) const {
    return readText(rewrite(foldText(name + " " + model)));
  }

  void build() {
    const auto& products = library->products;
    productGroup.assign(products.size(), -1);
    for (size_t i = 0; i < products.size(); ++i) {
      auto [it, fresh] = byKey.try_emplace(groupKey(products[i]), static_cast<int>(groupProducts.size()));
      if (fresh) groupProducts.emplace_back();
      groupProducts[static_cast<size_t>(it->second)].push_back(static_cast<int>(i));
      productGroup[i] = it->second;
    }
    groups.resize(groupProducts.size());
    for (size_t g = 0; g < groupProducts.size(); ++g) {
      const Product& p = products[static_cast<size_t>(groupProducts[g].front())];
      const Reading r = readOf(p.name, p.model);
      Described& d = groups[g];
      d.unit = canonicalUnit(p.unit);
      d.grades = r.grades;
      d.sizes = r.sizes;
      for (const std::string& t : similarityTokens(r)) {
        auto [it, fresh] = tokenIds.try_emplace(t, static_cast<int>(postings.size()));
        if (fresh) {
          postings.emplace_back();
          single.push_back(t[0] == 'u');
        }
        postings[static_cast<size_t>(it->second)].push_back(static_cast<int>(g));
        d.tokens.push_back(it->second);
      }
      std::sort(d.tokens.begin(), d.tokens.end());
      for (const std::string& w : r.words) {
        std::vector<int> ids;
        for (const std::string& t : wordTokens(w)) ids.push_back(tokenIds.at(t));
        if (!ids.empty()) d.words.push_back(std::move(ids));
      }
    }
    const double n = static_cast<double>(std::max<size_t>(groups.size(), 1));
    weight.resize(postings.size());
    for (size_t t = 0; t < postings.size(); ++t)
      weight[t] = std::log(1.0 + n / static_cast<double>(postings[t].size())) * (single[t] ? 0.35 : 1.0);
    rareWeight = std::log(1.0 + n);
    groupWeight.resize(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
      double w = 0;
      for (int t : groups[g].tokens) w += weight[static_cast<size_t>(t)];
      groupWeight[g] = w;
    }
  }
};

Catalogue::Catalogue(std::shared_ptr<const LibraryProducts> library, Synonyms synonyms)
    : index_(std::make_unique<Index>(std::move(library), synonyms)) {
  index_->build();
}

Catalogue::~Catalogue() = default;

const LibraryProducts& Catalogue::library() const { return *index_->library; }

std::optional<Decimal> priceByRule(std::vector<Decimal> prices, SeveralRule::Kind kind) {
  if (prices.empty()) return std::nullopt;
  if (kind == SeveralRule::Lowest || kind == SeveralRule::Highest) {
    const Decimal* best = &prices.front();
    for (const Decimal& p : prices) {
      const int cmp = compare(p, *best);
      if (kind == SeveralRule::Lowest ? cmp < 0 : cmp > 0) best = &p;
    }
    return *best;
  }
  if (kind == SeveralRule::Median) {
    std::sort(prices.begin(), prices.end());
    const size_t m = prices.size() / 2;
    return (prices.size() % 2 ? prices[m] : (prices[m - 1] + prices[m]).half()).rounded(2);
  }
  Decimal sum;
  for (const Decimal& p : prices) sum = sum + p;
  return Decimal::quotient(sum, Decimal(static_cast<int64_t>(prices.size()), 0), 2);
}

namespace {

// An answer priced by the rule, from the products given (one answer's).
Candidate priced(const LibraryProducts& lib, const std::vector<int>& all, const std::vector<int>& offered,
                 const SeveralRule& rule) {
  Candidate c;
  c.products = all;
  const Product& first = lib.products[static_cast<size_t>(all.front())];
  c.id = first.id;
  c.name = first.name;
  c.model = first.model;
  c.unit = first.unit;
  std::vector<int> from = offered;
  if (rule.kind == SeveralRule::Factory) {
    from.erase(std::remove_if(from.begin(), from.end(),
                              [&](int i) { return lib.products[static_cast<size_t>(i)].factoryId != rule.factoryId; }),
               from.end());
    if (from.empty()) return c;  // the chosen maker does not offer it: no price
    c.id = lib.products[static_cast<size_t>(from.front())].id;
  }
  std::set<std::string> makers;
  for (int i : from) makers.insert(normalised(lib.products[static_cast<size_t>(i)].factory));
  if (makers.size() == 1) c.factory = lib.products[static_cast<size_t>(from.front())].factory;
  std::vector<int> withPrice;
  for (int i : from)
    if (lib.products[static_cast<size_t>(i)].price) withPrice.push_back(i);
  if (withPrice.empty()) return c;
  auto priceOf = [&](int i) { return *lib.products[static_cast<size_t>(i)].price; };
  if (rule.kind == SeveralRule::Lowest || rule.kind == SeveralRule::Highest) {
    int best = withPrice.front();
    for (int i : withPrice) {
      const int cmp = compare(priceOf(i), priceOf(best));
      if (rule.kind == SeveralRule::Lowest ? cmp < 0 : cmp > 0) best = i;
    }
    const Product& p = lib.products[static_cast<size_t>(best)];
    c.id = p.id;
    c.factory = p.factory;
    c.price = p.price;
    return c;
  }
  // The median or the average (also of the one maker the Factory rule leaves).
  std::vector<Decimal> prices;
  prices.reserve(withPrice.size());
  for (int i : withPrice) prices.push_back(priceOf(i));
  c.price = priceByRule(std::move(prices), rule.kind);
  return c;
}

// How well an answer fits a line; nullopt when a grade or a size disagrees.
struct Fitting {
  const std::vector<double>& weight;
  double rareWeight;

  std::optional<double> operator()(const Described& line, double lineWeight, const Described& answer,
                                   double answerWeight) const {
    double common = 0;
    {
      auto a = line.tokens.begin(), b = answer.tokens.begin();
      while (a != line.tokens.end() && b != answer.tokens.end()) {
        if (*a < *b) ++a;
        else if (*b < *a) ++b;
        else common += weight[static_cast<size_t>(*a)], ++a, ++b;
      }
    }
    if (lineWeight <= 0 || answerWeight <= 0) return std::nullopt;
    double score = 100.0 * (0.7 * common / lineWeight + 0.3 * common / answerWeight);

    // A word of the line the answer lacks while the answer says something
    // else in its place ("袋装" asked, "散装" offered) is another product.
    const int lacking = wordsMissing(line, answer);
    if (lacking > 0) score -= wordsMissing(answer, line) > 0 ? 12 : 4;

    // Grades: a grade of the line's kind in the answer must be the line's.
    std::set<std::string> kindsAsked;
    for (const Grade& g : line.grades) {
      kindsAsked.insert(g.kind());
      bool sameKind = false, equal = false;
      for (const Grade& h : answer.grades) {
        const bool kindAlike = g.family.empty() || h.family.empty() || h.kind() == g.kind();
        if (!kindAlike) continue;
        sameKind = true;
        if (g.family.empty() || h.family.empty() ? g.value == h.value : g == h) equal = true;
      }
      if (sameKind && !equal) return std::nullopt;
      if (!sameKind) score -= 14;  // asked for, not stated
    }
    for (const Grade& h : answer.grades)
      if (!kindsAsked.count(h.kind()) && !h.family.empty()) score -= 4;  // more exact than the line

    // Sizes: of each kind the line names, one of the answer's must fit.
    std::vector<bool> answerSizeUsed(answer.sizes.size(), false);
    for (const Size& s : line.sizes) {
      bool any = false;
      Fit best = Fit::Conflict;
      for (size_t k = 0; k < answer.sizes.size(); ++k) {
        if (!sameKind(s, answer.sizes[k])) continue;
        any = true;
        answerSizeUsed[k] = true;
        const Fit f = fitSize(s, answer.sizes[k]);
        if (f == Fit::Equal || (f == Fit::Within && best == Fit::Conflict)) best = f;
      }
      if (!any) {
        // A bare number ("PPR管 25", "d=28") most likely gives the diameter.
        if (s.prefix.empty() && s.values.front().dimension.empty()) {
          Size asDiameter = s;
          asDiameter.prefix = "dn";
          for (size_t k = 0; k < answer.sizes.size(); ++k) {
            if (!sameKind(asDiameter, answer.sizes[k])) continue;
            any = true;
            answerSizeUsed[k] = true;
            const Fit f = fitSize(asDiameter, answer.sizes[k]);
            if (f == Fit::Equal || (f == Fit::Within && best == Fit::Conflict)) best = f;
          }
        }
        score -= !any ? 14 : best == Fit::Conflict ? 14 : 5;
        continue;
      }
      if (best == Fit::Conflict) return std::nullopt;
      if (best == Fit::Within) score -= 3;
    }
    for (size_t k = 0; k < answer.sizes.size(); ++k)
      if (!answerSizeUsed[k]) score -= 4;

    // Units: another unit prices another quantity.
    if (!line.unit.empty() && !answer.unit.empty() && line.unit != answer.unit) score -= 35;
    return score;
  }
};

}  // namespace

std::vector<Candidate> Catalogue::rank(const LineQuery& line, const SeveralRule& rule, size_t limit) const {
  const Index& ix = *index_;
  std::vector<Candidate> out;
  if (limit == 0 || ix.groups.empty()) return out;
  const Reading r = ix.readOf(line.name, line.model);
  Described asked;
  asked.unit = canonicalUnit(line.unit);
  asked.grades = r.grades;
  asked.sizes = r.sizes;
  double lineWeight = 0;
  std::vector<int> known;
  for (const std::string& t : similarityTokens(r)) {
    auto it = ix.tokenIds.find(t);
    if (it == ix.tokenIds.end()) {
      // A word no product uses says the line may ask for something else,
      // but not as loudly as a rare word that is there.
      lineWeight += (t[0] == 'u' ? 0.35 : 1.0) * ix.rareWeight * 0.5;
      continue;
    }
    known.push_back(it->second);
    lineWeight += ix.weight[static_cast<size_t>(it->second)];
  }
  std::sort(known.begin(), known.end());
  asked.tokens = known;
  for (const std::string& w : r.words) {
    std::vector<int> ids;
    for (const std::string& t : wordTokens(w)) {
      auto it = ix.tokenIds.find(t);
      ids.push_back(it == ix.tokenIds.end() ? -1 : it->second);
    }
    if (!ids.empty()) asked.words.push_back(std::move(ids));
  }
  if (known.empty()) return out;

  // Answers that share words with the line: the rarer a word, the more it
  // counts. Single characters and very common words only lead to answers
  // when nothing else does, so a line costs the postings of its rare words.
  const size_t groups = ix.groups.size();
  const size_t common = std::max<size_t>(5000, groups / 4);
  std::vector<int> leading;
  for (int t : known)
    if (!ix.single[static_cast<size_t>(t)] && ix.postings[static_cast<size_t>(t)].size() <= common)
      leading.push_back(t);
  if (leading.empty()) {
    // The rarest ones, whatever they are.
    leading = known;
    std::sort(leading.begin(), leading.end(), [&](int a, int b) {
      return ix.postings[static_cast<size_t>(a)].size() < ix.postings[static_cast<size_t>(b)].size();
    });
    leading.resize(std::min<size_t>(leading.size(), 3));
  }
  std::unordered_map<int, double> reach;
  for (int t : leading)
    for (int g : ix.postings[static_cast<size_t>(t)]) reach[g] += ix.weight[static_cast<size_t>(t)];
  std::vector<std::pair<double, int>> order;
  order.reserve(reach.size());
  for (const auto& [g, w] : reach) order.push_back({w, g});
  constexpr size_t kExamined = 200;
  auto byReach = [](const std::pair<double, int>& a, const std::pair<double, int>& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  };
  if (order.size() > kExamined) {
    std::nth_element(order.begin(), order.begin() + kExamined, order.end(), byReach);
    order.resize(kExamined);
  }

  const Fitting fit{ix.weight, ix.rareWeight};
  const std::string factory = normalised(line.factory);
  std::vector<std::pair<double, int>> scored;
  for (const auto& [w, g] : order) {
    std::optional<double> s = fit(asked, lineWeight, ix.groups[static_cast<size_t>(g)], ix.groupWeight[static_cast<size_t>(g)]);
    if (!s) continue;
    if (!factory.empty()) {
      const auto& ps = ix.groupProducts[static_cast<size_t>(g)];
      const bool offers = std::any_of(ps.begin(), ps.end(), [&](int i) {
        const std::string f = normalised(ix.library->products[static_cast<size_t>(i)].factory);
        return !f.empty() && (f.find(factory) != std::string::npos || factory.find(f) != std::string::npos);
      });
      *s += offers ? 3 : -10;
    }
    if (*s < 10) continue;
    scored.push_back({*s, g});
  }
  std::sort(scored.begin(), scored.end(), byReach);
  for (const auto& [s, g] : scored) {
    if (out.size() >= limit) break;
    const auto& ps = ix.groupProducts[static_cast<size_t>(g)];
    Candidate c = priced(*ix.library, ps, ps, rule);
    c.score = std::clamp(static_cast<int>(std::lround(s)), 0, 100);
    out.push_back(std::move(c));
  }
  return out;
}

MatchStatus Catalogue::statusOf(const std::vector<Candidate>& ranked) {
  constexpr int kClear = 80;   // an answer this good may be the line's
  constexpr int kApart = 8;    // and this far ahead of the next
  constexpr int kWeak = 40;    // below this nothing fits
  if (ranked.empty() || ranked.front().score < kWeak) return MatchStatus::None;
  if (ranked.front().score >= kClear && (ranked.size() == 1 || ranked.front().score - ranked[1].score >= kApart))
    return MatchStatus::Matched;
  return MatchStatus::Check;
}

std::optional<Candidate> Catalogue::answerOf(int productIndex, const SeveralRule& rule) const {
  const Index& ix = *index_;
  if (productIndex < 0 || static_cast<size_t>(productIndex) >= ix.productGroup.size()) return std::nullopt;
  const auto& ps = ix.groupProducts[static_cast<size_t>(ix.productGroup[static_cast<size_t>(productIndex)])];
  return priced(*ix.library, ps, ps, rule);
}

std::optional<Candidate> Catalogue::findAnswer(const std::string& name, const std::string& model,
                                               const std::string& unit, const std::string& factory,
                                               const SeveralRule& rule) const {
  const Index& ix = *index_;
  auto it = ix.byKey.find(normalised(name) + '\x1f' + normalised(model) + '\x1f' + normalised(unit));
  if (it == ix.byKey.end()) return std::nullopt;
  const auto& ps = ix.groupProducts[static_cast<size_t>(it->second)];
  if (factory.empty()) return priced(*ix.library, ps, ps, rule);
  std::vector<int> ofMaker;
  const std::string f = normalised(factory);
  for (int i : ps)
    if (normalised(ix.library->products[static_cast<size_t>(i)].factory) == f) ofMaker.push_back(i);
  if (ofMaker.empty()) return std::nullopt;
  // One maker chosen: its price, whatever the rule for several makers.
  return priced(*ix.library, ofMaker, ofMaker, SeveralRule{});
}

}  // namespace price_tools::pricelist
