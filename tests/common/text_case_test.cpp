#include "common/text_case.h"

#include <gtest/gtest.h>

// Names whose meaning is ASCII-case-blind change only in A-Z; the letter-by-letter
// lowering of keys changes every letter that has a case.
TEST(TextCase, AsciiLowerTouchesOnlyAsciiLetters) {
  EXPECT_EQ(common::asciiLower(std::string("CLProduct.ID Like '%Ab%'")), "clproduct.id like '%ab%'");
  EXPECT_EQ(common::asciiLower(std::string("ÀÉ螺纹钢Ｐ")), "ÀÉ螺纹钢Ｐ");
  EXPECT_EQ(common::asciiUpper(std::string("content-length: ÿ")), "CONTENT-LENGTH: ÿ");
  const std::string gbkBytes("\xC2\xDD\x5A", 3);  // a GBK character and a Z
  EXPECT_EQ(common::asciiLower(gbkBytes), std::string("\xC2\xDD\x7A", 3));
  EXPECT_EQ(common::lowerText("ÀÉＰ"), "àéｐ");
}

#include "common/html.h"

// What comes from data stands in the programs' own pages as text, never as markup.
TEST(Html, EscapesMarkupAndKeepsEverythingElse) {
  EXPECT_EQ(common::escapeHtml("<a href=\"x\">R&D</a> 螺纹钢 'q'"),
            "&lt;a href=&quot;x&quot;&gt;R&amp;D&lt;/a&gt; 螺纹钢 'q'");
}
