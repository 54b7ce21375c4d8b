#include "price_tools/export/grid_pages_text.h"

#include <QRawFont>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "common/atomic_file.h"

namespace price_tools::exporting {

namespace {

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
  return buf;
}

// A hex string token "<...>" at `pos` of `s`: its value (up to 8 digits) and
// its end. False when there is none.
bool readHex(const std::string& s, size_t pos, unsigned& value, size_t& end, size_t& digits) {
  if (pos >= s.size() || s[pos] != '<') return false;
  value = 0;
  digits = 0;
  size_t i = pos + 1;
  for (; i < s.size() && s[i] != '>'; ++i) {
    const int h = hexValue(s[i]);
    if (h < 0 || ++digits > 8) return false;
    value = value * 16 + static_cast<unsigned>(h);
  }
  if (i >= s.size()) return false;
  end = i + 1;
  return true;
}

size_t skipBlanks(const std::string& s, size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
  return i;
}

// A destination of four hex digits, mended.
std::string mended(unsigned value, size_t digits, const TextLayerFixes& fixes, bool& changed) {
  if (digits == 4) {
    const auto it = fixes.find(static_cast<char16_t>(value));
    if (it != fixes.end()) {
      changed = true;
      return "<" + hex4(it->second) + ">";
    }
  }
  std::string out = "<";
  for (size_t k = digits; k-- > 0;) out += "0123456789ABCDEF"[(value >> (4 * k)) & 0xF];
  return out + ">";
}

// One ToUnicode CMap mended: the destinations of its bfrange and bfchar
// entries. A range that maps its codes to consecutive code points is written
// out as an array when one of them changes. False when the map is not as
// expected.
bool mendCMap(std::string& cmap, const TextLayerFixes& fixes, bool& changed) {
  std::string out;
  size_t i = 0;
  while (true) {
    const size_t range = cmap.find("beginbfrange", i);
    const size_t chars = cmap.find("beginbfchar", i);
    const size_t begin = std::min(range, chars);
    if (begin == std::string::npos) break;
    const bool isRange = begin == range;
    const std::string endWord = isRange ? "endbfrange" : "endbfchar";
    const size_t bodyStart = begin + (isRange ? 12 : 11);
    const size_t bodyEnd = cmap.find(endWord, bodyStart);
    if (bodyEnd == std::string::npos) return false;
    out.append(cmap, i, bodyStart - i);
    size_t p = bodyStart;
    while (true) {
      const size_t q = skipBlanks(cmap, p);
      out.append(cmap, p, q - p);
      p = q;
      if (p >= bodyEnd) break;
      unsigned lo = 0, hi = 0, dst = 0;
      size_t e = 0, digits = 0, loDigits = 0, hiDigits = 0;
      if (!readHex(cmap, p, lo, e, loDigits)) return false;
      std::string entry = cmap.substr(p, e - p);
      p = e;
      if (isRange) {
        entry += cmap.substr(p, skipBlanks(cmap, p) - p);
        p = skipBlanks(cmap, p);
        if (!readHex(cmap, p, hi, e, hiDigits)) return false;
        entry += cmap.substr(p, e - p);
        p = e;
      }
      entry += cmap.substr(p, skipBlanks(cmap, p) - p);
      p = skipBlanks(cmap, p);
      if (isRange && p < bodyEnd && cmap[p] == '[') {
        entry += '[';
        ++p;
        while (true) {
          const size_t b = skipBlanks(cmap, p);
          entry.append(cmap, p, b - p);
          p = b;
          if (p >= bodyEnd) return false;
          if (cmap[p] == ']') {
            entry += ']';
            ++p;
            break;
          }
          if (!readHex(cmap, p, dst, e, digits)) return false;
          entry += mended(dst, digits, fixes, changed);
          p = e;
        }
      } else {
        if (!readHex(cmap, p, dst, e, digits)) return false;
        p = e;
        const unsigned count = isRange ? hi - lo + 1 : 1;
        if (isRange && hi < lo) return false;
        bool touched = false;
        if (digits == 4 && count > 1)
          for (unsigned k = 0; k < count && !touched; ++k)
            touched = fixes.count(static_cast<char16_t>(dst + k)) > 0;
        if (touched) {
          entry += '[';
          for (unsigned k = 0; k < count; ++k) entry += (k ? " " : "") + mended(dst + k, 4, fixes, changed);
          entry += ']';
        } else {
          entry += mended(dst, digits, fixes, changed);
        }
      }
      out += entry;
    }
    out.append(cmap, bodyEnd, endWord.size());
    i = bodyEnd + endWord.size();
  }
  out.append(cmap, i, std::string::npos);
  cmap = std::move(out);
  return true;
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = "PDF text layer: " + why;
  return false;
}

struct Edit {
  size_t pos, length;
  std::string text;
};

}  // namespace

