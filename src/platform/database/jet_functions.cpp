// Jet's functions and operators in the SQLite copy (see jet_sql.h).
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/collation.h"
#include "common/text_case.h"
#include "platform/database/adodb.h"
#include "platform/database/id_set.h"
#include "platform/database/jet_sql.h"
#include "platform/grid/vsflexgrid.h"

namespace ado {

const char* const kTypeMismatch = "Data type mismatch in criteria expression.";
const char* const kInvalidNull = "Invalid use of Null";
const char* const kInvalidArgument = "Invalid procedure call or argument";

namespace {

using Args = sqlite3_value**;

bool isNull(sqlite3_value* v) {
  const int t = sqlite3_value_type(v);
  return t == SQLITE_NULL || t == SQLITE_BLOB;
}
bool isText(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_TEXT; }

std::string rawText(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), std::size_t(sqlite3_value_bytes(v))) : std::string();
}

// A value as Jet turns it into text: numbers as VB writes them ("3.5", "12",
// "1E+20").
std::string textOf(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return Variant::dbl(sqlite3_value_double(v)).toText();
    default: return rawText(v);
  }
}

// A text that is a number as a whole (blanks around it allowed).
bool numericText(const std::string& s, double& out) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::size_t digits = 0;
  std::size_t j = i;
  if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
  for (; j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])); ++j) ++digits;
  if (j < s.size() && s[j] == '.')
    for (++j; j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])); ++j) ++digits;
  if (!digits) return false;
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (k >= s.size() || !std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
    j = k;
  }
  const std::size_t end = j;
  while (j < s.size() && s[j] == ' ') ++j;
  if (j != s.size()) return false;
  out = std::strtod(s.substr(i, end - i).c_str(), nullptr);
  return std::isfinite(out);
}

// A whole number argument (count, position): rounded half to even, as VB does.
// False (and the error set) when it is Null or not a number.
bool wholeArg(sqlite3_context* ctx, sqlite3_value* v, int64_t& out) {
  if (isNull(v)) {
    sqlite3_result_error(ctx, kInvalidNull, -1);
    return false;
  }
  double d = 0;
  if (isText(v)) {
    if (!numericText(rawText(v), d)) {
      sqlite3_result_error(ctx, kTypeMismatch, -1);
      return false;
    }
  } else {
    d = sqlite3_value_double(v);
  }
  if (!(std::fabs(d) < 2147483648.0)) {
    sqlite3_result_error(ctx, kInvalidArgument, -1);
    return false;
  }
  out = int64_t(std::nearbyint(d));
  return true;
}

// Byte offsets of the characters of a UTF-8 text, and its length at the end.
std::vector<std::size_t> characters(const std::string& s) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) at.push_back(i);
  at.push_back(s.size());
  return at;
}

// Characters [from, from + count) of s, both counted from 0 and cut to the text.
std::string slice(const std::string& s, int64_t from, int64_t count) {
  const std::vector<std::size_t> at = characters(s);
  const int64_t length = int64_t(at.size()) - 1;
  if (from >= length || count <= 0) return "";
  const int64_t to = std::min(length, from + count);
  return s.substr(at[std::size_t(from)], at[std::size_t(to)] - at[std::size_t(from)]);
}

void resultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), int(s.size()), SQLITE_TRANSIENT);
}

// ---------------------------------------------------------------------------
// Operators

void opAdd(sqlite3_context* ctx, int, Args argv) {
  sqlite3_value* a = argv[0];
  sqlite3_value* b = argv[1];
  if (isNull(a) || isNull(b)) return sqlite3_result_null(ctx);
  if (isText(a) && isText(b)) return resultText(ctx, rawText(a) + rawText(b));
  if (!isText(a) && !isText(b) && sqlite3_value_type(a) == SQLITE_INTEGER &&
      sqlite3_value_type(b) == SQLITE_INTEGER) {
    int64_t sum;
    if (!__builtin_add_overflow(sqlite3_value_int64(a), sqlite3_value_int64(b), &sum))
      return sqlite3_result_int64(ctx, sum);
  }
  double x = 0, y = 0;
  if (isText(a) ? !numericText(rawText(a), x) : (x = sqlite3_value_double(a), false))
    return sqlite3_result_error(ctx, kTypeMismatch, -1);
  if (isText(b) ? !numericText(rawText(b), y) : (y = sqlite3_value_double(b), false))
    return sqlite3_result_error(ctx, kTypeMismatch, -1);
  sqlite3_result_double(ctx, x + y);
}

