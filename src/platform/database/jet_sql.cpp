// Jet's SQL turned into SQLite's. One pass over the text changes what is
// written differently (literals, keywords, functions whose names SQLite
// reserves); a second pass gives "+" and "&" their Jet meanings by turning each
// into a call of the engine's function over its two operands, found by Jet's
// operator precedence.
#include <cctype>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/dates.h"
#include "common/text_case.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_sql.h"

namespace ado {

bool identStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool identChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80 || c == '$'; }

namespace {

using common::asciiLower;
using common::daysFromCivil;

// "#2024-01-31#", "#1/31/2024#", with an optional "hh:mm[:ss]" (and AM/PM).
bool parseDateLiteral(const std::string& s, double& out) {
  int a = 0, b = 0, c = 0, hh = 0, mi = 0, ss = 0;
  char sep = 0;
  int consumed = 0;
  if (std::sscanf(s.c_str(), " %d%c%d%*c%d%n", &a, &sep, &b, &c, &consumed) < 4) return false;
  int y, m, d;
  if (sep == '-' && a > 31) {
    y = a, m = b, d = c;
  } else if (sep == '/') {
    m = a, d = b, y = c;
  } else {
    return false;
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  std::string rest = s.substr(std::size_t(consumed));
  if (rest.find(':') != std::string::npos) {
    if (std::sscanf(rest.c_str(), " %d:%d:%d", &hh, &mi, &ss) < 2) return false;
    const std::string up = common::asciiUpper(rest);
    if (up.find("PM") != std::string::npos && hh < 12) hh += 12;
    if (up.find("AM") != std::string::npos && hh == 12) hh = 0;
  }
  double days = double(daysFromCivil(y, unsigned(m), unsigned(d)) - daysFromCivil(1899, 12, 30));
  double frac = (hh * 3600 + mi * 60 + ss) / 86400.0;
  out = days >= 0 ? days + frac : days - frac;
  return true;
}

// Where the name just written to `out` ("col", "T.col", "[T].[a col]") starts,
// or npos when `out` does not end in a plain name.
std::size_t nameStart(const std::string& out, std::size_t end) {
  while (end > 0 && std::isspace(static_cast<unsigned char>(out[end - 1]))) --end;
  std::size_t i = end;
  while (i > 0) {
    const char c = out[i - 1];
    if (c == ']') {
      const std::size_t open = out.rfind('[', i - 1);
      if (open == std::string::npos) return std::string::npos;
      i = open;
    } else if (identChar(static_cast<unsigned char>(c)) || c == '.') {
      --i;
    } else {
      break;
    }
  }
  if (i == end || out[i] == '.' || std::isdigit(static_cast<unsigned char>(out[i]))) return std::string::npos;
  const std::string name = asciiLower(out.substr(i, end - i));
  if (name == "not" || name == "where" || name == "and" || name == "or") return std::string::npos;
  return i;
}

// Where the call of one of Jet's functions on a name just written to `out`
// ("StrConv(T.col, 8)", "LCase([a col])") starts, or npos when `out` does not
// end in one. Its first argument is a plain name; texts in quotes and brackets
// in the arguments are skipped.
std::size_t callStart(const std::string& out) {
  std::size_t end = out.size();
  while (end > 0 && std::isspace(static_cast<unsigned char>(out[end - 1]))) --end;
  if (end == 0 || out[end - 1] != ')') return std::string::npos;
  int depth = 0;
  std::size_t i = end;
  while (i > 0) {
    const char c = out[--i];
    if (c == '\'' || c == ']') {
      if (i == 0) return std::string::npos;
      const std::size_t open = out.rfind(c == ']' ? '[' : '\'', i - 1);
      if (open == std::string::npos) return std::string::npos;
      i = open;
    } else if (c == ')') {
      ++depth;
    } else if (c == '(' && --depth == 0) {
      break;
    }
  }
  if (depth != 0) return std::string::npos;
  const std::size_t open = i;
  // The first argument: a plain name up to the first comma or the closing bracket.
  std::size_t argEnd = open + 1;
  while (argEnd < end - 1 && out[argEnd] != ',') {
    if (out[argEnd] == '[') {
      const std::size_t close = out.find(']', argEnd);
      if (close == std::string::npos) return std::string::npos;
      argEnd = close;
    }
    ++argEnd;
  }
  const std::size_t arg = nameStart(out, argEnd);
  if (arg == std::string::npos) return std::string::npos;
  for (std::size_t k = open + 1; k < arg; ++k)
    if (!std::isspace(static_cast<unsigned char>(out[k]))) return std::string::npos;
  std::size_t f = open;
  while (f > 0 && identChar(static_cast<unsigned char>(out[f - 1]))) --f;
  if (f == open || !identStart(static_cast<unsigned char>(out[f])) || !knownFunction(out.substr(f, open - f)))
    return std::string::npos;
  return f;
}

// Where the left side of a "like" just written to `out` starts, when it is a
// name or one of Jet's functions of a name, and nothing before it binds more
// tightly than "like": it follows "(", ",", or a word of the statement's
// conditions. Otherwise npos.
std::size_t operandStart(const std::string& out) {
  std::size_t start = nameStart(out, out.size());
  if (start == std::string::npos) start = callStart(out);
  if (start == std::string::npos) return start;
  std::size_t before = start;
  while (before > 0 && std::isspace(static_cast<unsigned char>(out[before - 1]))) --before;
  if (before == 0 || out[before - 1] == '(' || out[before - 1] == ',') return start;
  std::size_t w = before;
  while (w > 0 && identChar(static_cast<unsigned char>(out[w - 1]))) --w;
  const std::string word = asciiLower(out.substr(w, before - w));
  for (const char* k : {"where", "and", "or", "not", "on", "having", "select", "when", "then", "else"})
    if (word == k) return start;
  return std::string::npos;
}

// Whether the next thing after `at`, blanks skipped, is `c`.
bool nextIs(const std::string& in, std::size_t at, char c) {
  while (at < in.size() && std::isspace(static_cast<unsigned char>(in[at]))) ++at;
  return at < in.size() && in[at] == c;
}

// Whether the statement goes on at `at` with a quoted pattern that starts with a
// wildcard and ends the comparison (no "&" or "escape" after it).
bool wildcardPatternFollows(const std::string& in, std::size_t at) {
  while (at < in.size() && std::isspace(static_cast<unsigned char>(in[at]))) ++at;
  if (at + 1 >= in.size() || (in[at] != '\'' && in[at] != '"')) return false;
  const char quote = in[at];
  if (in[at + 1] != '%' && in[at + 1] != '_') return false;
  std::size_t j = at + 1;
  while (j < in.size()) {
    if (in[j] == quote) {
      if (j + 1 < in.size() && in[j + 1] == quote) {
        j += 2;
        continue;
      }
      break;
    }
    ++j;
  }
  if (j >= in.size()) return false;
  ++j;
  while (j < in.size() && std::isspace(static_cast<unsigned char>(in[j]))) ++j;
  if (j < in.size() && (in[j] == '&' || in[j] == '|' || in[j] == '+')) return false;
  return asciiLower(in.substr(j, 6)) != "escape";
}

// The name X when `call` (a call callStart found) is "StrConv(X, 8)";
// otherwise "".
std::string narrowedName(const std::string& call) {
  const std::size_t open = call.find('(');
  std::size_t nameEnd = open;
  while (nameEnd > 0 && std::isspace(static_cast<unsigned char>(call[nameEnd - 1]))) --nameEnd;
  if (open == std::string::npos || asciiLower(call.substr(0, nameEnd)) != "strconv") return "";
  std::size_t comma = open + 1;
  while (comma < call.size() && call[comma] != ',') {
    if (call[comma] == '[') comma = call.find(']', comma);
    if (comma == std::string::npos) return "";
    ++comma;
  }
  const std::size_t close = call.rfind(')');
  if (comma >= call.size() || close == std::string::npos || close < comma) return "";
  auto trimmed = [](std::string t) {
    const std::size_t b = t.find_first_not_of(" \t\r\n");
    const std::size_t e = t.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
  };
  if (trimmed(call.substr(comma + 1, close - comma - 1)) != "8") return "";
  return trimmed(call.substr(open + 1, comma - open - 1));
}

}  // namespace

std::string translateJetText(const std::string& in) {
  std::string out;
  out.reserve(in.size() + 16);
  std::string limit;
  std::string prevWord;  // last keyword-like word, lower case
  bool closeLikelihood = false;  // after the next text literal
  bool closeCall = false;        // and the call before it
  auto literalDone = [&] {
    if (closeLikelihood) out += closeCall ? "), 0.05)" : ", 0.05)";
    closeLikelihood = closeCall = false;
  };
  const std::size_t n = in.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '\'') {
      std::size_t j = i + 1;
      while (j < n) {
        if (in[j] == '\'') {
          if (j + 1 < n && in[j + 1] == '\'') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      out.append(in, i, std::min(j + 1, n) - i);
      i = j + 1;
      literalDone();
      prevWord.clear();
    } else if (c == '"') {
      // Jet: a double-quoted text is a literal.
      std::string lit = "'";
      std::size_t j = i + 1;
      while (j < n) {
        if (in[j] == '"') {
          if (j + 1 < n && in[j + 1] == '"') {
            lit += '"';
            j += 2;
            continue;
          }
          break;
        }
        if (in[j] == '\'') lit += '\'';
        lit += in[j];
        ++j;
      }
      out += lit;
      if (j < n) out += '\'';
      i = j + 1;
      literalDone();
      prevWord.clear();
    } else if (c == '[') {
      std::size_t j = in.find(']', i);
      if (j == std::string::npos) j = n - 1;
      out.append(in, i, j + 1 - i);
      i = j + 1;
      prevWord.clear();
    } else if (c == '#') {
      std::size_t j = in.find('#', i + 1);
      double v;
      if (j != std::string::npos && parseDateLiteral(in.substr(i + 1, j - i - 1), v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        out += buf;
        i = j + 1;
      } else {
        out += in[i++];
      }
      prevWord.clear();
    } else if (identStart(c)) {
      std::size_t j = i;
      while (j < n && identChar(static_cast<unsigned char>(in[j]))) ++j;
      std::string word = in.substr(i, j - i);
      std::string lw = asciiLower(word);
      bool qualified = i > 0 && in[i - 1] == '.';
      if (!qualified && lw == "true") {
        out += "-1";
      } else if (!qualified && lw == "false") {
        out += "0";
      } else if (!qualified && lw == "like" && !closeLikelihood && wildcardPatternFollows(in, j) &&
                 operandStart(out) != std::string::npos) {
        const std::size_t start = operandStart(out);
        const std::string narrowed = narrowedName(out.substr(start));
        if (!narrowed.empty()) {
          // The name search's "StrConv(X, 8) like": one call, so that a
          // name is not copied to be compared.
          out = out.substr(0, start) + "likelihood(jet_narrow_like(" + narrowed + ",";
          closeCall = true;
        } else {
          out.insert(start, "likelihood(");
          out += word;
        }
        closeLikelihood = true;
      } else if (!qualified && (lw == "left" || lw == "right") && nextIs(in, j, '(')) {
        // Left( and Right( are functions in Jet; in SQLite the words belong to joins.
        out += "jet_" + lw;
      } else if (!qualified && lw == "distinctrow") {
        out += "DISTINCT";
        lw = "distinct";
      } else if (!qualified && lw == "top" && (prevWord == "select" || prevWord == "distinct")) {
        std::size_t k = j;
        while (k < n && std::isspace(static_cast<unsigned char>(in[k]))) ++k;
        std::size_t e = k;
        while (e < n && std::isdigit(static_cast<unsigned char>(in[e]))) ++e;
        if (e > k) {
          limit = in.substr(k, e - k);
          j = e;
        } else {
          out += word;
        }
      } else {
        out += word;
      }
      prevWord = lw;
      i = j;
    } else {
      if (!std::isspace(c)) prevWord.clear();
      out += in[i++];
    }
  }
  if (!limit.empty()) out += " LIMIT " + limit;
  return out;
}

// ---------------------------------------------------------------------------
// "+" and "&"

namespace {

struct Token {
  enum Kind { Blank, Text, Number, Name, Word, Open, Close, Op, Comma, Other } kind;
  std::size_t begin, end;  // in the statement
};

// Words that end an operand: everything of lower precedence than the
// operators, and the clauses around expressions.
bool stopWord(const std::string& w) {
  static const char* const words[] = {
      "select", "from",  "where", "and",   "or",     "not",    "like",   "is",      "in",     "between",
      "on",     "join",  "inner", "outer", "left",   "right",  "cross",  "natural", "full",   "as",
      "order",  "group", "by",    "having", "asc",   "desc",   "limit",  "offset",  "union",  "all",
      "distinct", "escape", "exists", "glob", "regexp", "match", "when", "then",    "else",   "end",
      "case",   "collate", "isnull", "notnull", "into", "set",  "values", "except",  "intersect"};
  for (const char* k : words)
    if (w == k) return true;
  return false;
}

std::vector<Token> tokenize(const std::string& s) {
  std::vector<Token> out;
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t j = i + 1;
    Token::Kind kind = Token::Other;
    if (std::isspace(c)) {
      while (j < n && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
      kind = Token::Blank;
    } else if (c == '\'' || c == '"') {
      while (j < n && !(s[j] == char(c) && !(j + 1 < n && s[j + 1] == char(c)))) j += s[j] == char(c) ? 2 : 1;
      j = std::min(j + 1, n);
      kind = c == '\'' ? Token::Text : Token::Name;
    } else if (c == '[') {
      const std::size_t close = s.find(']', i);
      j = close == std::string::npos ? n : close + 1;
      kind = Token::Name;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      while (j < n && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.' ||
                       ((s[j] == '+' || s[j] == '-') && (s[j - 1] == 'e' || s[j - 1] == 'E'))))
        ++j;
      kind = Token::Number;
    } else if (identStart(c)) {
      while (j < n && identChar(static_cast<unsigned char>(s[j]))) ++j;
      kind = stopWord(asciiLower(s.substr(i, j - i))) ? Token::Word : Token::Name;
    } else if (c == '(') {
      kind = Token::Open;
    } else if (c == ')') {
      kind = Token::Close;
    } else if (c == ',') {
      kind = Token::Comma;
    } else if (std::strchr("+-*/%&|<>=!~", char(c))) {
      if (j < n && std::strchr("|<>=", s[j]) && !(c == '&' || c == '+' || c == '-' || c == '*' || c == '/')) ++j;
      kind = Token::Op;
    }
    // "T.col", "[T].[a b]", "f.x": one name.
    if (kind == Token::Name && !out.empty() && out.back().kind == Token::Other && s[out.back().begin] == '.' &&
        out.size() >= 2 && out[out.size() - 2].kind == Token::Name) {
      out.pop_back();
      out.back().end = j;
    } else {
      out.push_back({kind, i, j});
    }
    i = j;
  }
  return out;
}

// Operators by binding, higher binds tighter: "*" "/" "%" 3, "+" "-" 2, "&" 1;
// comparisons and anything else 0.
int precedence(const std::string& s, const Token& t) {
  if (t.kind != Token::Op) return 0;
  const std::string op = s.substr(t.begin, t.end - t.begin);
  if (op == "*" || op == "/" || op == "%") return 3;
  if (op == "+" || op == "-") return 2;
  if (op == "&") return 1;
  return 0;
}

bool isOp(const std::string& s, const Token& t, const char* op) {
  return t.kind == Token::Op && s.compare(t.begin, t.end - t.begin, op) == 0;
}

bool isWord(const std::string& s, const Token& t, const char* w) {
  return t.kind == Token::Word && asciiLower(s.substr(t.begin, t.end - t.begin)) == w;
}

// Whether the operator at k stands between two operands (and is not a sign).
bool binaryAt(const std::string& s, const std::vector<Token>& t, std::size_t k) {
  std::size_t p = k;
  while (p > 0 && t[p - 1].kind == Token::Blank) --p;
  if (p == 0) return false;
  const Token& before = t[p - 1];
  return before.kind == Token::Text || before.kind == Token::Number || before.kind == Token::Name ||
         before.kind == Token::Close || isWord(s, before, "end");
}

// The matching bracket of the one at k, walking in `step` direction.
std::size_t matching(const std::vector<Token>& t, std::size_t k, int step) {
  int depth = 0;
  for (std::size_t i = k; i < t.size(); i += std::size_t(step)) {
    if (t[i].kind == Token::Open) depth += step;
    if (t[i].kind == Token::Close) depth -= step;
    if (depth == 0) return i;
    if (i == 0 && step < 0) break;
  }
  return std::string::npos;
}

// Start of the left operand of the operator at k, whose precedence is `level`:
// everything before it that binds at least as tight.
std::size_t leftOperand(const std::string& s, const std::vector<Token>& t, std::size_t k, int level) {
  std::size_t i = k;
  std::size_t start = k;
  while (i > 0) {
    const Token& x = t[i - 1];
    if (x.kind == Token::Blank) {
      --i;
      continue;
    }
    if (x.kind == Token::Close) {
      const std::size_t open = matching(t, i - 1, -1);
      if (open == std::string::npos) break;
      i = open;
      start = i;
      if (i > 0 && t[i - 1].kind == Token::Name) start = --i;  // a function call
      continue;
    }
    if (isWord(s, x, "end")) {  // case ... end
      int depth = 0;
      std::size_t j = i - 1;
      for (;; --j) {
        if (isWord(s, t[j], "end")) ++depth;
        if (isWord(s, t[j], "case") && --depth == 0) break;
        if (j == 0) return start;
      }
      i = start = j;
      continue;
    }
    if (x.kind == Token::Text || x.kind == Token::Number || x.kind == Token::Name ||
        (x.kind == Token::Op && precedence(s, x) >= level)) {
      start = --i;
      continue;
    }
    break;
  }
  return start;
}

// End (one past) of the right operand of the operator at k: everything after
// it that binds tighter, with the signs in front of it.
std::size_t rightOperand(const std::string& s, const std::vector<Token>& t, std::size_t k, int level) {
  std::size_t i = k + 1;
  std::size_t end = i;
  bool wantOperand = true;
  while (i < t.size()) {
    const Token& x = t[i];
    if (x.kind == Token::Blank) {
      ++i;
      continue;
    }
    if (wantOperand) {
      if (x.kind == Token::Op && (isOp(s, x, "-") || isOp(s, x, "+"))) {  // a sign
        ++i;
        continue;
      }
      if (x.kind == Token::Open) {
        const std::size_t close = matching(t, i, 1);
        if (close == std::string::npos) return t.size();
        i = end = close + 1;
      } else if (x.kind == Token::Name && i + 1 < t.size() && t[i + 1].kind == Token::Open) {
        const std::size_t close = matching(t, i + 1, 1);
        if (close == std::string::npos) return t.size();
        i = end = close + 1;
      } else if (isWord(s, x, "case")) {
        int depth = 0;
        std::size_t j = i;
        for (; j < t.size(); ++j) {
          if (isWord(s, t[j], "case")) ++depth;
          if (isWord(s, t[j], "end") && --depth == 0) break;
        }
        if (j >= t.size()) return t.size();
        i = end = j + 1;
      } else if (x.kind == Token::Text || x.kind == Token::Number || x.kind == Token::Name) {
        i = end = i + 1;
      } else {
        return end;
      }
      wantOperand = false;
      continue;
    }
    if (x.kind == Token::Op && precedence(s, x) > level) {
      wantOperand = true;
      ++i;
      continue;
    }
    break;
  }
  return end;
}

std::string joinTokens(const std::string& s, const std::vector<Token>& t, std::size_t from, std::size_t to) {
  if (from >= to) return "";
  return s.substr(t[from].begin, t[to - 1].end - t[from].begin);
}

// Turns every binary `op` (of precedence `level`) into fn(left, right),
// left to right.
std::string rewriteOperator(std::string s, const char* op, int level, const char* fn) {
  for (std::size_t from = 0;;) {
    const std::vector<Token> t = tokenize(s);
    std::size_t k = from;
    while (k < t.size() && !(isOp(s, t[k], op) && binaryAt(s, t, k))) ++k;
    if (k >= t.size()) return s;
    const std::size_t left = leftOperand(s, t, k, level);
    const std::size_t right = rightOperand(s, t, k, level);
    if (left == k || right == k + 1) {  // no operand on one side: left for the engine to refuse
      from = k + 1;
      continue;
    }
    std::string a = joinTokens(s, t, left, k);
    while (!a.empty() && std::isspace(static_cast<unsigned char>(a.back()))) a.pop_back();
    std::string b = joinTokens(s, t, k + 1, right);
    const std::size_t lead = b.find_first_not_of(" \t\r\n");
    b = lead == std::string::npos ? b : b.substr(lead);
    const std::string call = std::string(fn) + "(" + a + ", " + b + ")";
    s = s.substr(0, t[left].begin) + call + s.substr(t[right - 1].end);
    from = 0;
  }
}

std::string tokenText(const std::string& s, const Token& t) { return s.substr(t.begin, t.end - t.begin); }

// The next token at or after k that is not a blank (t.size() when none).
std::size_t nextSolid(const std::vector<Token>& t, std::size_t k) {
  while (k < t.size() && t[k].kind == Token::Blank) ++k;
  return k;
}

}  // namespace

std::string currencyAggregates(const std::string& statement,
                               const std::function<bool(const std::string&)>& isCurrency,
                               std::vector<int>& currencyItems) {
  currencyItems.clear();
  std::string s = statement;
  std::vector<Token> t = tokenize(s);
  // Sum( and Avg( of one Currency column, back to front so that the offsets
  // before stay right.
  std::vector<std::size_t> calls;  // token index of each such function name
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (t[k].kind != Token::Name) continue;
    const std::string fn = asciiLower(tokenText(s, t[k]));
    if (fn != "sum" && fn != "avg") continue;
    const std::size_t open = nextSolid(t, k + 1);
    if (open >= t.size() || t[open].kind != Token::Open) continue;
    const std::size_t arg = nextSolid(t, open + 1);
    if (arg >= t.size() || t[arg].kind != Token::Name) continue;
    const std::size_t close = nextSolid(t, arg + 1);
    if (close >= t.size() || t[close].kind != Token::Close) continue;
    std::string name = tokenText(s, t[arg]);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.find(']', dot) == std::string::npos) name = name.substr(dot + 1);
    else if (dot != std::string::npos && name.rfind('[') != std::string::npos) name = name.substr(name.rfind('['));
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (isCurrency(name)) calls.push_back(k);
  }
  if (calls.empty()) return s;
  // Which items of the outer select list are such a call as a whole (with or
  // without "as NAME"): those results are Currency.
  int depth = 0, item = 0;
  bool inList = false, itemIsCall = false, itemHasOther = false;
  std::size_t listCall = std::string::npos;
  auto endItem = [&] {
    if (itemIsCall && !itemHasOther) currencyItems.push_back(item);
    ++item;
    itemIsCall = itemHasOther = false;
  };
  for (std::size_t k = 0; k < t.size(); ++k) {
    const Token& x = t[k];
    if (x.kind == Token::Open) ++depth;
    if (x.kind == Token::Close) --depth;
    if (!inList) {
      if (depth == 0 && isWord(s, x, "select")) inList = true;
      continue;
    }
    if (depth == 0 && isWord(s, x, "from")) {
      endItem();
      break;
    }
    if (x.kind == Token::Blank) continue;
    const bool itemStart = depth == 0 && !itemIsCall && !itemHasOther;
    if (itemStart && item == 0 && (isWord(s, x, "distinct") || asciiLower(tokenText(s, x)) == "distinctrow")) continue;
    if (depth == 0 && x.kind == Token::Comma) {
      endItem();
      continue;
    }
    if (itemStart && item == 0 && x.kind == Token::Name &&
        asciiLower(tokenText(s, x)) == "top") {
      const std::size_t n = nextSolid(t, k + 1);
      if (n < t.size() && t[n].kind == Token::Number) k = n;
      continue;
    }
    if (itemStart && std::find(calls.begin(), calls.end(), k) != calls.end()) {
      itemIsCall = true;
      listCall = nextSolid(t, k + 1);  // the call's brackets
      k = matching(t, listCall, 1);
      if (k == std::string::npos) break;
      continue;
    }
    if (itemIsCall && depth == 0 && isWord(s, x, "as")) {
      const std::size_t n = nextSolid(t, k + 1);
      if (n < t.size() && t[n].kind == Token::Name) {
        k = n;
        continue;
      }
    }
    itemHasOther = true;
  }
  for (auto k = calls.rbegin(); k != calls.rend(); ++k) {
    const Token& x = t[*k];
    const bool sum = asciiLower(tokenText(s, x)) == "sum";
    s.replace(x.begin, x.end - x.begin, sum ? "jet_currency_sum" : "jet_currency_avg");
  }
  return s;
}

