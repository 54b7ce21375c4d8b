#include "common/collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/collation_rules.h"
#include "common/text_case.h"

namespace common {

extern const uint8_t kCollationImage[];
extern const std::size_t kCollationImageSize;

namespace {

struct CollatorClose {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using Collator = std::unique_ptr<UCollator, CollatorClose>;

// The collator from its image; from the rules themselves (slower, the same
// order) should the image not suit the ICU the program runs with.
Collator openCollator() {
  UErrorCode status = U_ZERO_ERROR;
  static const Collator root(ucol_open("", &status));
  if (root) {
    status = U_ZERO_ERROR;
    Collator c(ucol_openBinary(kCollationImage, int32_t(kCollationImageSize), root.get(), &status));
    if (U_SUCCESS(status) && c) return c;
  }
  const std::string rules = collationRules();
  std::vector<UChar> wide(rules.size() + 1);
  int32_t length = 0;
  status = U_ZERO_ERROR;
  u_strFromUTF8(wide.data(), int32_t(wide.size()), &length, rules.data(), int32_t(rules.size()), &status);
  UParseError where{};
  Collator c(ucol_openRules(wide.data(), length, UCOL_DEFAULT, UCOL_DEFAULT, &where, &status));
  return U_SUCCESS(status) ? std::move(c) : Collator();
}

// One collator per thread (a collator is not to be shared between threads).
UCollator* collator() {
  thread_local Collator c = openCollator();
  return c.get();
}

bool needsFolding(std::string_view s) {
  for (const char ch : s) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b >= 0x80 || (b >= 'A' && b <= 'Z')) return true;
  }
  return false;
}

}  // namespace

int collateText(std::string_view a, std::string_view b) {
  // Letter case does not count: both sides folded (buffers kept per thread,
  // a sort compares millions of times).
  thread_local std::string fa, fb;
  if (needsFolding(a)) {
    foldCase(a, fa);
    a = fa;
  }
  if (needsFolding(b)) {
    foldCase(b, fb);
    b = fb;
  }
  if (a == b) return 0;
  if (UCollator* c = collator()) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(c, a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), &status);
    if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  }
  // Texts the collation holds equal (or no collation): by their bytes, so that
  // only texts equal but for letter case come together.
  return a.compare(b) < 0 ? -1 : 1;
}

}  // namespace common
