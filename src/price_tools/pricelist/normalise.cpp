#include "price_tools/pricelist/normalise.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <string_view>

#include "price_tools/months/matching.h"

namespace price_tools::pricelist::detail {

namespace {

using Text = std::u32string;

Text toText(const std::string& utf8) {
  const QList<uint> ucs = QString::fromStdString(utf8).toUcs4();
  Text out;
  out.reserve(static_cast<size_t>(ucs.size()));
  for (uint c : ucs) out.push_back(static_cast<char32_t>(c));
  return out;
}

std::string toUtf8(const Text& text) {
  return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

bool isDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool isLetter(char32_t c) { return c >= U'a' && c <= U'z'; }
// Ideographs (and the kana and hangul around them) make up words.
bool isCjk(char32_t c) {
  return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF) ||
         (c >= 0x3040 && c <= 0x30FF) || (c >= 0xAC00 && c <= 0xD7AF);
}

constexpr char32_t kPhi = U'φ';

}  // namespace

std::string foldText(const std::string& text) {
  const Text in = toText(price_tools::normalised(text));
  Text out;
  out.reserve(in.size() + 4);
  for (size_t i = 0; i < in.size(); ++i) {
    const char32_t c = in[i];
    switch (c) {
      case U'×': case U'*': case U'✕': case U'╳': out += U'x'; break;
      case U'~': case U'—': case U'–': case U'―': case U'〜': case U'至': out += U'-'; break;
      case U'Φ': case U'φ': case U'ф': case U'Ф': case U'ϕ': case U'∅': case U'Ø': case U'ø': out += kPhi; break;
      case U'·': case U'・': case U'•': out += U'.'; break;
      case U'²': out += U'2'; break;
      case U'³': out += U'3'; break;
      case U'㎡': out += U"m2"; break;
      case U'㎥': out += U"m3"; break;
      case U'㎜': out += U"mm"; break;
      case U'㎝': out += U"cm"; break;
      case U'㎏': out += U"kg"; break;
      case U'∠': out += U'l'; break;
      case U'直':
        if (i + 1 < in.size() && in[i + 1] == U'径') {
          out += kPhi;
          ++i;
          break;
        }
        out += c;
        break;
      default: out += c;
    }
  }
  return toUtf8(out);
}

std::string canonicalUnit(const std::string& unit) {
  const std::string u = foldText(unit);
  static const std::array<std::pair<std::string_view, std::string_view>, 17> kUnits = {{
      {"m3", "m3"}, {"立方米", "m3"}, {"立方", "m3"}, {"方", "m3"},
      {"m2", "m2"}, {"平方米", "m2"}, {"平米", "m2"}, {"平方", "m2"},
      {"t", "t"}, {"吨", "t"},
      {"kg", "kg"}, {"千克", "kg"}, {"公斤", "kg"},
      {"m", "m"}, {"米", "m"}, {"延米", "m"}, {"延长米", "m"},
  }};
  for (const auto& [spelling, canonical] : kUnits)
    if (u == spelling) return std::string(canonical);
  return u;
}

std::string Grade::kind() const {
  static const std::array<std::string_view, 7> rebar = {"hrb", "hpb", "crb", "hrbf", "rrb", "crbf", "hrbe"};
  static const std::array<std::string_view, 10> cement = {"po", "pc", "ps", "psa", "psb", "pp", "pf", "pi", "pii", "p"};
  if (std::find(rebar.begin(), rebar.end(), family) != rebar.end()) return "rebar";
  if (std::find(cement.begin(), cement.end(), family) != cement.end()) return "cement";
  return family;
}

namespace {

// Families written with a blank before their number as often as without
// ("HRB 400", "P.O 42.5", "DN 25").
bool joinsAcrossBlank(const std::string& letters) {
  static const std::array<std::string_view, 15> known = {"hrb", "hpb", "crb", "hrbf", "q",  "po", "pc", "ps",
                                                         "pp",  "c",   "mu",  "dn",   "de", "m",  "pn"};
  return std::find(known.begin(), known.end(), letters) != known.end();
}

// Prefixes of sizes rather than grades: diameters (dn, de, d), bolts (m),
// angles (l).
std::string sizePrefix(const std::string& letters) {
  if (letters == "dn" || letters == "de" || letters == "d") return "dn";
  if (letters == "m" || letters == "l") return letters;
  return {};
}

struct Unit {
  std::u32string_view spelling;
  const char* dimension;
  int64_t factor;  // to the dimension's base (mm, mm2, g, m3, inch)
  bool latin;
};

// Longest spellings first where one begins another.
constexpr std::array<Unit, 23> kUnitsAfterNumbers = {{
    {U"mm2", "area", 1, true},        {U"mm", "length", 1, true},      {U"cm", "length", 10, true},
    {U"m2", "area", 1000000, true},   {U"m3", "volume", 1, true},      {U"kg", "mass", 1000, true},
    {U"m", "length", 1000, true},     {U"t", "mass", 1000000, true},   {U"g", "mass", 1, true},
    {U"平方毫米", "area", 1, false},  {U"毫米", "length", 1, false},   {U"厘米", "length", 10, false},
    {U"平方米", "area", 1000000, false}, {U"平米", "area", 1000000, false}, {U"立方米", "volume", 1, false},
    {U"方", "volume", 1, false},      {U"米", "length", 1000, false},  {U"千克", "mass", 1000, false},
    {U"公斤", "mass", 1000, false},   {U"吨", "mass", 1000000, false}, {U"英寸", "inch", 1, false},
    {U"寸", "inch", 1, false},        {U"厚", "length", 1, false},
}};

class Scanner {
 public:
  explicit Scanner(const Text& t) : t_(t) {}