namespace {

bool isJoinWord(const std::string& w) {
  return w == "inner" || w == "left" || w == "right" || w == "full" || w == "outer" || w == "cross" ||
         w == "natural" || w == "join";
}

// A table's name or alias as a qualifier compares: without brackets, in any case.
std::string bareName(std::string name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  return asciiLower(name);
}

// The qualifier of "T.col" / "[T].[a b]" (npos-free: "" when there is none).
std::string qualifierOf(const std::string& name) {
  std::size_t dot = std::string::npos;
  bool inBracket = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '[') inBracket = true;
    else if (name[i] == ']') inBracket = false;
    else if (name[i] == '.' && !inBracket) dot = i;
  }
  return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

}  // namespace

std::string settleOrder(const std::string& sql, const std::string& rowid) {
  if (rowid.empty()) return sql;
  const std::vector<Token> t = tokenize(sql);
  const auto lower = [&](std::size_t k) { return asciiLower(tokenText(sql, t[k])); };
  std::size_t k = nextSolid(t, 0);
  if (k >= t.size() || !isWord(sql, t[k], "select")) return sql;
  const std::size_t afterSelect = nextSolid(t, k + 1);
  if (afterSelect < t.size() && (isWord(sql, t[afterSelect], "distinct") || lower(afterSelect) == "distinctrow"))
    return sql;
  // The clauses at the statement's own level.
  std::size_t from = t.size(), where = t.size(), order = t.size(), limit = t.size();
  int depth = 0;
  for (std::size_t i = k + 1; i < t.size(); ++i) {
    if (t[i].kind == Token::Open) ++depth;
    if (t[i].kind == Token::Close) --depth;
    if (depth != 0 || t[i].kind != Token::Word) continue;
    const std::string w = lower(i);
    if (w == "group" || w == "having" || w == "union" || w == "except" || w == "intersect") return sql;
    if (w == "from" && from == t.size()) from = i;
    else if (w == "where" && where == t.size()) where = i;
    else if (w == "order" && order == t.size()) order = i;
    else if (w == "limit" && limit == t.size()) limit = i;
  }
  if (from == t.size() || order == t.size() || order < from) return sql;
  const std::size_t fromEnd = std::min({where, order, limit});

  // The tables of the FROM clause, as the statement names them (an alias if
  // it gives one), and how they are joined.
  std::vector<std::string> tables;
  bool innerOnly = true;
  std::vector<std::size_t> joins;  // the token of each join's first word
  bool expectTable = true, inOn = false;
  int onDepth = 0;
  std::size_t joinStart = t.size();
  for (std::size_t i = from + 1; i < fromEnd; ++i) {
    const Token& x = t[i];
    if (x.kind == Token::Blank) continue;
    if (inOn) {
      if (x.kind == Token::Open) {
        ++onDepth;
        continue;
      }
      if (x.kind == Token::Close) {
        if (--onDepth < 0) inOn = false;  // the bracket around a join ends with its condition
        continue;
      }
      if (onDepth == 0 && x.kind == Token::Word && isJoinWord(lower(i))) inOn = false;
      else if (onDepth == 0 && x.kind == Token::Comma) inOn = false;
      else continue;
    }
    if (x.kind == Token::Open) {
      const std::size_t n = nextSolid(t, i + 1);
      if (n < t.size() && isWord(sql, t[n], "select")) return sql;  // a select in FROM: rows without a rowid
      continue;
    }
    if (x.kind == Token::Close) continue;
    if (x.kind == Token::Comma) {
      innerOnly = false;
      expectTable = true;
      continue;
    }
    if (x.kind == Token::Word) {
      const std::string w = lower(i);
      if (w == "on") {
        inOn = true;
        onDepth = 0;
      } else if (w == "join") {
        const std::string first = joinStart < i ? lower(joinStart) : std::string("join");
        if (!(first == "inner" && nextSolid(t, joinStart + 1) == i) && first != "join") innerOnly = false;
        joins.push_back(joinStart < i ? joinStart : i);
        joinStart = t.size();
        expectTable = true;
      } else if (isJoinWord(w)) {
        if (joinStart == t.size()) joinStart = i;
      } else if (w != "as") {
        return sql;  // something this reading does not know
      }
      continue;
    }
    if (x.kind == Token::Name) {
      if (expectTable) {
        tables.push_back(tokenText(sql, x));
        expectTable = false;
      } else if (!tables.empty()) {
        tables.back() = tokenText(sql, x);  // the alias the statement uses
      }
      continue;
    }
    return sql;
  }
  if (tables.empty()) return sql;

  // Whether the WHERE clause names the first table's columns alone.
  bool firstTableOnly = innerOnly && tables.size() > 1;
  if (firstTableOnly && where < t.size()) {
    const std::string first = bareName(tables.front());
    for (std::size_t i = where + 1; i < order && firstTableOnly; ++i) {
      if (isWord(sql, t[i], "select")) firstTableOnly = false;
      if (t[i].kind != Token::Name) continue;
      const std::size_t n = nextSolid(t, i + 1);
      if (n < t.size() && t[n].kind == Token::Open) continue;  // a function
      const std::string name = tokenText(sql, t[i]);
      if (asciiLower(name) == "null") continue;
      const std::string q = qualifierOf(name);
      if (q.empty() || bareName(q) != first) firstTableOnly = false;
    }
  }

  std::string out;
  std::size_t copied = 0;
  if (firstTableOnly) {
    for (std::size_t j : joins) {
      out += sql.substr(copied, t[j].begin - copied);
      out += "cross ";
      copied = lower(j) == "inner" ? t[nextSolid(t, j + 1)].begin : t[j].begin;
    }
  }
  // The keys go at the end of the ORDER BY: before LIMIT, or before the
  // blanks and ";" that end the statement.
  std::size_t at = limit < t.size() ? t[limit].begin : sql.size();
  while (at > t[order].end && (std::isspace(static_cast<unsigned char>(sql[at - 1])) || sql[at - 1] == ';')) --at;
  out += sql.substr(copied, at - copied);
  for (const std::string& table : tables) out += ", " + table + "." + rowid;
  out += sql.substr(at);
  return out;
}

std::string translateJetSql(const std::string& statement) {
  std::string sql = translateJetText(statement);
  if (sql.find('+') != std::string::npos) sql = rewriteOperator(sql, "+", 2, "jet_add");
  if (sql.find('&') != std::string::npos) sql = rewriteOperator(sql, "&", 1, "jet_join");
  return sql;
}

}  // namespace ado
