#include "platform/grid/gridview.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include "support/widgets_app.h"

using namespace platform;

namespace {

QApplication& app() { return testsupport::widgetsApp(); }

// The header the layout routine writes: titles in rows 0 and 1, row 2 hidden,
// merge flags on, two hidden trailing columns.
void header(VSFlexGrid& g, const std::vector<std::pair<std::string, std::string>>& titles, bool twoLevel) {
  g.setFixedRows(3);
  g.setFixedCols(1);
  g.setRows(3);
  g.setCols(static_cast<int>(titles.size()) + 3);
  g.setTextMatrix(0, 0, " ");
  g.setTextMatrix(1, 0, " ");
  g.setMergeCol(0, true);
  for (size_t i = 0; i < titles.size(); ++i) {
    const int c = static_cast<int>(i) + 1;
    g.setTextMatrix(0, c, titles[i].first);
    g.setTextMatrix(1, c, titles[i].second);
    g.setMergeCol(c, true);
    g.setColWidth(c, 1200);
  }
  g.setMergeRow(0, true);
  g.setMergeRow(1, true);
  g.setRowHidden(1, !twoLevel);
  g.setRowHidden(2, true);
  g.setColHidden(g.Cols() - 1, true);
  g.setColHidden(g.Cols() - 2, true);
}

std::string describe(const std::vector<GridView::HeaderBlock>& blocks) {
  std::string s;
  for (const auto& b : blocks)
    s += "[" + b.text + " r" + std::to_string(b.row1) + "-" + std::to_string(b.row2) + " c" + std::to_string(b.col1) +
         "-" + std::to_string(b.col2) + "]";
  return s;
}

}  // namespace

TEST(GridView, TwoLevelHeaderMergesGroupsAndStandsSingleTitlesTwoRowsHigh) {
  app();
  GridView view;
  view.resize(900, 300);
  VSFlexGrid& g = view.grid();
  // 名称 | 价格-含税 价格-不含税 | 规格 | 单位-x, 其他-x
  header(g, {{"名称", "名称"}, {"价格", "含税"}, {"价格", "不含税"}, {"规格", "规格"}, {"单位", "x"}, {"其他", "x"}},
         true);
  g.flushChanges();
  const std::string d = describe(view.headerBlocks());
  EXPECT_EQ(d,
            "[  r0-1 c0-0][名称 r0-1 c1-1][价格 r0-0 c2-3][规格 r0-1 c4-4][单位 r0-0 c5-5][其他 r0-0 c6-6]"
            "[含税 r1-1 c2-2][不含税 r1-1 c3-3][x r1-1 c5-5][x r1-1 c6-6]")
      << "equal lower titles under different groups stay apart; hidden columns are left out";
  auto blocks = view.headerBlocks();
  // The group cell spans both of its columns, the single title both rows.
  EXPECT_EQ(blocks[2].rect.width(), view.cellRect(0, 2).width() + view.cellRect(0, 3).width());
  EXPECT_EQ(blocks[1].rect.height(), view.cellRect(0, 1).height() + view.cellRect(1, 1).height());

  // Without lower titles row 1 is hidden and row 0 alone is the header.
  header(g, {{"名称", "名称"}, {"规格", "规格"}}, false);
  g.flushChanges();
  EXPECT_EQ(describe(view.headerBlocks()), "[  r0-0 c0-0][名称 r0-0 c1-1][规格 r0-0 c2-2]");
  EXPECT_EQ(view.rowAt(view.cellRect(0, 1).center().y()), -1) << "the header is no data row";
}

