#include "price_tools/pinyin/initials.h"

#include <unicode/translit.h>
#include <unicode/uscript.h>
#include <unicode/unistr.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace price_tools::pinyin {

namespace {

// Characters of material names read more than one way, and the initials of
// their readings, the one material names use most first. Everything else takes
// ICU's single reading.
const std::pair<char32_t, const char*> kSeveralReadings[] = {
    {U'长', "cz"}, {U'重', "zc"}, {U'行', "xh"}, {U'调', "td"}, {U'轧', "zyg"}, {U'卡', "kq"},
    {U'夹', "jg"}, {U'单', "ds"}, {U'厦', "sx"}, {U'藏', "cz"}, {U'曾', "zc"}, {U'传', "cz"},
    {U'弹', "td"}, {U'强', "qj"}, {U'盛', "sc"}, {U'叶', "yx"}, {U'解', "jx"}, {U'校', "xj"},
    {U'会', "hk"}, {U'给', "jg"}, {U'便', "bp"}, {U'铅', "qy"}, {U'刨', "bp"}, {U'系', "xj"},
    {U'乐', "ly"}, {U'区', "qo"}, {U'查', "cz"}, {U'参', "cs"}, {U'石', "sd"}, {U'泊', "bp"},
    {U'曝', "pb"}, {U'车', "cj"}, {U'圈', "qj"}, {U'折', "zs"}, {U'降', "jx"}, {U'尾', "wy"},
    {U'朝', "cz"}, {U'奇', "qj"}, {U'万', "wm"}, {U'番', "fp"}, {U'句', "jg"}, {U'畜', "cx"},
    {U'仇', "cq"}, {U'柜', "gj"}, {U'冲', "c"},  {U'量', "l"},  {U'露', "l"},  {U'劲', "j"},
    {U'角', "j"},  {U'色', "s"},  {U'数', "s"},  {U'塞', "s"},  {U'拓', "t"},  {U'扎', "z"},
};

// UTF-8 decoding: the next code point from s at i (i moves past it); an
// invalid byte gives U+FFFD.
char32_t next(std::string_view s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
  if (more < 0) return 0xFFFD;
  char32_t cp = c & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

}  // namespace

struct InitialsCoder::Impl {
  std::unique_ptr<icu::Transliterator> toLatin;
  std::unordered_map<char32_t, std::string> readings;  // Han character -> its letters
  std::unordered_map<std::string, unsigned char> codes;  // several letters -> code
  std::vector<std::string> sets;                           // code - 0x80 -> letters

  // The letters of one code point ("" for a sign that gives nothing).
  const std::string& lettersOf(char32_t cp) {
    static const std::string none;
    auto it = readings.find(cp);
    if (it != readings.end()) return it->second;
    std::string letters;
    if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;  // full-width forms
    if (cp < 0x80) {
      const char c = static_cast<char>(cp);
      if (c >= 'A' && c <= 'Z') letters = static_cast<char>(c - 'A' + 'a');
      else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) letters = c;
      else return none;  // ASCII signs are not cached: they are cheap
    } else {
      UErrorCode status = U_ZERO_ERROR;
      if (uscript_getScript(static_cast<UChar32>(cp), &status) == USCRIPT_HAN && toLatin) {
        icu::UnicodeString u(static_cast<UChar32>(cp));
        toLatin->transliterate(u);
        if (u.length() > 0) {
          const UChar first = u.charAt(0);
          if (first >= 'a' && first <= 'z') letters = static_cast<char>(first);
          else if (first >= 'A' && first <= 'Z') letters = static_cast<char>(first - 'A' + 'a');
        }
      }
    }
    return readings.emplace(cp, letters).first->second;
  }

  // One coded position for some letters.
  char code(const std::string& letters) {
    if (letters.size() == 1) return letters[0];
    auto it = codes.find(letters);
    if (it != codes.end()) return static_cast<char>(it->second);
    const unsigned char c = static_cast<unsigned char>(0x80 + sets.size());
    sets.push_back(letters);
    codes.emplace(letters, c);
    return static_cast<char>(c);
  }
};

InitialsCoder::InitialsCoder() : impl_(new Impl) {
  UErrorCode status = U_ZERO_ERROR;
  impl_->toLatin.reset(icu::Transliterator::createInstance("Han-Latin; Latin-ASCII", UTRANS_FORWARD, status));
  if (U_FAILURE(status)) impl_->toLatin.reset();
  for (const auto& [cp, letters] : kSeveralReadings) impl_->readings[cp] = letters;
}

InitialsCoder::~InitialsCoder() { delete impl_; }

std::string InitialsCoder::encode(std::string_view name) {
  std::string out;
  out.reserve(name.size() / 2);
  for (size_t i = 0; i < name.size();) {
    const std::string& letters = impl_->lettersOf(next(name, i));
    if (!letters.empty()) out += impl_->code(letters);
  }
  return out;
}

std::string InitialsCoder::initials(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const std::string& letters = impl_->lettersOf(next(name, i));
    if (!letters.empty()) out += letters[0];
  }
  return out;
}

std::string InitialsCoder::letters(unsigned char position) const {
  if (position < 0x80) return std::string(1, static_cast<char>(position));
  const size_t k = position - 0x80u;
  return k < impl_->sets.size() ? impl_->sets[k] : std::string();
}

bool InitialsCoder::matches(std::string_view coded, std::string_view typed) const {
  if (typed.empty()) return true;
  if (coded.size() < typed.size()) return false;
  const size_t last = coded.size() - typed.size();
  for (size_t start = 0; start <= last; ++start) {
    size_t k = 0;
    for (; k < typed.size(); ++k) {
      const unsigned char c = static_cast<unsigned char>(coded[start + k]);
      if (c == static_cast<unsigned char>(typed[k])) continue;
      if (c < 0x80 || impl_->sets[c - 0x80u].find(typed[k]) == std::string::npos) break;
    }
    if (k == typed.size()) return true;
  }
  return false;
}

std::string InitialsCoder::typedLetters(std::string_view text) { return initials(text); }

}  // namespace price_tools::pinyin
