#pragma once
// Case of UTF-8 text, letter by letter: Latin, full-width, Greek and Cyrillic
// letters change, Chinese text has no case, and bytes that are not UTF-8 stay
// as they are. Both programs compare lower-cased keys and names with this.
#include <string>
#include <string_view>

namespace common {

std::string lowerText(const std::string& text);
std::string upperText(const std::string& text);

// Only the ASCII letters A-Z lowered (or a-z raised); every other byte stays.
// For names whose meaning is ASCII-case-blind (SQL keywords, column names,
// HTTP header names, file extensions), where other letters must not change.
std::string asciiLower(std::string text);
std::string asciiUpper(std::string text);
char asciiLower(char c);

// Unicode simple case folding, character by character (Φ and φ, Ⅰ and ⅰ, Ａ
// and ａ fold alike): what Jet's text comparison ignores. Bytes that are not
// UTF-8 stay as they are. `out` is replaced; the text is appended to nothing
// else, so one buffer serves a loop without allocating.
void foldCase(std::string_view text, std::string& out);
std::string foldCase(std::string_view text);
// One code point folded as foldCase folds it.
char32_t foldCharacter(char32_t cp);

// The full-width forms of ASCII (U+FF01-U+FF5E, and U+3000 for the blank) as
// their half-width letters, digits and signs ("ｈｒｂ４００" -> "hrb400"), and
// the other way: VB's StrConv with vbNarrow and vbWide.
std::string narrowText(std::string_view text);
std::string wideText(std::string_view text);

}  // namespace common
