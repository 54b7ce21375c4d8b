#include "common/text_case.h"

#include <QChar>
#include <QString>

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

}  // namespace

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
