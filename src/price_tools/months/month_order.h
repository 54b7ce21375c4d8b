#pragma once
// The month of a monthly library, read from its name, and the month order of
// a program folder's libraries.
//
// A name gives a month when it holds a year (four digits, 1900 to 2099) and a
// month (1 to 12) in one of these forms: 2025年3月 / 2025年03月, 2025-03,
// 2025_03, 2025.03, 2025/03, or six digits 202503. Digits that belong to a
// longer run of digits do not count (2025031 is no month).
#include <optional>
#include <string>
#include <vector>

namespace price_tools {

struct YearMonth {
  int year = 0;
  int month = 0;
  friend bool operator==(const YearMonth&, const YearMonth&) = default;
  // "2026-11".
  std::string text() const;
};

std::optional<YearMonth> monthOf(const std::string& libraryName);

// Library names in month order: those with a month by month (equal months in
// the order given), then those without a month in the order given. `names`
// is expected in name order (data::libraryNames).
std::vector<std::string> inMonthOrder(const std::vector<std::string>& names);

// The libraries of a program folder (its "*.zdj" files in any letter case of
// the ending), in name order, each under a name that opens that very file
// (LibraryFile): the file name without ".zdj", or, where two files of the
// folder would give names that differ only in letter case (A2026-11.zdj,
// A2026-11.Zdj, a2026-11.ZDJ), the whole real file name of every file but
// the one spelled "NAME.zdj" exactly, so that none of them is opened as
// another. Each file is listed once.
std::vector<std::string> libraryList(const std::string& folder);

}  // namespace price_tools
