// Display formats of grid columns: decimal arithmetic on the cell's text.
#include "platform/grid/format.h"

#include <algorithm>
#include <vector>

namespace platform {

namespace {

// A decimal value: sign, significant digits without leading or trailing zeros
// (empty for zero), and the place of the point: value = 0.digits × 10^point.
struct Decimal {
  bool negative = false;
  std::string digits;
  int point = 0;

  bool zero() const { return digits.empty(); }
  void normalise() {
    size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) {
      digits.clear();
      point = 0;
      return;
    }
    digits.erase(0, lead);
    point -= static_cast<int>(lead);
    digits.erase(digits.find_last_not_of('0') + 1);
  }
  // Rounds to `decimals` places after the point, half away from zero.
  void round(int decimals) {
    const int keep = point + decimals;
    if (keep >= static_cast<int>(digits.size())) return;
    if (keep < 0) {
      digits.clear();
      normalise();
      return;
    }
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++point;
      }
    }
    normalise();
  }
  // The digits before the point ("" below 1).
  std::string integerDigits() const {
    if (point <= 0) return std::string();
    std::string s = digits.substr(0, static_cast<size_t>(point));
    s.resize(static_cast<size_t>(point), '0');
    return s;
  }
  // The first `n` digits after the point.
  std::string fractionDigits(int n) const {
    std::string s;
    for (int i = 0; i < n; ++i) {
      const int at = point + i;
      s += at >= 0 && at < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(at)] : '0';
    }
    return s;
  }
};

constexpr int kMaxPlaces = 400;

bool parseDecimal(const std::string& text, Decimal& out) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  const size_t end = text.find_last_not_of(' ') + 1;
  Decimal d;
  if (text[i] == '+' || text[i] == '-') d.negative = text[i++] == '-';
  bool anyDigit = false, seenPoint = false;
  int before = 0;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      d.digits += c;
      anyDigit = true;
      if (!seenPoint) ++before;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return false;
  long exponent = 0;
  if (i < end && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negExp = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negExp = text[i++] == '-';
    if (i >= end) return false;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent > kMaxPlaces) return false;
    }
    if (negExp) exponent = -exponent;
  }
  if (i != end) return false;
  if (before > kMaxPlaces || d.digits.size() - static_cast<size_t>(before) > kMaxPlaces) return false;
  d.point = before + static_cast<int>(exponent);
  d.normalise();
  out = d;
  return true;
}

// One section of a format, read into placeholders and literal text.
struct Token {
  enum Kind { Literal, Digit, Point, Exponent } kind = Literal;
  std::string text;  // Literal: the text; Digit: "0" or "#"; Exponent: "E+", "e-", ...
  bool integer = false;  // Digit: before the point (and before any exponent)
};

struct Section {
  std::vector<Token> tokens;
  bool group = false;   // thousands grouping of the integer digits
  int scale = 0;        // powers of ten the value is multiplied by (%, trailing ",")
  bool hasPlaceholder = false;
};

void addLiteral(Section& s, const std::string& text) {
  if (!s.tokens.empty() && s.tokens.back().kind == Token::Literal)
    s.tokens.back().text += text;
  else
    s.tokens.push_back({Token::Literal, text, false});
}

// The length of the UTF-8 character that starts at `c`.
size_t charLength(unsigned char c) {
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}

Section readSection(const std::string& f) {
  Section s;
  bool inFraction = false, inExponent = false;
  int pendingCommas = 0;  // commas after the last integer placeholder so far
  bool anyInteger = false;
  auto settleCommas = [&](bool digitFollows) {
    if (pendingCommas == 0) return;
    if (digitFollows) s.group = true;
    else s.scale -= 3 * pendingCommas;
    pendingCommas = 0;
  };
  for (size_t i = 0; i < f.size();) {
    const char c = f[i];
    if (c == '"') {
      const size_t close = f.find('"', i + 1);
      const size_t stop = close == std::string::npos ? f.size() : close;
      addLiteral(s, f.substr(i + 1, stop - i - 1));
      i = stop == f.size() ? stop : stop + 1;
    } else if (c == '\\') {
      if (i + 1 >= f.size()) break;
      const size_t n = charLength(static_cast<unsigned char>(f[i + 1]));
      addLiteral(s, f.substr(i + 1, n));
      i += 1 + n;
    } else if (c == '0' || c == '#') {
      const bool integer = !inFraction && !inExponent;
      if (integer) {
        settleCommas(true);
        anyInteger = true;
      }
      s.tokens.push_back({Token::Digit, std::string(1, c), integer});
      s.hasPlaceholder = true;
      ++i;
    } else if (c == '.' && !inFraction && !inExponent) {
      settleCommas(false);
      inFraction = true;
      s.tokens.push_back({Token::Point, ".", false});
      ++i;
    } else if (c == ',' && anyInteger && !inFraction && !inExponent) {
      ++pendingCommas;
      ++i;
    } else if ((c == 'E' || c == 'e') && !inExponent && i + 2 < f.size() && (f[i + 1] == '+' || f[i + 1] == '-') &&
               (f[i + 2] == '0' || f[i + 2] == '#')) {
      settleCommas(false);
      inExponent = true;
      s.tokens.push_back({Token::Exponent, f.substr(i, 2), false});
      i += 2;
    } else {
      if (c == '%') s.scale += 2;
      const size_t n = charLength(static_cast<unsigned char>(c));
      addLiteral(s, f.substr(i, n));
      i += n;
    }
  }
  settleCommas(false);
  return s;
}