void opJoin(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0]) && isNull(argv[1])) return sqlite3_result_null(ctx);
  resultText(ctx, (isNull(argv[0]) ? "" : textOf(argv[0])) + (isNull(argv[1]) ? "" : textOf(argv[1])));
}

// ---------------------------------------------------------------------------
// Functions

void fnNz(sqlite3_context* ctx, int argc, Args argv) {
  if (!isNull(argv[0]))
    sqlite3_result_value(ctx, argv[0]);
  else if (argc > 1)
    sqlite3_result_value(ctx, argv[1]);
  else
    sqlite3_result_int(ctx, 0);
}

void fnCase(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  const std::string s = textOf(argv[0]);
  resultText(ctx, sqlite3_user_data(ctx) ? common::upperText(s) : common::lowerText(s));
}

void fnLen(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, int64_t(characters(textOf(argv[0])).size()) - 1);
}

void fnLeftRight(sqlite3_context* ctx, int, Args argv) {
  int64_t n;
  if (!wholeArg(ctx, argv[1], n)) return;
  if (n < 0) return sqlite3_result_error(ctx, kInvalidArgument, -1);
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  const std::string s = textOf(argv[0]);
  const bool right = sqlite3_user_data(ctx) != nullptr;
  const int64_t length = int64_t(characters(s).size()) - 1;
  resultText(ctx, right ? slice(s, std::max<int64_t>(0, length - n), n) : slice(s, 0, n));
}

void fnMid(sqlite3_context* ctx, int argc, Args argv) {
  int64_t start, count = INT32_MAX;
  if (!wholeArg(ctx, argv[1], start)) return;
  if (argc > 2 && !wholeArg(ctx, argv[2], count)) return;
  if (start < 1 || count < 0) return sqlite3_result_error(ctx, kInvalidArgument, -1);
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  resultText(ctx, slice(textOf(argv[0]), start - 1, count));
}

// Trim, LTrim, RTrim take away blanks (only the blank itself).
void fnTrim(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  const intptr_t sides = reinterpret_cast<intptr_t>(sqlite3_user_data(ctx));  // 1 left, 2 right, 3 both
  std::string s = textOf(argv[0]);
  if (sides & 2) s.erase(s.find_last_not_of(' ') + 1);
  if (sides & 1) s.erase(0, std::min(s.size(), s.find_first_not_of(' ')));
  resultText(ctx, s);
}

