#include "updater/version.h"

#include <charconv>

#include "updater/update_list.h"

namespace updater {

std::optional<double> versionNumber(const std::string& version) {
  std::string rest = dropFirstChar(version);
  const size_t b = rest.find_first_not_of(' ');
  if (b == std::string::npos) return std::nullopt;
  rest = rest.substr(b, rest.find_last_not_of(' ') - b + 1);
  // Digits with at most one point and at least one digit, an optional sign.
  size_t i = (rest[0] == '+' || rest[0] == '-') ? 1 : 0;
  int digits = 0, points = 0;
  for (size_t j = i; j < rest.size(); ++j) {
    if (rest[j] >= '0' && rest[j] <= '9') ++digits;
    else if (rest[j] == '.') ++points;
    else return std::nullopt;
  }
  if (digits == 0 || points > 1) return std::nullopt;
  std::string_view t(rest);
  if (t.front() == '+') t.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

bool isNewerVersion(const std::string& listed, const std::string& installed) {
  const auto a = versionNumber(listed);
  const auto b = versionNumber(installed);
  return a && b && *a > *b;
}

}  // namespace updater
