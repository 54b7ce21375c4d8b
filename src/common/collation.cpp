#include "common/collation.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/text_case.h"

namespace common {

namespace {

struct CollatorClose {
  void operator()(UCollator* c) const { ucol_close(c); }
};

// One collator per thread (a collator is not to be shared between threads):
// ICU's Chinese order, which is pinyin.
UCollator* collator() {
  thread_local std::unique_ptr<UCollator, CollatorClose> c = [] {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* made = ucol_open("zh@collation=pinyin", &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      made = ucol_open("zh", &status);
    }
    if (U_FAILURE(status)) return std::unique_ptr<UCollator, CollatorClose>();
    // The system puts Latin letters before Chinese ones (ICU's Chinese order
    // puts Chinese first): the scripts in their common order, Chinese among
    // itself by pinyin.
    const int32_t none = UCOL_REORDER_CODE_NONE;
    ucol_setReorderCodes(made, &none, 1, &status);
    return std::unique_ptr<UCollator, CollatorClose>(made);
  }();
  return c.get();
}

bool hasUpperAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

int collateText(std::string_view a, std::string_view b) {
  // Letter case of ASCII letters does not count: both sides lowered.
  std::string la, lb;
  if (hasUpperAscii(a)) {
    la = asciiLower(std::string(a));
    a = la;
  }
  if (hasUpperAscii(b)) {
    lb = asciiLower(std::string(b));
    b = lb;
  }
  if (a == b) return 0;
  if (UCollator* c = collator()) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(c, a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), &status);
    if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  }
  // Texts the collation holds equal (or no collation): by their bytes, so that
  // only texts equal but for ASCII case come together.
  return a.compare(b) < 0 ? -1 : 1;
}

}  // namespace common
