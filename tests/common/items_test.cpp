#include "common/items.h"

#include <gtest/gtest.h>

using common::readItems;
using V = std::vector<std::string>;

TEST(ItemReader, SplitsAtCommasAndLineEnds) {
  EXPECT_EQ(readItems("sname=Velmora\r\ntimer=5000\r\n", 50), (V{"sname=Velmora", "timer=5000"}));
  EXPECT_EQ(readItems("a,b\r\nc", 50), (V{"a", "b", "c"}));
  // Lone LF and lone CR end a line as CR LF does.
  EXPECT_EQ(readItems("a\nb\rc\r\n", 50), (V{"a", "b", "c"}));
  // The last line needs no line end; an empty text has no items.
  EXPECT_EQ(readItems("a\r\nlast", 50), (V{"a", "last"}));
  EXPECT_TRUE(readItems("", 50).empty());
}

TEST(ItemReader, BlanksAndEmptyLines) {
  EXPECT_EQ(readItems("   a,  b  \r\n", 50), (V{"a", "b  "}));
  EXPECT_EQ(readItems("a\r\n\r\nb\r\n", 50), (V{"a", "", "b"}));
  EXPECT_EQ(readItems("\r\n", 50), (V{""}));
  // A comma at the end of a line leaves an empty item before the line end.
  EXPECT_EQ(readItems("a,\r\nb", 50), (V{"a", "", "b"}));
}

TEST(ItemReader, TabsAreBlanksToo) {
  // A tab before an item is skipped as a space is, also before a quote and
  // mixed with spaces; a tab inside or after an item stays.
  EXPECT_EQ(readItems("\tsname=Velmora\r\n\t \ttimer=5000", 50), (V{"sname=Velmora", "timer=5000"}));
  EXPECT_EQ(readItems("a,\tb\tc", 50), (V{"a", "b\tc"}));
  EXPECT_EQ(readItems("\t\"q,r\"\t,\t\"s\"", 50), (V{"q,r", "s"}));
  // A line of blanks only is an empty item.
  EXPECT_EQ(readItems("\t \r\nb", 50), (V{"", "b"}));
}

TEST(ItemReader, QuotedItems) {
  // A comma inside quotes belongs to the item.
  EXPECT_EQ(readItems("\"url=http://x/a,b\"\r\nnext", 50), (V{"url=http://x/a,b", "next"}));
  // Text after the closing quote is skipped up to the comma or line end.
  EXPECT_EQ(readItems("\"ab\"cd,ef\r\n\"gh\" junk\r\nij", 50), (V{"ab", "ef", "gh", "ij"}));
  EXPECT_EQ(readItems("\"\"\r\n\"x\"", 50), (V{"", "x"}));
  // An unterminated quote runs to the end of the text.
  EXPECT_EQ(readItems("a\r\n\"open, never closed\r\nb", 50), (V{"a", "open, never closed\r\nb"}));
  // Blanks before a quoted item are skipped.
  EXPECT_EQ(readItems("  \"q\"", 50), (V{"q"}));
}

TEST(ItemReader, StopsAtTheItemLimit) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "k" + std::to_string(i) + "\r\n";
  auto items = readItems(text, 50);
  ASSERT_EQ(items.size(), 50u);
  EXPECT_EQ(items.back(), "k49");
  EXPECT_EQ(readItems("a,b,c", 2), (V{"a", "b"}));
}

TEST(ItemWriter, FormatsOneValueALine) {
  EXPECT_EQ(common::formatItems({std::string("Ostravel"), std::string(""), std::nullopt, std::string("a,b")}),
            "\"Ostravel\"\r\n\"\"\r\n\r\n\"a,b\"\r\n");
  // What the writer wrote, the reader reads back, commas included.
  auto text = common::formatItems({std::string("x,y"), std::nullopt, std::string("a\\b\\")});
  EXPECT_EQ(readItems(text, 10), (V{"x,y", "", "a\\b\\"}));
}
