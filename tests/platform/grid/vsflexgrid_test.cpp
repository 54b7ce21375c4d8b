#include "platform/grid/vsflexgrid.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A grid laid out like the main window's: three header rows, a row-header column.
void layOut(VSFlexGrid& g, int cols) {
  g.setFixedRows(3);
  g.setRows(3);
  g.setCols(cols);
}

void addNode(VSFlexGrid& g, const std::string& text, int level) {
  g.setRows(g.Rows() + 1);
  int r = g.Rows() - 1;
  g.setCell(flexcpText, r, 1, text);
  g.setIsSubtotal(r, true);
  g.setRowOutlineLevel(r, level);
}

std::vector<std::string> shown(const VSFlexGrid& g) {
  std::vector<std::string> out;
  for (int r : g.visibleDataRows()) out.push_back(g.TextMatrix(r, 1));
  return out;
}

}  // namespace

TEST(VSFlexGrid, RowsTruncateAndExtendAndCellsKeepTheirValues) {
  VSFlexGrid g;
  layOut(g, 4);
  EXPECT_EQ(g.Rows(), 3);
  EXPECT_EQ(g.Cols(), 4);
  for (int i = 0; i < 5; ++i) {
    g.setRows(g.Rows() + 1);
    g.setCell(flexcpText, g.Rows() - 1, 1, "r" + std::to_string(i));
  }
  EXPECT_EQ(g.Rows(), 8);
  EXPECT_EQ(g.Cell(flexcpText, 7, 1).text(), "r4");
  g.setRow(7);
  g.setRows(3);  // cut back to the header rows
  EXPECT_EQ(g.Rows(), 3);
  EXPECT_EQ(g.Row(), 2) << "the current row moves to the last row left, never past the end";
  g.setRows(5);
  EXPECT_EQ(g.TextMatrix(4, 1), "") << "new rows are empty";
  // Extending the columns keeps texts; shrinking cuts them.
  g.setCell(flexcpText, 4, 3, "x");
  g.setCols(6);
  EXPECT_EQ(g.TextMatrix(4, 3), "x");
  g.setCols(2);
  EXPECT_THROW(g.TextMatrix(4, 3), GridError);
  // Refused calls.
  EXPECT_THROW(g.setColWidth(-1, 100), GridError);
  EXPECT_THROW(g.setCell(flexcpText, 9, 0, "x"), GridError);
  EXPECT_THROW(g.setRows(-1), GridError);
  EXPECT_THROW(g.setCell(flexcpLeft, 0, 0, 5), GridError);
  EXPECT_THROW(g.Cell(99, 0, 0), GridError);
}

TEST(VSFlexGrid, CellSettingsBlocksAndLeftEdge) {
  VSFlexGrid g;
  layOut(g, 5);
  g.setRows(6);
  // A block in either corner order.
  g.setCell(flexcpBackColor, 5, 4, 4, 1, 0xFFF8F0);
  EXPECT_EQ(g.cellBackColor(4, 1), 0xFFF8F0u);
  EXPECT_EQ(g.cellBackColor(5, 4), 0xFFF8F0u);
  EXPECT_FALSE(g.cellBackColor(4, 0).has_value());
  EXPECT_FALSE(g.cellBackColor(3, 1).has_value());
  g.setCell(flexcpText, 0, 4, 2, 4, "id");
  EXPECT_EQ(g.TextMatrix(0, 4), "id");
  EXPECT_EQ(g.TextMatrix(2, 4), "id");
  // Alignment: the cell's own, else the column's.
  g.setColAlignment(2, flexAlignRightCenter);
  EXPECT_EQ(g.Cell(flexcpAlignment, 3, 2).number(), flexAlignRightCenter);
  g.setCell(flexcpAlignment, 0, 2, flexAlignCenterCenter);
  EXPECT_EQ(g.Cell(flexcpAlignment, 0, 2).number(), 4);
  // Left edge: the widths of the shown columns before it.
  g.setColWidth(0, 300);
  g.setColWidth(1, 1000);
  g.setColWidth(2, 0);
  EXPECT_EQ(g.Cell(flexcpLeft, 0, 0).number(), 0);
  EXPECT_EQ(g.Cell(flexcpLeft, 0, 3).number(), 1300);
  g.setColHidden(1, true);
  EXPECT_EQ(g.Cell(flexcpLeft, 0, 3).number(), 300);
  EXPECT_EQ(g.Cell(flexcpLeft, 0, 4).number(), 300 + kDefaultColWidthTwips);
  // Check boxes: a per-cell state outside boolean columns and in header rows.
  g.setCell(flexcpChecked, 2, 1, flexUnchecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 2, 1).number(), flexUnchecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 3, 1).number(), flexNoCheckbox);
  // In a boolean column the data rows' text is the state.
  g.setColDataType(3, flexDTBoolean);
  g.setCell(flexcpText, 2, 3, "Price");
  g.setCell(flexcpChecked, 2, 3, flexChecked);
  EXPECT_EQ(g.TextMatrix(2, 3), "Price") << "a header row keeps its text";
  g.setCell(flexcpText, 3, 3, "1");
  g.setCell(flexcpText, 4, 3, "0");
  g.setCell(flexcpText, 5, 3, "");
  EXPECT_EQ(g.Cell(flexcpChecked, 3, 3).number(), flexChecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 4, 3).number(), flexUnchecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 5, 3).number(), flexUnchecked);
  g.setCell(flexcpChecked, 5, 3, flexChecked);
  EXPECT_EQ(g.Cell(flexcpChecked, 5, 3).number(), flexChecked);
  g.setCell(flexcpText, 5, 3, "0");
  EXPECT_EQ(g.Cell(flexcpChecked, 5, 3).number(), flexUnchecked);
  // Pictures.
  auto pic = std::make_shared<const QImage>(16, 16, QImage::Format_RGB32);
  g.setCell(flexcpPicture, 3, 1, pic);
  EXPECT_EQ(g.Cell(flexcpPicture, 3, 1).picture(), pic);
  EXPECT_EQ(g.cellPicture(4, 1), nullptr);
}

