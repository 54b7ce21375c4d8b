// velmora-collation-image OUT.cpp: builds the collator of the text order from
// its rules and writes its binary image as a C++ array, so that the programs
// open it in a moment instead of building 25,000 rules at every start.
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/collation_rules.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-collation-image OUT.cpp\n");
    return 2;
  }
  const std::string rules = common::collationRules();
  UErrorCode status = U_ZERO_ERROR;
  std::vector<UChar> wide(rules.size() + 1);
  int32_t length = 0;
  u_strFromUTF8(wide.data(), int32_t(wide.size()), &length, rules.data(), int32_t(rules.size()), &status);
  UParseError where{};
  UCollator* c = U_SUCCESS(status) ? ucol_openRules(wide.data(), length, UCOL_DEFAULT, UCOL_DEFAULT, &where, &status)
                                   : nullptr;
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "collation rules: %s at %d\n", u_errorName(status), int(where.offset));
    return 1;
  }
  const int32_t size = ucol_cloneBinary(c, nullptr, 0, &status);
  status = U_ZERO_ERROR;
  std::vector<uint8_t> image(static_cast<std::size_t>(size));
  ucol_cloneBinary(c, image.data(), size, &status);
  ucol_close(c);
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "collation image: %s\n", u_errorName(status));
    return 1;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (!out) return 1;
  std::fprintf(out, "// Made by velmora-collation-image from collation_rules.h.\n#include <cstddef>\n#include <cstdint>\n"
                    "namespace common {\nalignas(16) extern const uint8_t kCollationImage[] = {\n");
  for (int32_t i = 0; i < size; ++i) std::fprintf(out, "%d,%s", image[std::size_t(i)], i % 32 == 31 ? "\n" : "");
  std::fprintf(out, "};\nextern const std::size_t kCollationImageSize = %d;\n}  // namespace common\n", int(size));
  return std::fclose(out) == 0 ? 0 : 1;
}