  Reading read() {
    Reading r;
    while (i_ < t_.size()) {
      const char32_t c = t_[i_];
      if (isCjk(c)) {
        const size_t from = i_;
        while (i_ < t_.size() && isCjk(t_[i_])) ++i_;
        r.words.push_back(toUtf8(t_.substr(from, i_ - from)));
      } else if (isLetter(c)) {
        letters(r);
      } else if (c == kPhi) {
        ++i_;
        skipBlank();
        if (i_ < t_.size() && isDigit(t_[i_])) size(r, "φ");
      } else if (isDigit(c)) {
        size(r, "");
      } else {
        ++i_;
      }
    }
    return r;
  }

 private:
  char32_t at(size_t k) const { return k < t_.size() ? t_[k] : 0; }
  void skipBlank() {
    if (at(i_) == U' ' && isDigit(at(i_ + 1))) ++i_;
  }

  // A run of letters: "p.o" and "pp-r" read as "po" and "ppr".
  void letters(Reading& r) {
    std::string word;
    while (i_ < t_.size()) {
      if (isLetter(t_[i_])) {
        word += static_cast<char>(t_[i_++]);
      } else if ((t_[i_] == U'.' || t_[i_] == U'-') && isLetter(at(i_ + 1)) && !word.empty() &&
                 (t_[i_] == U'-' || word.size() <= 2)) {
        ++i_;
      } else {
        break;
      }
    }
    size_t k = i_;
    if (at(k) == U' ' && isDigit(at(k + 1)) && joinsAcrossBlank(word)) ++k;
    if (!isDigit(at(k))) {
      r.words.push_back(word);
      return;
    }
    // A word glued to a chain ("bv1x2.5") is the word and a size.
    const std::string prefix = sizePrefix(word);
    i_ = k;
    if (!prefix.empty()) {
      size(r, prefix);
      return;
    }
    std::string value = number();
    if (isLetter(at(i_)) && !isLetter(at(i_ + 1)) && at(i_) != U'x') value += static_cast<char>(t_[i_++]);
    if (at(i_) == U'x' && isDigit(at(i_ + 1))) {
      // "bv1x2.5": not a grade but a word and a chain.
      r.words.push_back(word);
      i_ = k;
      size(r, "");
      return;
    }
    r.grades.push_back({word, value});
  }

