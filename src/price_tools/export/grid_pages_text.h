#pragma once
// The text layer of a PDF that Qt wrote, mended so that every character reads
// back as the character that was drawn.
//
// Qt writes each embedded font's ToUnicode map from the font's own character
// map, and gives a glyph the lowest code point that maps to it. CJK fonts
// (Noto Sans CJK among them) draw a Kangxi radical and the ideograph it stands
// for with one glyph: ⽉ U+2F49 and 月 U+6708, ⽣ U+2F63 and 生 U+751F, ⼚ U+2F1A
// and 厂 U+5382, ⻚ U+2EDA and 页 U+9875. The radicals have the lower code
// points, so a search of the PDF for 月 or 生产厂家 found nothing and copied
// text was wrong. The drawing cannot avoid it (the glyph is the one glyph the
// font has), so the map is put right afterwards: a code point that stands for
// a glyph the drawn text reached through another character becomes that
// character. A PDF whose text holds both the radical and its ideograph cannot
// tell them apart (one glyph, one entry); the ideograph is kept, as the
// radicals themselves hardly occur in text.
#include <QFont>
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace price_tools::exporting {

// Code point in a ToUnicode map -> the character it should read as.
using TextLayerFixes = std::map<char16_t, char16_t>;

// The characters of `drawn` that a font of `fonts` draws with a glyph that a
// lower code point also maps to, as the fixes Qt's map needs: {⽉: 月, ...}.
// Characters outside the Basic Multilingual Plane are left alone (Qt's map
// does not reach them).
TextLayerFixes sharedGlyphFixes(const std::vector<QFont>& fonts, const std::vector<bool>& drawn);

// Marks the characters of `text` in `drawn` (indexed by UTF-16 unit, 65536
// entries).
void markDrawn(std::vector<bool>& drawn, const QString& text);

// The bytes of a PDF with every ToUnicode map of it mended by `fixes`, the
// stream lengths, the cross-reference table and its offset moved to match.
// Returns false (and `error` says why) when the PDF is not laid out as Qt
// writes it (a plain cross-reference table, maps as plain streams).
[[nodiscard]] bool mendToUnicodeMaps(std::string& pdf, const TextLayerFixes& fixes, std::string* error = nullptr);

// The same for a file, rewritten in place when anything changed.
[[nodiscard]] bool mendPdfTextLayer(const std::string& path, const TextLayerFixes& fixes, std::string* error = nullptr);

}  // namespace price_tools::exporting
