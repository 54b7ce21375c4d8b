// Display formats of grid columns.
#include "platform/grid/vsflexgrid.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

bool parseNumber(const std::string& text, double& out) {
  size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  size_t e = text.find_last_not_of(' ');
  std::string t = text.substr(b, e - b + 1);
  char* end = nullptr;
  out = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(out)) return false;
  // strtod also takes "inf", hex and the like; a grid number is plain decimal.
  for (char c : t)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  return true;
}

std::string groupThousands(const std::string& digits) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[static_cast<size_t>(i)];
    int left = n - 1 - i;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  return out;
}

// Formats |v| with `decimals` places, at least `minInt` integer digits, grouped.
std::string fixed(double v, int decimals, int minInt, bool group, int minDecimals) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(v));
  std::string s = buf;
  std::string intPart = s, frac;
  size_t dot = s.find('.');
  if (dot != std::string::npos) {
    intPart = s.substr(0, dot);
    frac = s.substr(dot + 1);
  }
  // '#' places drop trailing zeros beyond the '0' places.
  while (static_cast<int>(frac.size()) > minDecimals && !frac.empty() && frac.back() == '0') frac.pop_back();
  if (intPart == "0" && minInt == 0) intPart.clear();
  while (static_cast<int>(intPart.size()) < minInt) intPart.insert(intPart.begin(), '0');
  if (group) intPart = groupThousands(intPart);
  std::string out = intPart;
  if (!frac.empty()) out += "." + frac;
  if (out.empty()) out = "0";
  return out;
}

}  // namespace

std::string formatCellText(const std::string& format, const std::string& text) {
  if (format.empty()) return text;
  double v = 0;
  if (!parseNumber(text, v)) return text;
  const bool negative = v < 0;
  std::string body;
  if (format == "Fixed") {
    body = fixed(v, 2, 1, false, 2);
  } else if (format == "Standard") {
    body = fixed(v, 2, 1, true, 2);
  } else if (format == "Currency") {
    body = "¥" + fixed(v, 2, 1, true, 2);
  } else if (format == "Percent") {
    body = fixed(v * 100, 2, 1, false, 2) + "%";
  } else {
    // A number pattern: [prefix] digits-pattern [suffix].
    size_t first = format.find_first_of("0#");
    if (first == std::string::npos) return text;
    size_t last = format.find_last_of("0#");
    std::string prefix = format.substr(0, first);
    std::string pattern = format.substr(first, last - first + 1);
    std::string suffix = format.substr(last + 1);
    // A '.' right after the pattern belongs to it ("0." is unusual; keep as literal).
    bool group = pattern.find(',') != std::string::npos;
    size_t dot = pattern.find('.');
    std::string intPat = dot == std::string::npos ? pattern : pattern.substr(0, dot);
    std::string fracPat = dot == std::string::npos ? std::string() : pattern.substr(dot + 1);
    int minInt = 0, decimals = 0, minDecimals = 0;
    for (char c : intPat)
      if (c == '0') ++minInt;
    for (char c : fracPat) {
      if (c == '0') ++minDecimals, ++decimals;
      else if (c == '#') ++decimals;
    }
    bool percent = suffix.find('%') != std::string::npos;
    body = prefix + fixed(percent ? v * 100 : v, decimals, minInt, group, minDecimals) + suffix;
  }
  // A value that rounds to zero is shown without its sign.
  bool allZero = body.find_first_of("123456789") == std::string::npos;
  return negative && !allZero ? "-" + body : body;
}

}  // namespace platform
