#pragma once
// How the matching reads a material's text: one folded form of the ways real
// lists write the same thing, and the parts of it that must agree (grades and
// sizes) apart from the words that only make it alike.
#include <cstdint>
#include <string>
#include <vector>

namespace price_tools::pricelist::detail {

// The text as matching reads it: price_tools::normalised (blanks, full-width
// forms, letter case), then × * alike as "x", ~ — – ～ 至 as "-", Φ φ ф ϕ 直径
// as "φ", · as ".", ² ³ ㎡ ㎥ as their digits and units.
std::string foldText(const std::string& text);

// A unit in one spelling: m3 (m³ 立方米 立方 方), m2 (㎡ m² 平方米 平米 平方),
// t (T 吨), kg (千克 公斤), m (米 延米); any other unit as foldText leaves it.
std::string canonicalUnit(const std::string& unit);

// A grade: letters and a number ("hrb400e", "q235b", "po42.5", "c30"), or a
// bare number marked as a grade ("42.5级": family "").
struct Grade {
  std::string family;  // "hrb", "q", "po", ... ("" for a bare number)
  std::string value;   // "400e", "235b", "42.5"
  // The family's kind: grades of one kind compete (hrb and hpb are both
  // rebar grades, po and pc both cement types).
  std::string kind() const;
  friend bool operator==(const Grade&, const Grade&) = default;
};

// One value of a size, in thousandths of its unit (of a millimetre for lengths).
struct SizeValue {
  int64_t milli = 0;
  std::string dimension;  // "length", "area", "mass", "inch", or "" without a unit
};

// A size: a prefix (φ for diameters, dn, m for bolts, l for angles, "" for
// none) and either one range (lo-hi) or a chain of values joined by x or +.
struct Size {
  std::string prefix;
  bool range = false;
  std::vector<SizeValue> values;  // range: two values, lo and hi
  std::string ops;                // between the values of a chain: 'x' or '+'
};

// What a text says: its words (CJK runs and Latin words), grades and sizes.
struct Reading {
  std::vector<std::string> words;  // CJK runs and Latin words, in order
  std::vector<Grade> grades;
  std::vector<Size> sizes;
};
Reading readText(const std::string& folded);

// How a size of a line stands to a size of a product.
enum class Fit { Equal, Within, Conflict };
Fit fitSize(const Size& line, const Size& product);
// Whether two sizes are of the same kind (prefix and unit dimension alike, or
// one without a unit).
bool sameKind(const Size& line, const Size& product);

// The tokens the text similarity counts: CJK characters and pairs of them,
// Latin words, grades.
std::vector<std::string> similarityTokens(const Reading& reading);

}  // namespace price_tools::pricelist::detail