void markDrawn(std::vector<bool>& drawn, const QString& text) {
  if (drawn.size() < 0x10000) drawn.resize(0x10000, false);
  for (QChar c : text) drawn[c.unicode()] = true;
}

TextLayerFixes sharedGlyphFixes(const std::vector<QFont>& fonts, const std::vector<bool>& drawn) {
  TextLayerFixes fixes;
  QString every(0x10000, QChar(0));
  for (char32_t uc = 1; uc < 0x10000; ++uc)
    if (!isSurrogate(static_cast<char16_t>(uc))) every[static_cast<qsizetype>(uc)] = QChar(static_cast<char16_t>(uc));
  for (const QFont& font : fonts) {
    const QRawFont raw = QRawFont::fromFont(font);
    if (!raw.isValid()) continue;
    const QList<quint32> glyphs = raw.glyphIndexesForString(every);
    if (glyphs.size() != every.size()) continue;
    // The lowest code point of every glyph, as Qt's map gives it.
    std::unordered_map<quint32, char16_t> lowest;
    for (char32_t uc = 1; uc < 0x10000; ++uc) {
      const quint32 g = glyphs[static_cast<qsizetype>(uc)];
      if (g != 0 && !isSurrogate(static_cast<char16_t>(uc))) lowest.emplace(g, static_cast<char16_t>(uc));
    }
    for (char32_t uc = 1; uc < 0x10000 && uc < drawn.size(); ++uc) {
      if (!drawn[uc] || isSurrogate(static_cast<char16_t>(uc))) continue;
      const auto it = lowest.find(glyphs[static_cast<qsizetype>(uc)]);
      if (it == lowest.end() || it->second == uc) continue;
      fixes.emplace(it->second, static_cast<char16_t>(uc));
    }
  }
  return fixes;
}

