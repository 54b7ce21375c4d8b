#pragma once
// Text placed inside HTML: the pages the programs make themselves (error
// pages, the HTML table of copied rows) escape what comes from data with this.
#include <string>
#include <string_view>

namespace common {

// & < > and " as entities; every other byte (UTF-8 included) as it is.
std::string escapeHtml(std::string_view text);

}  // namespace common
