#pragma once
// The order of texts as a Chinese (PRC) system sorts them (glibc's zh_CN
// collation): digits first, character by character (so 2026年01月 <
// 2026年12月); then Chinese by pinyin, one reading per character (长 as
// "chang": 北辰 < 长江 < 东岚 < 云岭 < 重庆); then Latin letters and the other
// scripts. Blanks and punctuation count only between texts otherwise equal, and
// letter case not at all. The database provider sorts text columns with it,
// and the library list of the main window comes in its order.
#include <string_view>

namespace common {

// < 0, 0 or > 0 as `a` comes before, together with, or after `b` (UTF-8). Two
// texts come together exactly when they are equal but for letter case (Unicode
// simple case folding, as the provider's "=" has it); otherwise the order is
// total.
int collateText(std::string_view a, std::string_view b);

}  // namespace common
