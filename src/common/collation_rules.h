#pragma once
// The rules of the text order (collation.cpp), shared with the build step that
// turns them into the collator's image once (collation_image.cpp): digits,
// then Chinese by the reading of a Chinese system, then Latin and the other
// scripts; blanks and punctuation count only where the texts are otherwise
// equal.
#include <string>

namespace common {

#include "common/collation_han.inc"

inline std::string collationRules() {
  std::string rules = "[reorder Hani][alternate shifted]&[last regular]<'\uFDD0A'<*";
  for (const char* line : kHanOrder) rules += line;
  return rules;
}

}  // namespace common