  std::string number() {
    std::string s;
    while (isDigit(at(i_))) s += static_cast<char>(t_[i_++]);
    if (at(i_) == U'.' && isDigit(at(i_ + 1))) {
      s += '.';
      ++i_;
      while (isDigit(at(i_))) s += static_cast<char>(t_[i_++]);
    }
    return s;
  }

  static int64_t thousandths(const std::string& s) {
    int64_t whole = 0, frac = 0;
    int places = 0;
    bool point = false;
    for (char ch : s) {
      if (ch == '.') {
        point = true;
        continue;
      }
      if (!point) {
        if (whole < 1000000000000LL) whole = whole * 10 + (ch - '0');
      } else if (places < 3) {
        frac = frac * 10 + (ch - '0');
        ++places;
      }
    }
    while (places < 3) frac *= 10, ++places;
    return whole * 1000 + frac;
  }

  const Unit* unit() {
    for (const Unit& u : kUnitsAfterNumbers) {
      if (t_.compare(i_, u.spelling.size(), u.spelling) != 0) continue;
      // A Latin unit is not the start of a longer word ("5mpa").
      if (u.latin && isLetter(at(i_ + u.spelling.size()))) continue;
      i_ += u.spelling.size();
      return &u;
    }
    return nullptr;
  }

  SizeValue value(const Unit*& u) {
    const int64_t raw = thousandths(number());
    u = unit();
    SizeValue v;
    v.milli = raw;
    rawOf_.push_back(raw);
    unitOf_.push_back(u);
    return v;
  }

  // After a value: a prefix repeated before the next one ("φ16-φ25", "dn25xdn2.8").
  bool nextIsValue(const std::string& prefix) {
    size_t k = i_;
    if (prefix == "φ" && at(k) == kPhi) ++k;
    if (at(k) == U' ') ++k;
    if (!isDigit(at(k))) return false;
    i_ = k;
    return true;
  }

  void size(Reading& r, const std::string& prefix) {
    Size s;
    s.prefix = prefix;
    rawOf_.clear();
    unitOf_.clear();
    const Unit* u = nullptr;
    s.values.push_back(value(u));
    // "42.5级": a grade written as a bare number.
    if (prefix.empty() && !u && at(i_) == U'级') {
      r.grades.push_back({"", number_text(rawOf_[0])});
      ++i_;
      return;
    }
    const size_t afterFirst = i_;
    size_t k = i_;
    if (at(k) == U' ' && (at(k + 1) == U'-' || at(k + 1) == U'x' || at(k + 1) == U'+')) ++k;
    if (at(k) == U'-') {
      i_ = k + 1;
      if (nextIsValue(prefix)) {
        s.range = true;
        s.values.push_back(value(u));
      } else {
        i_ = afterFirst;
      }
    } else {
      while (at(k) == U'x' || at(k) == U'+') {
        const char op = static_cast<char>(at(k));
        i_ = k + 1;
        if (!nextIsValue(prefix)) {
          i_ = k;
          break;
        }
        s.ops += op;
        s.values.push_back(value(u));
        k = i_;
        if (at(k) == U' ' && (at(k + 1) == U'x' || at(k + 1) == U'+')) ++k;
      }
    }
    // Values without a unit of their own take the chain's last unit.
    const Unit* last = nullptr;
    for (size_t v = unitOf_.size(); v-- > 0;) {
      if (unitOf_[v]) last = unitOf_[v];
      const Unit* used = unitOf_[v] ? unitOf_[v] : last;
      s.values[v].milli = rawOf_[v] * (used ? used->factor : 1);
      s.values[v].dimension = used ? used->dimension : "";
    }
    r.sizes.push_back(std::move(s));
  }