bool mendToUnicodeMaps(std::string& pdf, const TextLayerFixes& fixes, std::string* error) {
  if (fixes.empty()) return true;
  std::vector<Edit> edits;
  std::vector<unsigned> done;
  for (size_t ref = pdf.find("/ToUnicode "); ref != std::string::npos; ref = pdf.find("/ToUnicode ", ref + 1)) {
    unsigned object = 0;
    if (std::sscanf(pdf.c_str() + ref, "/ToUnicode %u 0 R", &object) != 1) return fail(error, "bad ToUnicode reference");
    if (std::find(done.begin(), done.end(), object) != done.end()) continue;
    done.push_back(object);
    const std::string head = std::to_string(object) + " 0 obj";
    size_t at = pdf.find("\n" + head);
    if (at == std::string::npos) return fail(error, "ToUnicode object " + std::to_string(object) + " not found");
    ++at;
    const size_t stream = pdf.find("stream", at);
    const size_t lengthKey = pdf.find("/Length ", at);
    if (stream == std::string::npos || lengthKey == std::string::npos || lengthKey > stream)
      return fail(error, "ToUnicode object without a stream length");
    const std::string dictionary = pdf.substr(at, stream - at);
    if (dictionary.find("/Filter") != std::string::npos) return fail(error, "compressed ToUnicode map");
    const size_t lengthPos = lengthKey + 8;
    size_t lengthEnd = lengthPos;
    while (lengthEnd < pdf.size() && pdf[lengthEnd] >= '0' && pdf[lengthEnd] <= '9') ++lengthEnd;
    if (lengthEnd == lengthPos || pdf.compare(lengthEnd, 4, " 0 R") == 0)
      return fail(error, "ToUnicode stream length is not a number");
    const size_t length = std::stoul(pdf.substr(lengthPos, lengthEnd - lengthPos));
    size_t data = stream + 6;
    if (pdf.compare(data, 2, "\r\n") == 0)
      data += 2;
    else if (data < pdf.size() && pdf[data] == '\n')
      ++data;
    else
      return fail(error, "bad stream start");
    if (data + length > pdf.size()) return fail(error, "ToUnicode stream runs past the end");
    std::string cmap = pdf.substr(data, length);
    bool changed = false;
    if (!mendCMap(cmap, fixes, changed)) return fail(error, "unreadable ToUnicode map");
    if (!changed) continue;
    edits.push_back({lengthPos, lengthEnd - lengthPos, std::to_string(cmap.size())});
    edits.push_back({data, length, std::move(cmap)});
  }
  if (edits.empty()) return true;
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.pos < b.pos; });

  // Where an old offset lies in the new bytes (offsets of objects are never
  // inside an edit).
  auto moved = [&](size_t offset) {
    long long shift = 0;
    for (const Edit& e : edits)
      if (e.pos + e.length <= offset) shift += static_cast<long long>(e.text.size()) - static_cast<long long>(e.length);
    return static_cast<size_t>(static_cast<long long>(offset) + shift);
  };
  const size_t startKey = pdf.rfind("startxref");
  if (startKey == std::string::npos) return fail(error, "no startxref");
  size_t xref = 0;
  if (std::sscanf(pdf.c_str() + startKey, "startxref %zu", &xref) != 1 || pdf.compare(xref, 4, "xref") != 0)
    return fail(error, "no plain cross-reference table");
  if (!edits.empty() && edits.back().pos + edits.back().length > xref)
    return fail(error, "ToUnicode map after the cross-reference table");

  std::string out;
  out.reserve(pdf.size() + 4096);
  size_t from = 0;
  for (const Edit& e : edits) {
    out.append(pdf, from, e.pos - from);
    out += e.text;
    from = e.pos + e.length;
  }
  out.append(pdf, from, startKey - from);
  // The table's entries: "nnnnnnnnnn ggggg n" lines, in subsections.
  size_t p = moved(xref) + 4;
  while (true) {
    while (p < out.size() && (out[p] == '\n' || out[p] == '\r' || out[p] == ' ')) ++p;
    unsigned first = 0, count = 0;
    int used = 0;
    if (out.compare(p, 7, "trailer") == 0) break;
    if (std::sscanf(out.c_str() + p, "%u %u%n", &first, &count, &used) != 2) return fail(error, "bad cross-reference table");
    p += static_cast<size_t>(used);
    for (unsigned k = 0; k < count; ++k) {
      while (p < out.size() && (out[p] == '\n' || out[p] == '\r' || out[p] == ' ')) ++p;
      if (p + 18 > out.size()) return fail(error, "short cross-reference table");
      if (out[p + 17] == 'n') {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%010zu", moved(std::stoul(out.substr(p, 10))));
        out.replace(p, 10, digits);
      }
      p += 18;
    }
  }
  out += "startxref\n" + std::to_string(moved(xref)) + "\n%%EOF\n";
  pdf = std::move(out);
  return true;
}

bool mendPdfTextLayer(const std::string& path, const TextLayerFixes& fixes, std::string* error) {
  if (fixes.empty()) return true;
  std::string pdf;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(error, "cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return fail(error, "cannot read " + path);
    pdf = s.str();
  }
  const std::string before = pdf;
  if (!mendToUnicodeMaps(pdf, fixes, error)) return false;
  if (pdf == before) return true;
  return common::writeFileAtomic(path, pdf, error);
}

}  // namespace price_tools::exporting
