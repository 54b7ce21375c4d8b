#include "price_tools/months/month_order.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "common/text_case.h"
#include "data/browse.h"

namespace price_tools {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// The run of digits starting at i (its length).
size_t digitRun(const std::string& s, size_t i) {
  size_t n = 0;
  while (i + n < s.size() && digit(s[i + n])) ++n;
  return n;
}

int number(const std::string& s, size_t i, size_t n) { return std::stoi(s.substr(i, n)); }

bool validYear(int y) { return y >= 1900 && y <= 2099; }

}  // namespace

std::string YearMonth::text() const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d", year, month);
  return buf;
}

std::optional<YearMonth> monthOf(const std::string& name) {
  static const std::string kYear = "年", kMonth = "月";
  size_t i = 0;
  while (i < name.size()) {
    if (!digit(name[i])) {
      ++i;
      continue;
    }
    const size_t run = digitRun(name, i);
    if (run == 6 && validYear(number(name, i, 4))) {
      const int m = number(name, i + 4, 2);
      if (m >= 1 && m <= 12) return YearMonth{number(name, i, 4), m};
    }
    if (run == 4 && validYear(number(name, i, 4))) {
      size_t j = i + 4;
      const bool chinese = name.compare(j, kYear.size(), kYear) == 0;
      if (chinese)
        j += kYear.size();
      else if (j < name.size() && (name[j] == '-' || name[j] == '_' || name[j] == '.' || name[j] == '/'))
        ++j;
      else
        j = std::string::npos;
      if (j != std::string::npos) {
        const size_t mrun = digitRun(name, j);
        if (mrun >= 1 && mrun <= 2) {
          const int m = number(name, j, mrun);
          const bool closed = !chinese || name.compare(j + mrun, kMonth.size(), kMonth) == 0;
          if (m >= 1 && m <= 12 && closed) return YearMonth{number(name, i, 4), m};
        }
      }
    }
    i += run;
  }
  return std::nullopt;
}

std::vector<std::string> inMonthOrder(const std::vector<std::string>& names) {
  struct Item {
    std::optional<YearMonth> month;
    size_t index;
  };
  std::vector<Item> items;
  for (size_t i = 0; i < names.size(); ++i) items.push_back({monthOf(names[i]), i});
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.month.has_value() != b.month.has_value()) return a.month.has_value();
    if (!a.month) return false;
    if (a.month->year != b.month->year) return a.month->year < b.month->year;
    return a.month->month < b.month->month;
  });
  std::vector<std::string> out;
  for (const Item& it : items) out.push_back(names[it.index]);
  return out;
}

std::vector<std::string> libraryList(const std::string& folder) {
  std::vector<std::string> files = data::folderFiles(folder, ".zdj");
  // How many files share a name without the ending, in any letter case (as
  // the program folder's resolver compares names).
  std::unordered_map<std::string, int> sharing;
  for (const std::string& f : files) ++sharing[common::lowerText(f.substr(0, f.size() - 4))];
  for (std::string& f : files) {
    const std::string stem = f.substr(0, f.size() - 4);
    const bool exact = f.compare(f.size() - 4, 4, ".zdj") == 0;
    if (exact || sharing[common::lowerText(stem)] == 1) f = stem;
  }
  return files;
}

}  // namespace price_tools
