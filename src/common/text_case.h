#pragma once
// Case of UTF-8 text, letter by letter: Latin, full-width, Greek and Cyrillic
// letters change, Chinese text has no case, and bytes that are not UTF-8 stay
// as they are. Both programs compare lower-cased keys and names with this.
#include <string>

namespace common {

std::string lowerText(const std::string& text);
std::string upperText(const std::string& text);

// Only the ASCII letters A-Z lowered (or a-z raised); every other byte stays.
// For names whose meaning is ASCII-case-blind (SQL keywords, column names,
// HTTP header names, file extensions), where other letters must not change.
std::string asciiLower(std::string text);
std::string asciiUpper(std::string text);
char asciiLower(char c);

}  // namespace common