TEST(GridView, FoldingByGlyphAndKeysAndClickAfterTheRowMoved) {
  app();
  GridView view;
  view.resize(600, 400);
  view.show();
  VSFlexGrid& g = view.grid();
  header(g, {{"名称", "名称"}}, false);
  g.setOutlineBar(flexOutlineBarCompleteLeaf);
  g.setOutlineCol(1);
  const std::vector<std::pair<std::string, int>> nodes = {{"A", 1}, {"A1", 2}, {"A1a", 3}, {"B", 1}, {"B1", 2}};
  for (const auto& [text, level] : nodes) {
    g.setRows(g.Rows() + 1);
    g.setTextMatrix(g.Rows() - 1, 1, text);
    g.setIsSubtotal(g.Rows() - 1, true);
    g.setRowOutlineLevel(g.Rows() - 1, level);
  }
  g.Outline(2);
  g.flushChanges();
  EXPECT_EQ(g.visibleDataRows(), (std::vector<int>{3, 4, 6, 7}));

  // A click on the glyph of A1 unfolds it and does not move the current row.
  int clicks = 0;
  int rowAtClick = -1;
  QObject::connect(&g, &VSFlexGrid::Click, [&] {
    ++clicks;
    rowAtClick = g.Row();
  });
  const QRect glyph = view.glyphRect(4);
  ASSERT_FALSE(glyph.isEmpty());
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, glyph.center());
  EXPECT_EQ(g.visibleDataRows(), (std::vector<int>{3, 4, 5, 6, 7}));
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(view.glyphRect(5).isEmpty()) << "a leaf has no glyph";

  // A click on a row's text moves the row, then raises Click.
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.cellRect(6, 1).center() + QPoint(20, 0));
  EXPECT_EQ(g.Row(), 6);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(rowAtClick, 6);

  // Keys: - folds the current node (B), + unfolds it, Up moves and clicks.
  QTest::keyClick(&view, Qt::Key_Minus);
  EXPECT_EQ(g.visibleDataRows(), (std::vector<int>{3, 4, 5, 6}));
  QTest::keyClick(&view, Qt::Key_Plus);
  EXPECT_EQ(g.visibleDataRows(), (std::vector<int>{3, 4, 5, 6, 7}));
  QTest::keyClick(&view, Qt::Key_Up);
  EXPECT_EQ(g.Row(), 5);
  EXPECT_EQ(rowAtClick, 5);
  EXPECT_EQ(clicks, 2);
  // A click on the header moves nothing.
  view.grid().setRowHidden(1, true);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(40, 3));
  EXPECT_EQ(g.Row(), 5);
  EXPECT_EQ(clicks, 2);
}

TEST(GridView, CheckBoxesToggleOnlyInEditableColumns) {
  app();
  GridView view;
  view.resize(600, 300);
  view.show();
  VSFlexGrid& g = view.grid();
  g.setFixedRows(1);
  g.setFixedCols(0);
  g.setCols(2);
  g.setRows(4);
  g.setColDataType(0, flexDTBoolean);
  g.setTextMatrix(1, 0, "1");
  g.setTextMatrix(2, 0, "0");  // row 3 stays empty: a group row without a box
  g.flushChanges();
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.cellRect(1, 0).center());
  EXPECT_EQ(g.cellChecked(1, 0), flexChecked) << "read-only column";
  g.setColEditable(0, true);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.cellRect(1, 0).center());
  EXPECT_EQ(g.cellChecked(1, 0), flexUnchecked);
  EXPECT_EQ(g.TextMatrix(1, 0), "0");
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.cellRect(2, 0).center());
  EXPECT_EQ(g.cellChecked(2, 0), flexChecked);
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.cellRect(3, 0).center());
  EXPECT_EQ(g.TextMatrix(3, 0), "") << "no box, nothing to tick";
  EXPECT_EQ(g.Row(), 3) << "the click still moves the row";
}