// InStr([start,] text, sought[, compare]): the position of sought in text from
// start (1), 0 when it is not there. compare 0 tells letter case apart; the
// default, 1, does not, as Jet's text comparison (every letter with a case).
void fnInStr(sqlite3_context* ctx, int argc, Args argv) {
  int64_t start = 1, compare = 1;
  int first = 0;
  if (argc >= 3) {
    if (!wholeArg(ctx, argv[0], start)) return;
    first = 1;
    if (argc == 4 && !wholeArg(ctx, argv[3], compare)) return;
  }
  if (start < 1 || compare < 0 || compare > 2) return sqlite3_result_error(ctx, kInvalidArgument, -1);
  if (isNull(argv[first]) || isNull(argv[first + 1])) return sqlite3_result_null(ctx);
  // Texts are searched where SQLite holds them (a search runs once a row);
  // numbers as their text, kept in `held`.
  auto view = [](sqlite3_value* v, std::string& held) -> std::string_view {
    if (!isText(v)) return held = textOf(v);
    const unsigned char* t = sqlite3_value_text(v);
    return t ? std::string_view(reinterpret_cast<const char*>(t), std::size_t(sqlite3_value_bytes(v))) : std::string_view();
  };
  std::string textHeld, soughtHeld;
  std::string_view text = view(argv[first], textHeld);
  std::string_view sought = view(argv[first + 1], soughtHeld);
  // Letter case matters only where the sought text has letters with a case.
  // Folding changes no character into several, so positions stay.
  const bool mayHaveCase = std::any_of(sought.begin(), sought.end(), [](char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || static_cast<unsigned char>(ch) >= 0x80;
  });
  if (compare != 0 && mayHaveCase) {
    soughtHeld = common::foldCase(sought);
    sought = soughtHeld;
    textHeld = common::foldCase(text);
    text = textHeld;
  }
  // The byte offset of character `start`; none when the text is shorter.
  std::size_t from = 0;
  for (int64_t c = 1; c < start && from < text.size(); ++c)
    for (++from; from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80;) ++from;
  if (text.empty() || from >= text.size()) return sqlite3_result_int(ctx, 0);
  if (sought.empty()) return sqlite3_result_int64(ctx, start);
  const std::size_t found = text.find(sought, from);
  if (found == std::string_view::npos) return sqlite3_result_int(ctx, 0);
  int64_t position = 1;
  for (std::size_t i = 0; i < found; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++position;
  sqlite3_result_int64(ctx, position);
}

// A text as the code points `like` compares, letter case folded. A byte that
// is not UTF-8 stands for itself (0xDC00 + byte, which no character decodes to).
// Decoding and folding run in one pass straight into `out` (a buffer kept by
// the caller across rows), so a row costs no allocation: ASCII is lowered in
// place, Chinese characters (which have no case) pass as they are, and any
// other character the case folder reads as UTF-8 (a lead byte below F8 with
// its continuation bytes) is folded. The same sequence with a lead of F8 or
// above is still read as one code point, unfolded.
void likeCharacters(std::string_view text, std::u32string& out) {
  out.clear();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out += char32_t(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
      ++i;
      continue;
    }
    const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > size) {
      out += char32_t(0xDC00 + b);
      ++i;
      continue;
    }
    char32_t cp = n == 4 ? b & 0x07 : n == 3 ? b & 0x0F : b & 0x1F;
    bool valid = true;
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char c = s[i + k];
      valid = valid && (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid) {
      out += char32_t(0xDC00 + b);
      ++i;
      continue;
    }
    // U+3400 to U+9FFF: the CJK ideographs (and the Yijing signs among them).
    const bool caseless = cp >= 0x3400 && cp <= 0x9FFF;
    out += b < 0xF8 && !caseless ? common::foldCharacter(cp) : cp;
    i += n;
  }
}

// A pattern of `like`, read once a statement: characters, and the wildcards %
// (any run) and _ (any one character), unless the escape character stands
// before them.
struct LikePattern {
  static constexpr char32_t kAnyRun = 0xFFFFFFFF, kAnyOne = 0xFFFFFFFE;
  std::u32string items;
  // For "%text%" whose characters are ASCII or caseless ideographs (the
  // name search's patterns): the text in UTF-8, ASCII in lower case.
  std::string inner;
  static void drop(void* p) { delete static_cast<LikePattern*>(p); }
};

// Whether `inner` is in `text`, as likeMatches finds "%inner%" in the
// characters of `text`; nullopt when this cannot be told from the bytes.
// ASCII bytes are always characters of their own in UTF-8, and a whole
// character's bytes cannot start inside another character, so the bytes of
// `inner` are found exactly where its characters are. Letter case is folded
// by lowering ASCII, which is all the folding there is for these characters,
// except for the two characters that fold into ASCII: long s (C5 BF) and the
// Kelvin sign (E2 84 AA), for which the characters are compared. With
// `halfWidth`, the text is compared as StrConv(text, 8) gives it: a match
// found among its own characters is one there too (the half-width form
// changes none of the characters of `inner`), and a text with full-width
// forms that shows none is compared in its half-width form. One pass, no copy.
std::optional<bool> containsFolded(std::string_view text, const std::string& inner, bool halfWidth) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const auto* p = reinterpret_cast<const unsigned char*>(inner.data());
  const std::size_t n = text.size(), m = inner.size();
  const auto lower = [](unsigned char b) { return b >= 'A' && b <= 'Z' ? (unsigned char)(b - 'A' + 'a') : b; };
  bool undecided = false;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = s[i];
    if (b >= 0x80) {
      const bool longS = b == 0xC5 && i + 1 < n && s[i + 1] == 0xBF;
      const bool kelvin = b == 0xE2 && i + 2 < n && s[i + 1] == 0x84 && s[i + 2] == 0xAA;
      const bool wide = halfWidth && (b == 0xEF || (b == 0xE3 && i + 2 < n && s[i + 1] == 0x80 && s[i + 2] == 0x80));
      undecided = undecided || longS || kelvin || wide;
    }
    if (lower(b) == p[0] && n - i >= m) {
      std::size_t k = 1;
      while (k < m && lower(s[i + k]) == p[k]) ++k;
      if (k == m) return true;
    }
  }
  if (undecided) return std::nullopt;
  return false;
}