// Splits a format into its sections at ";" outside quotes and escapes.
std::vector<std::string> splitSections(const std::string& format) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '"') {
      const size_t close = format.find('"', i + 1);
      const size_t stop = close == std::string::npos ? format.size() - 1 : close;
      out.back() += format.substr(i, stop - i + 1);
      i = stop;
    } else if (c == '\\' && i + 1 < format.size()) {
      out.back() += format.substr(i, 2);
      ++i;
    } else if (c == ';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// Writes `digits` into the placeholders at `places` (token indices), right to
// left; the leftmost placeholder takes what is left over. Zeros pad the digits
// up to the placeholders from the first "0" on.
void fillPlaces(const Section& s, const std::vector<size_t>& places, std::string digits, bool group,
                std::vector<std::string>& fill) {
  if (places.empty()) return;
  size_t minDigits = 0;
  for (size_t j = 0; j < places.size(); ++j)
    if (s.tokens[places[j]].text == "0") {
      minDigits = places.size() - j;
      break;
    }
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), '0');
  const size_t total = digits.size();
  auto withGroups = [&](size_t from, size_t count) {
    std::string out;
    for (size_t k = from; k < from + count; ++k) {
      out += digits[k];
      const size_t fromRight = total - 1 - k;
      if (group && fromRight > 0 && fromRight % 3 == 0) out += ',';
    }
    return out;
  };
  size_t left = total;
  for (size_t j = places.size(); j-- > 0 && left > 0;) {
    const size_t take = j == 0 ? left : 1;
    fill[places[j]] = withGroups(left - take, take);
    left -= take;
  }
}

// The formatted value for one section (without a sign of its own); `v` is
// left as rounded.
std::string applySection(const Section& s, Decimal& v) {
  if (!v.zero()) v.point += s.scale;
  std::vector<size_t> intPlaces, fracPlaces, expPlaces;
  bool scientific = false;
  for (size_t k = 0; k < s.tokens.size(); ++k) {
    const Token& t = s.tokens[k];
    if (t.kind == Token::Exponent) scientific = true;
    if (t.kind != Token::Digit) continue;
    (t.integer ? intPlaces : scientific ? expPlaces : fracPlaces).push_back(k);
  }
  const int decimals = static_cast<int>(fracPlaces.size());
  int exponent = 0;
  if (scientific && !v.zero()) {
    // One digit before the point; rounding may carry into a second one.
    exponent = v.point - 1;
    v.point = 1;
    v.round(decimals);
    exponent += v.point - 1;
    v.point = 1;
  } else {
    v.round(decimals);
  }
  const std::string intDigits = v.integerDigits();
  std::string fraction = v.fractionDigits(decimals);
  // Trailing zeros in "#" places after the point drop.
  while (!fraction.empty() && fraction.back() == '0' && s.tokens[fracPlaces[fraction.size() - 1]].text == "#")
    fraction.pop_back();
  std::vector<std::string> fill(s.tokens.size());
  fillPlaces(s, intPlaces, intDigits, s.group, fill);
  fillPlaces(s, expPlaces, std::to_string(exponent < 0 ? -exponent : exponent), false, fill);
  for (size_t j = 0; j < fraction.size(); ++j) fill[fracPlaces[j]] = fraction.substr(j, 1);
  std::string out;
  for (size_t k = 0; k < s.tokens.size(); ++k) {
    const Token& t = s.tokens[k];
    switch (t.kind) {
      case Token::Literal: out += t.text; break;
      case Token::Point:
        // A format without integer places still shows the integer digits.
        if (intPlaces.empty()) out += intDigits;
        out += '.';
        break;
      case Token::Exponent:
        out += t.text[0];
        if (exponent < 0) out += '-';
        else if (t.text[1] == '+') out += '+';
        break;
      case Token::Digit: out += fill[k]; break;
    }
  }
  return out;
}

}  // namespace

std::string namedFormatPattern(const std::string& format) {
  if (format == "Fixed") return "0.00";
  if (format == "Standard") return "#,##0.00";
  if (format == "Percent") return "0.00%";
  if (format == "Scientific") return "0.00E+00";
  if (format == "Currency") return "¥#,##0.00";
  return format;
}

std::string formatCellText(const std::string& format, const std::string& text) {
  if (format.empty()) return text;
  Decimal v;
  if (!parseDecimal(text, v)) return text;
  const std::vector<std::string> sections = splitSections(namedFormatPattern(format));
  if (sections.size() == 1 && !readSection(sections[0]).hasPlaceholder) return text;
  size_t which = 0;
  if (v.negative && !v.zero() && sections.size() > 1 && !sections[1].empty()) which = 1;
  if (v.zero() && sections.size() > 2 && !sections[2].empty()) which = 2;
  const Section s = readSection(sections[which]);
  const bool signByUs = v.negative && !v.zero() && which == 0;
  std::string body;
  if (s.hasPlaceholder) {
    body = applySection(s, v);
  } else {
    for (const Token& t : s.tokens) body += t.text;
  }
  // The rounded value decides whether a "-" of ours is shown.
  return signByUs && !v.zero() ? "-" + body : body;
}

}  // namespace platform
