#include "common/text_case.h"

#include <QChar>
#include <QString>
#include <unicode/uchar.h>

namespace common {
namespace {

std::string changeCase(const std::string& text, bool lower) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      if (lower)
        out += (lead >= 'A' && lead <= 'Z') ? static_cast<char>(lead - 'A' + 'a') : static_cast<char>(lead);
      else
        out += (lead >= 'a' && lead <= 'z') ? static_cast<char>(lead - 'a' + 'A') : static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t cp = n == 4 ? lead & 0x07 : n == 3 ? lead & 0x0F : lead & 0x1F;
    bool valid = n > 1 && i + n <= text.size();
    for (size_t k = 1; valid && k < n; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) valid = false;
      else cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid) {
      out += text[i];  // not UTF-8: kept as it is
      ++i;
      continue;
    }
    const char32_t low = lower ? QChar::toLower(cp) : QChar::toUpper(cp);
    if (low == cp) {
      out.append(text, i, n);
    } else {
      const QByteArray bytes = QString::fromUcs4(&low, 1).toUtf8();
      out.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    i += n;
  }
  return out;
}

// The code point at text[i] and its length in bytes; length 0 when the bytes
// there are not UTF-8.
char32_t decodeAt(std::string_view text, size_t i, size_t& n) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  n = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return n = 0, 0;
  char32_t cp = n == 4 ? lead & 0x07 : n == 3 ? lead & 0x0F : lead & 0x1F;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) return n = 0, 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Each character through `map`; ASCII bytes through `ascii`.
template <class Ascii, class Map>
void mapText(std::string_view text, std::string& out, Ascii ascii, Map map) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += ascii(static_cast<char>(lead));
      ++i;
      continue;
    }
    size_t n;
    const char32_t cp = decodeAt(text, i, n);
    if (n == 0) {
      out += text[i++];  // not UTF-8: kept as it is
      continue;
    }
    const char32_t to = map(cp);
    if (to == cp) out.append(text.substr(i, n));
    else appendUtf8(out, to);
    i += n;
  }
}

}  // namespace

char32_t foldCharacter(char32_t cp) { return char32_t(u_foldCase(UChar32(cp), U_FOLD_CASE_DEFAULT)); }

void foldCase(std::string_view text, std::string& out) {
  mapText(text, out, [](char c) { return asciiLower(c); }, foldCharacter);
}

std::string foldCase(std::string_view text) {
  std::string out;
  foldCase(text, out);
  return out;
}

std::string narrowText(std::string_view text) {
  std::string out;
  mapText(text, out, [](char c) { return c; }, [](char32_t cp) -> char32_t {
    if (cp >= 0xFF01 && cp <= 0xFF5E) return cp - 0xFF01 + 0x21;
    return cp == 0x3000 ? U' ' : cp;
  });
  return out;
}

std::string wideText(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b == ' ') appendUtf8(out, 0x3000);
    else if (b >= 0x21 && b <= 0x7E) appendUtf8(out, char32_t(b) - 0x21 + 0xFF01);
    else out += c;
  }
  return out;
}

std::string lowerText(const std::string& text) { return changeCase(text, true); }
std::string upperText(const std::string& text) { return changeCase(text, false); }

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string asciiLower(std::string text) {
  for (char& c : text) c = asciiLower(c);
  return text;
}

std::string asciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace common