LikePattern* readPattern(std::string_view text, char32_t escape) {
  std::u32string chars;
  likeCharacters(text, chars);
  auto* p = new LikePattern;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (escape && c == escape && i + 1 < chars.size()) p->items += chars[++i];
    else if (c == '%') p->items += LikePattern::kAnyRun;
    else if (c == '_') p->items += LikePattern::kAnyOne;
    else p->items += c;
  }
  const std::u32string& items = p->items;
  if (items.size() >= 3 && items.front() == LikePattern::kAnyRun && items.back() == LikePattern::kAnyRun) {
    std::string inner;
    for (std::size_t i = 1; i + 1 < items.size(); ++i) {
      const char32_t c = items[i];
      if (c < 0x80) {
        inner += char(c);
      } else if (c >= 0x3400 && c <= 0x9FFF) {  // three bytes in UTF-8
        inner += char(0xE0 | (c >> 12));
        inner += char(0x80 | ((c >> 6) & 0x3F));
        inner += char(0x80 | (c & 0x3F));
      } else {
        return p;  // a wildcard, a letter of another script, a stray byte
      }
    }
    p->inner = std::move(inner);
  }
  return p;
}

// Wildcard matching that goes back only to the last % (time bounded by the
// pattern's length times the text's).
bool likeMatches(const std::u32string& p, const std::u32string& t) {
  std::size_t pi = 0, ti = 0, starP = std::u32string::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == LikePattern::kAnyRun) {
      starP = pi++;
      starT = ti;
    } else if (pi < p.size() && (p[pi] == LikePattern::kAnyOne || p[pi] == t[ti])) {
      ++pi, ++ti;
    } else if (starP != std::u32string::npos) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == LikePattern::kAnyRun) ++pi;
  return pi == p.size();
}

// The pattern of a like, read at its first row (argument `at`, a constant
// of the statement) and kept by the engine for the others; nullptr after
// reporting a failure.
LikePattern* patternOf(sqlite3_context* ctx, int at, Args argv, char32_t escape) {
  auto* pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, at));
  if (!pattern) {
    pattern = readPattern(textOf(argv[at]), escape);
    sqlite3_set_auxdata(ctx, at, pattern, LikePattern::drop);
    pattern = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, at));
    if (!pattern) sqlite3_result_error_nomem(ctx);
  }
  return pattern;
}

// Whether the text (UTF-8) matches the pattern.
bool likeText(const LikePattern& pattern, std::string_view bytes) {
  if (!pattern.inner.empty())
    if (const std::optional<bool> found = containsFolded(bytes, pattern.inner, false)) return *found;
  thread_local std::u32string text;
  likeCharacters(bytes, text);
  return likeMatches(pattern.items, text);
}

std::string_view valueBytes(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return std::string_view(reinterpret_cast<const char*>(t), std::size_t(sqlite3_value_bytes(v)));
}

// like(pattern, text[, escape]), SQLite's form of "text like pattern": Jet's
// text comparison ignores the case of every letter that has one (Φ16 is found
// by φ16), where SQLite's own like knows only ASCII.
void fnLike(sqlite3_context* ctx, int argc, Args argv) {
  if (isNull(argv[0]) || isNull(argv[1]) || (argc > 2 && isNull(argv[2]))) return sqlite3_result_null(ctx);
  char32_t escape = 0;
  if (argc > 2) {
    std::u32string e;
    likeCharacters(textOf(argv[2]), e);
    if (e.size() != 1) return sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
    escape = e[0];
  }
  const LikePattern* pattern = patternOf(ctx, 0, argv, escape);
  if (!pattern) return;
  const bool found = isText(argv[1]) ? likeText(*pattern, valueBytes(argv[1])) : likeText(*pattern, textOf(argv[1]));
  sqlite3_result_int(ctx, found ? 1 : 0);
}

