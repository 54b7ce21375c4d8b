#pragma once
// Pinyin initials of product names, the letters estimators type for a name
// ("lwg" for 螺纹钢, "sphnt" for 商品混凝土).
//
// Each character of a name gives one position: a Chinese character the
// initial of its reading, a Latin letter (any case, full-width too) or a
// digit itself in lower case; other signs give nothing. The reading comes from
// ICU's "Han-Latin" transliteration; the common characters of material names
// that have several readings (长 c or z, 重 z or c, 轧 z, y or g, ...) take
// theirs from a small table of our own, whose first letter is the main one.
//
// A name is kept as a coded string: one byte per position, the letter itself
// where there is one letter, and a code of 0x80 or above where there are
// several (InitialsCoder::letters gives them back).
#include <string>
#include <string_view>

namespace price_tools::pinyin {

class InitialsCoder {
 public:
  InitialsCoder();
  ~InitialsCoder();
  InitialsCoder(const InitialsCoder&) = delete;
  InitialsCoder& operator=(const InitialsCoder&) = delete;

  // The coded initials of a UTF-8 name.
  std::string encode(std::string_view name);
  // The main initials of a name ("rzdljg" for 热轧带肋钢筋).
  std::string initials(std::string_view name);
  // The letters one coded position stands for ("c" for 'c', "cz" for the
  // code of 长).
  std::string letters(unsigned char position) const;
  // Whether the letters `typed` (lower-case letters and digits) occur in a
  // coded name, each position matching any of its letters.
  bool matches(std::string_view coded, std::string_view typed) const;
  // What a user typed, as the letters to look for: letters in lower case and
  // digits kept, Chinese characters as their main initial, the rest dropped.
  std::string typedLetters(std::string_view text);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace price_tools::pinyin