TEST(VSFlexGrid, OutlineFoldsByLevelAndByNode) {
  VSFlexGrid g;
  layOut(g, 3);
  addNode(g, "A", 1);
  addNode(g, "A1", 2);
  addNode(g, "A1a", 3);
  addNode(g, "A2", 2);
  addNode(g, "B", 1);
  addNode(g, "B1", 2);
  addNode(g, "B1a", 3);
  addNode(g, "B1a-file", 4);
  addNode(g, "C", 1);
  EXPECT_EQ(shown(g).size(), 9u);
  EXPECT_TRUE(g.hasChildren(3));
  EXPECT_FALSE(g.hasChildren(6));  // A2
  EXPECT_FALSE(g.hasChildren(11));  // C, last row

  g.Outline(2);
  EXPECT_EQ(shown(g), (std::vector<std::string>{"A", "A1", "A2", "B", "B1", "C"}));
  g.setIsCollapsed(8, false);  // unfold B1
  EXPECT_EQ(shown(g), (std::vector<std::string>{"A", "A1", "A2", "B", "B1", "B1a", "C"}))
      << "B1a stays folded, so its file row is hidden";
  g.setIsCollapsed(7, true);  // fold B: its whole subtree goes
  EXPECT_EQ(shown(g), (std::vector<std::string>{"A", "A1", "A2", "B", "C"}));
  g.Outline(1);
  EXPECT_EQ(shown(g), (std::vector<std::string>{"A", "B", "C"}));
  g.setRowHidden(7, true);
  EXPECT_EQ(shown(g), (std::vector<std::string>{"A", "C"}));
  EXPECT_FALSE(g.isRowVisible(8));
  EXPECT_TRUE(g.isRowVisible(3));

  // Plain rows after a folded node belong to it.
  VSFlexGrid f;
  layOut(f, 2);
  addNode(f, "N", 0);
  f.setRows(f.Rows() + 2);
  f.setIsCollapsed(3, true);
  EXPECT_EQ(f.visibleDataRows(), std::vector<int>{3});
  // A flat list without nodes shows every row.
  VSFlexGrid flat;
  layOut(flat, 2);
  flat.setRows(8);
  flat.Outline(2);
  EXPECT_EQ(flat.visibleDataRows().size(), 5u);
}

TEST(VSFlexGrid, ManyChangesReachListenersAsOneSignal) {
  int argc = 0;
  QCoreApplication app(argc, nullptr);
  VSFlexGrid g;
  layOut(g, 4);
  QCoreApplication::processEvents();
  int nSignals = 0;
  QObject::connect(&g, &VSFlexGrid::changed, [&] { ++nSignals; });
  {
    GridBatch batch(g);
    for (int i = 0; i < 10000; ++i) {
      g.setRows(g.Rows() + 1);
      g.setCell(flexcpText, g.Rows() - 1, 1, std::to_string(i));
    }
    EXPECT_EQ(nSignals, 0);
  }
  EXPECT_EQ(nSignals, 1);
  // Without a batch the changes of one turn of the event loop are delivered once.
  for (int i = 0; i < 1000; ++i) g.setRows(g.Rows() + 1);
  EXPECT_EQ(nSignals, 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(nSignals, 2);
  QCoreApplication::processEvents();
  EXPECT_EQ(nSignals, 2);
  EXPECT_EQ(g.Rows(), 3 + 11000);
  EXPECT_EQ(g.TextMatrix(3 + 9999, 1), "9999");
}

TEST(VSFlexGrid, ColumnFormatsShowNumbers) {
  EXPECT_EQ(formatCellText("0.00", "3.5"), "3.50");
  EXPECT_EQ(formatCellText("#,##0.00", "1234567.891"), "1,234,567.89");
  EXPECT_EQ(formatCellText("0.00元", "12"), "12.00元");
  EXPECT_EQ(formatCellText("0.##", "2.5"), "2.5");
  EXPECT_EQ(formatCellText("0", "-2.4"), "-2");
  EXPECT_EQ(formatCellText("0.00", "-0.001"), "0.00");
  EXPECT_EQ(formatCellText("Fixed", "7"), "7.00");
  EXPECT_EQ(formatCellText("Percent", "0.125"), "12.50%");
  EXPECT_EQ(formatCellText("0.00", "abc"), "abc") << "texts are shown unchanged";
  EXPECT_EQ(formatCellText("0.00", ""), "");
  EXPECT_EQ(formatCellText("yyyy-mm-dd", "12"), "12") << "no digit pattern: unchanged";
  VSFlexGrid g;
  layOut(g, 3);
  g.setRows(4);
  g.setColFormat(1, "0.00");
  g.setCell(flexcpText, 3, 1, "4");
  g.setCell(flexcpText, 1, 1, "9");
  EXPECT_EQ(g.displayText(3, 1), "4.00");
  EXPECT_EQ(g.displayText(1, 1), "9") << "header rows are not formatted";
  EXPECT_EQ(g.TextMatrix(3, 1), "4") << "the text itself is kept";
}
