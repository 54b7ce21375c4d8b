#pragma once
// The order of texts as a Chinese (PRC) system sorts them: Chinese by pinyin
// (北辰 < 东岚 < 华通 < 金阳 < 利民 < 青川 < 顺达 < 云岭), Latin letters and
// digits before Chinese, digits character by character (so 2026年01月 <
// 2026年12月), ASCII letter case ignored. The database provider sorts text
// columns with it, and the library list of the main window comes in its order.
#include <string_view>

namespace common {

// < 0, 0 or > 0 as `a` comes before, together with, or after `b` (UTF-8). Two
// texts come together exactly when they are equal but for the case of ASCII
// letters (as the provider's "=" has it); otherwise the order is total.
int collateText(std::string_view a, std::string_view b);

}  // namespace common
