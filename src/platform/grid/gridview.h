#pragma once
// The grid control's window: draws a VSFlexGrid and lets the user move through
// it. Both programs show their grids with it.
//
// What it draws: the visible header rows (rows below FixedRows) as a merged
// header -- in header rows marked MergeRow, neighbouring cells with equal text
// show once (a cell merges sideways only when the cells above it merged too),
// and in columns marked MergeCol a header cell with the same text as the one
// above it joins it, so a title standing in both header rows shows as one cell
// two rows high; hidden rows and columns are left out; the outline tree in
// OutlineCol (indent by level, a +/- glyph on nodes with rows below them);
// check boxes (Cell flexcpChecked, and the cells of boolean columns that hold
// a value; an empty one shows no box); cell pictures to the
// left of the text; back colours; alignments; ColFormat for numbers; row heights.
//
// What the user does: a click on a data row makes it the current row and then
// raises the grid's Click(); so do the arrow, page and Home/End keys. A click
// on a node's glyph, a double click on a node, or the keys + and - fold and
// unfold it. In a column marked ColEditable, a click on a check box toggles it
// (as does the space bar), and a double click on a cell of a column with a
// ColComboList opens the list. Clicks on header rows move nothing.
//
// Selection and copy: a click selects its row alone, a ctrl click adds or
// removes its row, a shift click (and shift with the arrow keys) selects the
// shown rows from the anchor to it; every click still moves the current row
// and raises Click() exactly as a plain one. Ctrl+A selects every shown data
// row. Ctrl+C, and 复制 on the context menu (copyAction()), put the selected
// rows (the current row when none is selected) on the clipboard as
// tab-separated text and as an HTML table with the header titles
// (platform::copyRows), cells as shown. A change of the grid's rows (a fill,
// a fold) clears the selection.
//
// It reads the grid directly and re-derives its row map only when the grid's
// structure revision moved, so a fill of any size costs one relayout.
// Twips become pixels only through platform::twipsToPixels.
#include <QAbstractScrollArea>
#include <QColor>
#include <QPalette>
#include <QRect>

#include <set>
#include <string>
#include <vector>

#include "platform/grid/vsflexgrid.h"

class QAction;
class QComboBox;

namespace platform {

class GridView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // A view of its own, new grid.
  explicit GridView(QWidget* parent = nullptr);
  // A view of a grid owned elsewhere (it must outlive the view).
  explicit GridView(VSFlexGrid* grid, QWidget* parent = nullptr);
  ~GridView() override;

  VSFlexGrid& grid() { return *grid_; }
  const VSFlexGrid& grid() const { return *grid_; }

  // One merged header cell as drawn: grid rows and columns it spans, its text,
  // and its place in viewport coordinates.
  struct HeaderBlock {
    int row1, col1, row2, col2;
    std::string text;
    QRect rect;
  };
  std::vector<HeaderBlock> headerBlocks() const;

  // The data row at a viewport y (-1 for none, header included), the cell
  // rectangle of a row and column in viewport coordinates (empty when not shown).
  int rowAt(int y) const;
  int colAt(int x) const;
  QRect cellRect(int row, int col) const;
  // The glyph box of a node row (empty when the row has none).
  QRect glyphRect(int row) const;

  // Folds or unfolds a node row.
  void toggleNode(int row);
  // Scrolls so that a row shows.
  void showRow(int row);

  // The selected data rows in grid order: the selection, or the current row
  // alone when nothing is selected (empty when there is no current data row).
  std::vector<int> selectedRows() const;
  // Selects the given rows (those that are shown data rows).
  void selectRows(const std::vector<int>& rows);
  bool isSelected(int row) const;
  // Puts selectedRows() on the clipboard (nothing when there are none).
  void copySelection();
  // The context menu's 复制; a window may put it on a menu of its own.
  QAction* copyAction() const { return copyAction_; }

  // How often the row map was rebuilt (tests: one fill, one relayout).
  int layoutPasses() const { return layoutPasses_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  struct ColGeom {
    int x = 0;  // within its region (fixed or scrolling)
    int w = 0;
    bool fixed = false;
    bool shown = false;
  };
  struct HeaderRowGeom {
    int row;
    int y;
    int h;
  };

  void init();
  void onGridChanged();
  void ensureLayout() const;
  void updateScrollBars() const;
  int headerHeight() const;
  int fixedWidth() const;
  int colLeft(int col) const;  // viewport x
  int rowIndex(int row) const;  // index in the visible data rows, -1
  void moveTo(int row, bool raiseClick);
  void selectForClick(int row, Qt::KeyboardModifiers modifiers);
  void selectRange(int from, int to);
  void openCombo(int row, int col);
  void toggleCheck(int row, int col);
  bool hasCheckBox(int row, int col) const;
  void paintCell(QPainter& p, int row, int col, const QRect& rect, bool header, bool current) const;

  VSFlexGrid* grid_;
  QComboBox* combo_ = nullptr;
  int comboRow_ = -1;
  int comboCol_ = -1;
  QAction* copyAction_ = nullptr;

  // Selected data rows and the row a shift click extends from; cleared when
  // the grid's row structure changes.
  mutable std::set<int> selection_;
  mutable int anchor_ = -1;

  // Cached geometry, rebuilt when the grid's structure revision moves.
  mutable uint64_t layoutRevision_ = 0;
  mutable std::vector<ColGeom> cols_;
  mutable std::vector<HeaderRowGeom> headerRows_;
  mutable std::vector<int> dataRows_;
  mutable std::vector<int> rowY_;  // size dataRows_ + 1: top of each data row
  mutable int fixedWidth_ = 0;
  mutable int scrollWidth_ = 0;
  mutable int headerHeight_ = 0;
  mutable int defaultRowPx_ = 17;
  mutable int layoutPasses_ = 0;
};

// A stored colour as the view draws it: 0x00BBGGRR, or a system colour
// (isSystemColour) in the desktop's colour of that role from pal (15, the
// button face, is pal's Button).
QColor colourOf(uint32_t colour, const QPalette& pal);

}  // namespace platform