// Whether a text holds full-width forms (U+FF01 to U+FF5E, all behind the
// byte EF, or the ideographic space E3 80 80): what StrConv(…, 8) changes.
bool hasWideForms(std::string_view t) {
  for (std::size_t i = 0; i < t.size(); ++i)
    if (t[i] == '\xEF' || (t[i] == '\xE3' && i + 2 < t.size() && t[i + 1] == '\x80' && t[i + 2] == '\x80')) return true;
  return false;
}

// jet_narrow_like(text, pattern): "StrConv(text, 8) like pattern" in one
// step, as the translation writes the name search. A text without
// full-width forms is compared as it is, without a copy.
void fnNarrowLike(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0]) || isNull(argv[1])) return sqlite3_result_null(ctx);
  const LikePattern* pattern = patternOf(ctx, 1, argv, 0);
  if (!pattern) return;
  std::optional<bool> found;
  if (isText(argv[0]) && !pattern->inner.empty()) found = containsFolded(valueBytes(argv[0]), pattern->inner, true);
  if (!found && isText(argv[0]) && !hasWideForms(valueBytes(argv[0]))) found = likeText(*pattern, valueBytes(argv[0]));
  if (!found) found = likeText(*pattern, common::narrowText(textOf(argv[0])));
  sqlite3_result_int(ctx, *found ? 1 : 0);
}

// StrConv(text, conversion): 1 upper case, 2 lower case, 4 full-width, 8
// half-width; a case and a width may be added (9 = upper and half-width).
void fnStrConv(sqlite3_context* ctx, int, Args argv) {
  int64_t how;
  if (!wholeArg(ctx, argv[1], how)) return;
  const int64_t letterCase = how & 3, width = how & ~int64_t(3);
  if (letterCase == 3 || (width != 0 && width != 4 && width != 8))
    return sqlite3_result_error(ctx, kInvalidArgument, -1);
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  // A text without full-width forms is its own half-width form.
  if (width == 8 && letterCase == 0 && isText(argv[0]) && !hasWideForms(valueBytes(argv[0])))
    return sqlite3_result_value(ctx, argv[0]);
  std::string s = textOf(argv[0]);
  if (width == 8) s = common::narrowText(s);
  if (width == 4) s = common::wideText(s);
  if (letterCase == 1) s = common::upperText(s);
  if (letterCase == 2) s = common::lowerText(s);
  resultText(ctx, s);
}

void fnIIf(sqlite3_context* ctx, int, Args argv) {
  bool truth = false;
  if (isText(argv[0])) {
    double d;
    if (!numericText(rawText(argv[0]), d)) return sqlite3_result_error(ctx, kTypeMismatch, -1);
    truth = d != 0;
  } else if (!isNull(argv[0])) {
    truth = sqlite3_value_double(argv[0]) != 0;
  }
  sqlite3_result_value(ctx, truth ? argv[1] : argv[2]);
}

// Format(value[, format]): numbers through the grid's number formats; a text
// that is no number comes back as it is.
void fnFormat(sqlite3_context* ctx, int argc, Args argv) {
  // Jet's Format takes up to four arguments (the last two, the first day of
  // the week and of the year, matter to dates only).
  if (argc < 1 || argc > 4) return sqlite3_result_error(ctx, kInvalidArgument, -1);
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  const std::string text = textOf(argv[0]);
  if (argc < 2 || isNull(argv[1])) return resultText(ctx, text);
  resultText(ctx, platform::formatCellText(textOf(argv[1]), text));
}

// Val: the number at the start of a text; blanks anywhere are passed over,
// "&H" and "&O" start hexadecimal and octal numbers; no number gives 0.
void fnVal(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0])) return sqlite3_result_error(ctx, kInvalidNull, -1);
  std::string s;
  for (char c : textOf(argv[0]))
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    return sqlite3_result_double(ctx, double(std::strtoll(s.c_str() + 2, nullptr, base)));
  }
  std::size_t j = 0;
  std::string number;
  if (j < s.size() && (s[j] == '+' || s[j] == '-')) number += s[j++];
  bool dot = false;
  for (; j < s.size(); ++j) {
    if (std::isdigit(static_cast<unsigned char>(s[j]))) number += s[j];
    else if (s[j] == '.' && !dot) dot = true, number += '.';
    else break;
  }
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E' || s[j] == 'd' || s[j] == 'D')) {
    std::string exp = "e";
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) exp += s[k++];
    const std::size_t digitsFrom = k;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) exp += s[k++];
    if (k > digitsFrom) number += exp;
  }
  const double d = std::strtod(number.c_str(), nullptr);
  sqlite3_result_double(ctx, std::isfinite(d) ? d : 0.0);
}