  static std::string number_text(int64_t milli) {
    std::string s = std::to_string(milli / 1000);
    int64_t frac = milli % 1000;
    if (frac) {
      std::string f = std::to_string(1000 + frac).substr(1);
      while (!f.empty() && f.back() == '0') f.pop_back();
      s += "." + f;
    }
    return s;
  }

  const Text& t_;
  size_t i_ = 0;
  std::vector<int64_t> rawOf_;
  std::vector<const Unit*> unitOf_;
};

std::string prefixKind(const std::string& prefix) { return prefix == "φ" || prefix == "dn" ? "diameter" : prefix; }

// "1x2.5" is one core of 2.5: a leading single count says nothing.
Size withoutSingleCore(const Size& s) {
  if (s.range || s.values.size() < 2 || s.ops.empty() || s.ops[0] != 'x' ||
      s.values[0].milli != 1000)
    return s;
  Size out = s;
  out.values.erase(out.values.begin());
  out.ops.erase(out.ops.begin());
  return out;
}

int compareValues(const SizeValue& a, const SizeValue& b) { return a.milli < b.milli ? -1 : a.milli > b.milli ? 1 : 0; }

}  // namespace

Reading readText(const std::string& folded) {
  const Text t = toText(folded);
  return Scanner(t).read();
}

bool sameKind(const Size& line, const Size& product) {
  if (prefixKind(line.prefix) != prefixKind(product.prefix)) return false;
  const std::string& a = line.values.front().dimension;
  const std::string& b = product.values.front().dimension;
  return a.empty() || b.empty() || a == b;
}

Fit fitSize(const Size& lineIn, const Size& productIn) {
  const Size line = withoutSingleCore(lineIn);
  const Size product = withoutSingleCore(productIn);
  const auto& l = line.values;
  const auto& p = product.values;
  if (line.range && product.range) {
    if (compareValues(l[0], p[0]) == 0 && compareValues(l[1], p[1]) == 0) return Fit::Equal;
    if (compareValues(l[0], p[0]) >= 0 && compareValues(l[1], p[1]) <= 0) return Fit::Within;
    return Fit::Conflict;
  }
  if (product.range) {
    // One size asked for, a range of sizes offered.
    if (l.size() != 1) return Fit::Conflict;
    return compareValues(l[0], p[0]) >= 0 && compareValues(l[0], p[1]) <= 0 ? Fit::Within : Fit::Conflict;
  }
  if (line.range) {
    if (p.size() != 1) return Fit::Conflict;
    return compareValues(p[0], l[0]) >= 0 && compareValues(p[0], l[1]) <= 0 ? Fit::Within : Fit::Conflict;
  }
  // Chains: equal, or one the beginning of the other ("dn25" of "dn25x2.8").
  const size_t n = std::min(l.size(), p.size());
  for (size_t k = 0; k < n; ++k)
    if (compareValues(l[k], p[k]) != 0) return Fit::Conflict;
  if (line.ops.substr(0, n ? n - 1 : 0) != product.ops.substr(0, n ? n - 1 : 0)) return Fit::Conflict;
  if (l.size() == p.size()) return prefixKind(line.prefix) == prefixKind(product.prefix) && line.prefix != product.prefix
                                       ? Fit::Within
                                       : Fit::Equal;
  return Fit::Within;
}

std::vector<std::string> similarityTokens(const Reading& reading) {
  std::vector<std::string> out;
  for (const std::string& w : reading.words) {
    const Text t = toText(w);
    if (!t.empty() && isCjk(t[0])) {
      for (size_t k = 0; k < t.size(); ++k) {
        out.push_back("u" + toUtf8(t.substr(k, 1)));
        if (k + 1 < t.size()) out.push_back("b" + toUtf8(t.substr(k, 2)));
      }
    } else {
      out.push_back("w" + w);
    }
  }
  for (const Grade& g : reading.grades) out.push_back("g" + g.family + g.value);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace price_tools::pricelist::detail
