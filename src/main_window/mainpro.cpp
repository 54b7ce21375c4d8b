#include "main_window/mainpro.h"

#include "common/items.h"

namespace main_window {

std::vector<Setting> mainProSettings(const std::vector<std::string>& items) {
  std::vector<Setting> out;
  int n = 0;
  for (const auto& item : items) {
    if (++n > kMainProItems) break;
    std::string lower = lowerText(item);
    auto eq = lower.find('=');
    if (eq == std::string::npos) continue;
    std::string value = lower.substr(eq + 1);
    if (value.empty()) continue;
    out.emplace_back(lower.substr(0, eq), std::move(value));
  }
  return out;
}

std::vector<Setting> readMainPro(const std::string& path) {
  auto items = common::readItemFile(path, kMainProItems);
  if (!items) return {};
  return mainProSettings(*items);
}

std::optional<int> timerInterval(const std::string& text) {
  // Blanks around the number (timer= 2000) are no part of it, as the
  // conversion of a text to a number takes them.
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return std::nullopt;
  const std::string value = text.substr(b, text.find_last_not_of(' ') - b + 1);
  if (value.empty() || value.size() > 9) return std::nullopt;
  long n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > 65535) return std::nullopt;
  return static_cast<int>(n);
}

}  // namespace main_window
