#pragma once
// MainPro.ini, the main program's configuration: delimited items, at most 50
// read. Each item is lower-cased as a whole and split at its first "=" into
// key and value; items without "=" or with an empty value are dropped.
// Nothing is trimmed ("sname = x" has the key "sname ").
#include "common/text_case.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace main_window {

constexpr int kMainProItems = 50;

using Setting = std::pair<std::string, std::string>;  // key, value (UTF-8, lower case)

// The settings of the items, in file order (a key may come more than once;
// applying them in order lets the later one win).
std::vector<Setting> mainProSettings(const std::vector<std::string>& items);

// Reads the file (GBK) and returns its settings; a file that cannot be read
// gives none.
std::vector<Setting> readMainPro(const std::string& path);

using common::lowerText;
using common::upperText;

// The banner interval: a whole number of milliseconds from 0 to 65,535,
// blanks around it allowed, or nullopt for anything else (the interval then
// stays as it is).
std::optional<int> timerInterval(const std::string& value);

}  // namespace main_window