// Str: a number as text with a blank in place of a plus sign, and no 0 before
// the decimal point (" 12", "-3.5", " .5").
void fnStr(sqlite3_context* ctx, int, Args argv) {
  if (isNull(argv[0])) return sqlite3_result_null(ctx);
  double d = 0;
  std::string s;
  if (isText(argv[0])) {
    if (!numericText(rawText(argv[0]), d)) return sqlite3_result_error(ctx, kTypeMismatch, -1);
    s = Variant::dbl(d).toText();
  } else {
    s = textOf(argv[0]);
  }
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  if (s.size() > 1 && s[0] == '0' && s[1] == '.') s.erase(0, 1);
  resultText(ctx, (negative ? "-" : " ") + s);
}

int collate(void*, int na, const void* a, int nb, const void* b) {
  return common::collateText(std::string_view(static_cast<const char*>(a), std::size_t(na)),
                             std::string_view(static_cast<const char*>(b), std::size_t(nb)));
}

// ---------------------------------------------------------------------------
// Sets of ids (id_set.h). The code: the ids ascending, the first as a
// zigzag varint and each next one as its (positive) distance from the one
// before, the bytes written in base64's URL alphabet (no "+", which the
// translation would read as an operator), without padding.

constexpr char kCodeLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int codeValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

void putVarint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out += char(uint8_t(v) | 0x80);
    v >>= 7;
  }
  out += char(uint8_t(v));
}

// The set held by a running statement, decoded once (the code is a constant
// of the statement).
struct DecodedSet {
  std::vector<long long> ids;
};

void fnIdIn(sqlite3_context* ctx, int, Args argv) {
  auto* set = static_cast<DecodedSet*>(sqlite3_get_auxdata(ctx, 1));
  std::unique_ptr<DecodedSet> own;
  if (!set) {
    own = std::make_unique<DecodedSet>();
    const char* code = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    if (sqlite3_value_type(argv[1]) != SQLITE_TEXT || !code ||
        !decodeIdSet(std::string_view(code, std::size_t(sqlite3_value_bytes(argv[1]))), own->ids))
      return sqlite3_result_error(ctx, kInvalidArgument, -1);
    // Kept with the statement for its next rows. Should the engine not keep
    // it (no memory), it has freed it, and this row reads the code again.
    sqlite3_set_auxdata(ctx, 1, own.release(), [](void* p) { delete static_cast<DecodedSet*>(p); });
    set = static_cast<DecodedSet*>(sqlite3_get_auxdata(ctx, 1));
    if (!set) {
      own = std::make_unique<DecodedSet>();
      decodeIdSet(std::string_view(code, std::size_t(sqlite3_value_bytes(argv[1]))), own->ids);
      set = own.get();
    }
  }
  long long id = 0;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL: return sqlite3_result_null(ctx);
    case SQLITE_INTEGER: id = sqlite3_value_int64(argv[0]); break;
    case SQLITE_FLOAT: {
      const double d = sqlite3_value_double(argv[0]);
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || double(static_cast<long long>(d)) != d)
        return sqlite3_result_int(ctx, 0);
      id = static_cast<long long>(d);
      break;
    }
    default: return sqlite3_result_int(ctx, 0);  // a text or blob equals no number
  }
  sqlite3_result_int(ctx, std::binary_search(set->ids.begin(), set->ids.end(), id) ? 1 : 0);
}

struct Function {
  const char* name;
  int args;
  void (*fn)(sqlite3_context*, int, Args);
  intptr_t data;
};