TEST(GridView, HundredThousandRowsArriveAsOneUpdate) {
  app();
  GridView view;
  view.resize(800, 600);
  view.show();
  VSFlexGrid& g = view.grid();
  header(g, {{"名称", "名称"}, {"价格", "价格"}}, false);
  g.setColFormat(2, "0.00");
  QApplication::processEvents();
  const uint64_t signalsBefore = g.changeSignals();
  const int passesBefore = view.layoutPasses();
  {
    GridBatch batch(g);
    for (int i = 0; i < 100000; ++i) {
      g.setRows(g.Rows() + 1);
      const int r = g.Rows() - 1;
      g.setTextMatrix(r, 1, "产品" + std::to_string(i));
      g.setTextMatrix(r, 2, std::to_string(i) + ".5");
      if (r % 2 == 0) g.setCell(flexcpBackColor, r, 1, r, g.Cols() - 1, 0xFFF8F0);
    }
  }
  QApplication::processEvents();
  EXPECT_EQ(g.changeSignals() - signalsBefore, 1u);
  EXPECT_EQ(view.layoutPasses() - passesBefore, 1);
  // The last row can be reached and is drawn where the map says.
  QTest::keyClick(&view, Qt::Key_End);
  EXPECT_EQ(g.Row(), 100002);
  EXPECT_TRUE(view.viewport()->rect().intersects(view.cellRect(100002, 1)));
  EXPECT_EQ(view.rowAt(view.cellRect(100002, 1).center().y()), 100002);
  EXPECT_EQ(g.displayText(100002, 2), "99999.50");
  view.viewport()->repaint();
}

// A system colour as VB stores it (&H80000000 + index) is kept whole and
// drawn in the desktop's colour of that role; a plain colour keeps 24 bits.
TEST(GridColours, SystemColoursAreTheDesktopsColours) {
  platform::VSFlexGrid g;
  g.setRows(2);
  g.setCols(2);
  g.setCell(platform::flexcpBackColor, 0, 1, static_cast<long long>(-2147483633));  // &H8000000F, button face
  g.setCell(platform::flexcpBackColor, 1, 1, static_cast<long long>(0x7F00F8F0));
  EXPECT_EQ(g.cellBackColor(0, 1), 0x8000000Fu);
  EXPECT_EQ(g.Cell(platform::flexcpBackColor, 0, 1).number(), -2147483633LL);
  EXPECT_EQ(g.cellBackColor(1, 1), 0x00F8F0u);
  QPalette pal;
  pal.setColor(QPalette::Button, QColor(10, 20, 30));
  pal.setColor(QPalette::Base, QColor(250, 250, 250));
  pal.setColor(QPalette::ToolTipBase, QColor(1, 2, 3));
  EXPECT_EQ(platform::colourOf(0x8000000Fu, pal), QColor(10, 20, 30));
  EXPECT_EQ(platform::colourOf(0x80000005u, pal), QColor(250, 250, 250));
  EXPECT_EQ(platform::colourOf(0x80000018u, pal), QColor(1, 2, 3));
  EXPECT_EQ(platform::colourOf(0x00F8F0u, pal), QColor(0xF0, 0xF8, 0x00));

  // As drawn: a data cell of the button face is painted in the view's own
  // button colour, not in the low bytes of the stored value.
  app();
  GridView view;
  view.setPalette(pal);
  view.resize(400, 300);
  view.show();
  VSFlexGrid& v = view.grid();
  header(v, {{"名称", "名称"}}, false);
  v.setRows(5);
  v.setCell(platform::flexcpBackColor, 3, 1, static_cast<long long>(-2147483633));
  v.setCell(platform::flexcpBackColor, 4, 1, static_cast<long long>(0x7F00F8F0));
  v.setRow(2);
  v.flushChanges();
  const QImage shot = view.viewport()->grab().toImage();
  const QRect face = view.cellRect(3, 1);
  const QRect plain = view.cellRect(4, 1);
  ASSERT_FALSE(face.isEmpty());
  ASSERT_FALSE(plain.isEmpty());
  EXPECT_EQ(shot.pixelColor(face.center()), QColor(10, 20, 30));
  EXPECT_EQ(shot.pixelColor(plain.center()), QColor(0xF0, 0xF8, 0x00));
}
