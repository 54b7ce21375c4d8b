#pragma once
// Case of UTF-8 text, letter by letter: Latin, full-width, Greek and Cyrillic
// letters change, Chinese text has no case, and bytes that are not UTF-8 stay
// as they are. Both programs compare lower-cased keys and names with this.
#include <string>

namespace common {

std::string lowerText(const std::string& text);
std::string upperText(const std::string& text);

}  // namespace common