const Function kFunctions[] = {
    {"jet_add", 2, opAdd, 0},       {"jet_join", 2, opJoin, 0},   {"nz", 1, fnNz, 0},
    {"nz", 2, fnNz, 0},             {"ucase", 1, fnCase, 1},      {"lcase", 1, fnCase, 0},
    {"len", 1, fnLen, 0},           {"jet_left", 2, fnLeftRight, 0}, {"jet_right", 2, fnLeftRight, 1},
    {"mid", 2, fnMid, 0},           {"mid", 3, fnMid, 0},         {"trim", 1, fnTrim, 3},
    {"ltrim", 1, fnTrim, 1},        {"rtrim", 1, fnTrim, 2},      {"instr", 2, fnInStr, 0},
    {"instr", 3, fnInStr, 0},       {"instr", 4, fnInStr, 0},     {"iif", 3, fnIIf, 0},
    {"format", -1, fnFormat, 0},    {"val", 1, fnVal, 0},
    {"str", 1, fnStr, 0},           {"like", 2, fnLike, 0},       {"like", 3, fnLike, 0},
    {"strconv", 2, fnStrConv, 0},   {"jet_narrow_like", 2, fnNarrowLike, 0},
    {"jet_id_in", 2, fnIdIn, 0},
};

// SQLite's own that Jet has too, and what the translation writes.
const char* const kEngineFunctions[] = {"count", "sum", "avg", "min", "max", "abs", "likelihood",
                                         "jet_currency_sum", "jet_currency_avg"};

}  // namespace

void registerJetFunctions(sqlite3* db) {
  for (const Function& f : kFunctions)
    sqlite3_create_function(db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, reinterpret_cast<void*>(f.data),
                            f.fn, nullptr, nullptr);
  sqlite3_create_collation(db, kTextCollation, SQLITE_UTF8, nullptr, collate);
}

bool knownFunction(const std::string& name) {
  const std::string n = common::asciiLower(name);
  for (const Function& f : kFunctions)
    if (n == f.name) return true;
  for (const char* f : kEngineFunctions)
    if (n == f) return true;
  return false;
}

std::string idSetCondition(const std::string& column, std::vector<long long> ids, bool member) {
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  std::string bytes;
  for (std::size_t k = 0; k < ids.size(); ++k) {
    if (k == 0) {
      const uint64_t v = uint64_t(ids[0]);
      putVarint(bytes, (v << 1) ^ (ids[0] < 0 ? ~uint64_t(0) : 0));
    } else {
      putVarint(bytes, uint64_t(ids[k]) - uint64_t(ids[k - 1]));
    }
  }
  std::string code;
  code.reserve((bytes.size() * 4 + 2) / 3);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    uint32_t w = 0;
    for (std::size_t j = 0; j < 3; ++j) w = (w << 8) | (j < n ? uint8_t(bytes[i + j]) : 0u);
    for (std::size_t j = 0; j <= n; ++j) code += kCodeLetters[(w >> (18 - 6 * j)) & 63];
  }
  return "jet_id_in(" + column + ", '" + code + "') = " + (member ? "1" : "0");
}

bool decodeIdSet(std::string_view code, std::vector<long long>& ids) {
  ids.clear();
  if (code.size() % 4 == 1) return false;
  std::string bytes;
  bytes.reserve(code.size() * 3 / 4);
  for (std::size_t i = 0; i < code.size(); i += 4) {
    const std::size_t n = std::min<std::size_t>(4, code.size() - i);
    uint32_t w = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const int v = j < n ? codeValue(code[i + j]) : 0;
      if (v < 0) return false;
      w = (w << 6) | uint32_t(v);
    }
    for (std::size_t j = 0; j + 1 < n; ++j) bytes += char(uint8_t(w >> (16 - 8 * j)));
  }
  uint64_t value = 0;
  int shift = 0;
  bool first = true;
  uint64_t last = 0;
  for (const char ch : bytes) {
    const uint8_t b = uint8_t(ch);
    if (shift > 63) return false;
    value |= uint64_t(b & 0x7f) << shift;
    shift += 7;
    if (b & 0x80) continue;
    if (first) {
      last = (value >> 1) ^ (value & 1 ? ~uint64_t(0) : 0);
      first = false;
    } else {
      if (value == 0) return false;  // ascending, without repeats
      const uint64_t next = last + value;
      if (static_cast<long long>(next) <= static_cast<long long>(last)) return false;
      last = next;
    }
    ids.push_back(static_cast<long long>(last));
    value = 0;
    shift = 0;
  }
  return shift == 0;
}

}  // namespace ado
