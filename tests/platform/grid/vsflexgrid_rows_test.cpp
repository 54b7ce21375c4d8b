// Grids of many rows: cells keep what they were given wherever the row falls,
// rows cut off and added again start empty, and a change of the column count
// keeps every remaining cell of every row.
#include "platform/grid/vsflexgrid.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace platform;

namespace {

// A distinct text and colour for every cell.
std::string textOf(int row, int col) { return "r" + std::to_string(row) + "c" + std::to_string(col); }
uint32_t colourOf(int row, int col) { return static_cast<uint32_t>(row * 16 + col) & 0xFFFFFFu; }

// Every property of one cell, set by hand.
void dress(VSFlexGrid& g, int row, int col, const Picture& pic) {
  g.setTextMatrix(row, col, textOf(row, col));
  g.setCell(flexcpBackColor, row, col, static_cast<long long>(colourOf(row, col)));
  g.setCell(flexcpAlignment, row, col, flexAlignCenterCenter);
  g.setCell(flexcpChecked, row, col, flexChecked);
  g.setCell(flexcpPicture, row, col, pic);
}

// Whether a cell is as a new row's cell is: no text, colour, own alignment,
// check box or picture.
::testing::AssertionResult isBlank(const VSFlexGrid& g, int row, int col) {
  if (!g.TextMatrix(row, col).empty()) return ::testing::AssertionFailure() << "text " << g.TextMatrix(row, col);
  if (g.cellBackColor(row, col)) return ::testing::AssertionFailure() << "colour " << *g.cellBackColor(row, col);
  if (g.cellAlignment(row, col) != g.ColAlignment(col)) return ::testing::AssertionFailure() << "alignment";
  if (g.cellChecked(row, col) != flexNoCheckbox) return ::testing::AssertionFailure() << "check box";
  if (g.cellPicture(row, col)) return ::testing::AssertionFailure() << "picture";
  if (g.IsSubtotal(row) || g.RowOutlineLevel(row) != 0) return ::testing::AssertionFailure() << "outline";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult isDressed(const VSFlexGrid& g, int row, int col, const Picture& pic) {
  if (g.TextMatrix(row, col) != textOf(row, col)) return ::testing::AssertionFailure() << "text " << g.TextMatrix(row, col);
  if (g.cellBackColor(row, col) != colourOf(row, col)) return ::testing::AssertionFailure() << "colour";
  if (g.cellAlignment(row, col) != flexAlignCenterCenter) return ::testing::AssertionFailure() << "alignment";
  if (g.cellChecked(row, col) != flexChecked) return ::testing::AssertionFailure() << "check box";
  if (g.cellPicture(row, col) != pic) return ::testing::AssertionFailure() << "picture";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(VSFlexGridRows, RowsCutOffAndAddedAgainStartEmptyWhereverTheCutFalls) {
  auto pic = std::make_shared<const QImage>(4, 4, QImage::Format_RGB32);
  // Cuts inside a run of rows, on a multiple of 256 and just beside one, and
  // down to none: the rows kept keep everything, the rows added again have
  // nothing of what stood there before.
  for (const int cut : {300, 256, 255, 257, 1, 0}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    VSFlexGrid g;
    g.setCols(3);
    for (int r = 0; r < 1000; ++r) {
      g.setRows(g.Rows() + 1);
      for (int c = 0; c < 3; ++c) dress(g, r, c, pic);
      g.setIsSubtotal(r, true);
      g.setRowOutlineLevel(r, 2);
    }
    g.setRows(cut);
    g.setRows(1000);
    for (int r = 0; r < 1000; ++r)
      for (int c = 0; c < 3; ++c) {
        if (r < cut)
          ASSERT_TRUE(isDressed(g, r, c, pic)) << "row " << r << " col " << c;
        else
          ASSERT_TRUE(isBlank(g, r, c)) << "row " << r << " col " << c;
      }
  }
}

TEST(VSFlexGridRows, ColumnCountChangesKeepEveryRowsCells) {
  auto pic = std::make_shared<const QImage>(4, 4, QImage::Format_RGB32);
  VSFlexGrid g;
  g.setCols(4);
  g.setRows(700);
  for (int r = 0; r < 700; ++r)
    for (int c = 0; c < 4; ++c) dress(g, r, c, pic);
  g.setCols(7);
  for (int r = 0; r < 700; ++r) {
    for (int c = 0; c < 4; ++c) ASSERT_TRUE(isDressed(g, r, c, pic)) << "row " << r << " col " << c;
    for (int c = 4; c < 7; ++c) ASSERT_TRUE(isBlank(g, r, c)) << "row " << r << " new col " << c;
  }
  // Fewer columns, then more again: the columns cut off come back empty.
  g.setCols(2);
  g.setCols(5);
  for (int r = 0; r < 700; ++r) {
    for (int c = 0; c < 2; ++c) ASSERT_TRUE(isDressed(g, r, c, pic)) << "row " << r << " col " << c;
    for (int c = 2; c < 5; ++c) ASSERT_TRUE(isBlank(g, r, c)) << "row " << r << " col " << c << " again";
  }
  // Rows added after the change have the new width, and stay apart from the
  // rows before them.
  g.setRows(900);
  g.setTextMatrix(899, 4, "last");
  EXPECT_EQ(g.TextMatrix(899, 4), "last");
  EXPECT_TRUE(isBlank(g, 898, 4));
  EXPECT_TRUE(isDressed(g, 699, 1, pic));
  // No columns at all, then some: rows are still there, and empty.
  g.setCols(0);
  EXPECT_EQ(g.Rows(), 900);
  g.setCols(2);
  EXPECT_TRUE(isBlank(g, 0, 0));
  EXPECT_TRUE(isBlank(g, 899, 1));
}

TEST(VSFlexGridRows, ShadingEveryOtherRowOfALongListColoursOnlyThoseCells) {
  VSFlexGrid g;
  g.setFixedRows(3);
  g.setCols(6);
  g.setRows(3 + 2000);
  for (int r = 4; r < g.Rows(); r += 2) g.setCell(flexcpBackColor, r, 1, r, g.Cols() - 1, 0xFFF8F0);
  // A system colour is kept whole, beside the ordinary ones.
  g.setCell(flexcpBackColor, 5, 2, static_cast<long long>(kSystemColourBase + 15));
  for (int r = 3; r < g.Rows(); ++r)
    for (int c = 0; c < g.Cols(); ++c) {
      std::optional<uint32_t> want;
      if (r % 2 == 0 && c >= 1) want = 0xFFF8F0u;
      if (r == 5 && c == 2) want = kSystemColourBase + 15;
      ASSERT_EQ(g.cellBackColor(r, c), want) << "row " << r << " col " << c;
    }
  EXPECT_EQ(g.Cell(flexcpBackColor, 5, 2).number(), static_cast<int32_t>(kSystemColourBase + 15));
  EXPECT_EQ(g.Cell(flexcpBackColor, 3, 1).number(), 0xFFFFFF) << "an unshaded cell reads back white";
}
