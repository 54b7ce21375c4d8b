#pragma once
// The grid control of both programs: a table of rows and columns counted from
// 0, with per-cell text and properties, row and column properties, an outline
// (tree) and a Tag text. Members carry the names the forms and the data module
// call them by (Rows, Cols, Cell, ColWidth, IsSubtotal, Outline, ...).
//
// This is the model only (no widgets): the data module fills it headless, and
// GridView (gridview.h) draws it. Sizes are in twips, colours are 24-bit
// values with red in the low byte.
//
// Change notification. Every change bumps revision counters at once (a view
// reads the grid directly and re-derives what it caches when a counter moved),
// and raises the signal changed() coalesced:
//   - inside a GridBatch (or between setRedraw(false) and setRedraw(true)) no
//     signal is raised; closing the outermost batch raises one;
//   - outside a batch, the first change posts one delivery to the event loop,
//     so a loop of ten thousand setRows(Rows()+1) still reaches a view as one
//     update.
// Click() is raised by the view (fireClick()) after the current row has moved.
//
// A call the control refuses (a row or column outside the grid, a negative
// count, an unknown Cell setting) throws GridError.
#include <QImage>
#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/grid/format.h"

namespace platform {

struct GridError : std::out_of_range {
  using std::out_of_range::out_of_range;
};

// A loaded picture (cell picture, icon); shared between the cells showing it.
using Picture = std::shared_ptr<const QImage>;

// Settings of Cell().
enum CellPropertySettings {
  flexcpText = 0,       // text
  flexcpAlignment = 2,  // AlignmentSettings
  flexcpPicture = 3,    // Picture
  flexcpChecked = 5,    // CheckedSettings
  flexcpBackColor = 6,  // colour, red in the low byte
  flexcpLeft = 22,      // left edge of the cell in twips (read only)
};

enum AlignmentSettings {
  flexAlignLeftTop = 0,
  flexAlignLeftCenter = 1,
  flexAlignLeftBottom = 2,
  flexAlignCenterTop = 3,
  flexAlignCenterCenter = 4,
  flexAlignCenterBottom = 5,
  flexAlignRightTop = 6,
  flexAlignRightCenter = 7,
  flexAlignRightBottom = 8,
  flexAlignGeneral = 9,  // numbers right, texts left, vertically centred
};

enum CheckedSettings { flexNoCheckbox = 0, flexChecked = 1, flexUnchecked = 2 };

enum DataTypeSettings { flexDTDefault = 0, flexDTBoolean = 11 };

enum OutlineBarSettings {
  flexOutlineBarNone = 0,
  flexOutlineBarComplete = 1,
  flexOutlineBarSimple = 2,
  flexOutlineBarSymbols = 3,
  flexOutlineBarCompleteLeaf = 4,
  flexOutlineBarSimpleLeaf = 5,
  flexOutlineBarSymbolsLeaf = 6,
};

// GridLines: the lines drawn between cells.
enum GridLineSettings {
  flexGridNone = 0,
  flexGridFlat = 1,
};

// Default column width and row height of a fresh grid, in twips.
// A system colour as VB stores it: &H80000000 + the index of the colour
// (0 scroll bars ... 15 button face ... 24 tooltip background).
constexpr uint32_t kSystemColourBase = 0x80000000u;
constexpr uint32_t kSystemColourCount = 25;
constexpr bool isSystemColour(uint32_t colour) {
  return colour >= kSystemColourBase && colour < kSystemColourBase + kSystemColourCount;
}

constexpr int kDefaultColWidthTwips = 960;
constexpr int kDefaultRowHeightTwips = 255;

// One value passed to or read from Cell(): a text, a number or a picture.
class CellValue {
 public:
  CellValue() = default;
  CellValue(const char* text) : text_(text), isText_(true) {}
  CellValue(std::string text) : text_(std::move(text)), isText_(true) {}
  CellValue(int number) : number_(number) {}
  CellValue(long number) : number_(number) {}
  CellValue(long long number) : number_(number) {}
  CellValue(unsigned number) : number_(number) {}
  CellValue(Picture picture) : picture_(std::move(picture)) {}

  // The value as text (a number in decimal).
  std::string text() const { return isText_ ? text_ : std::to_string(number_); }
  // The value as a number (a text that is not a whole number gives 0).
  long long number() const;
  const Picture& picture() const { return picture_; }
  bool isText() const { return isText_; }

 private:
  std::string text_;
  long long number_ = 0;
  Picture picture_;
  bool isText_ = false;
};

class VSFlexGrid : public QObject {
  Q_OBJECT

 public:
  explicit VSFlexGrid(QObject* parent = nullptr);
  ~VSFlexGrid() override;

  // --- grid-wide properties ------------------------------------------------
  const std::string& Tag() const { return tag_; }
  void setTag(const std::string& tag) { tag_ = tag; }

  int Rows() const { return static_cast<int>(rows_.size()); }
  // Truncates or extends the row list; new rows are empty. Raising by one is
  // amortised constant.
  void setRows(int rows);
  int Cols() const { return static_cast<int>(cols_.size()); }
  void setCols(int cols);

  // Header rows and columns (drawn as headers, not selectable).
  int FixedRows() const { return fixedRows_; }
  void setFixedRows(int n);
  int FixedCols() const { return fixedCols_; }
  void setFixedCols(int n);

  // The member reached by dispatch identifier 11: the number of the last
  // header row; rows 0 up to and including it are header rows (FixedRows - 1).
  int LastHeaderRow() const { return fixedRows_ - 1; }

  // The current row; -1 when none. Setting it does not raise Click().
  int Row() const { return row_; }
  void setRow(int row);
  int Col() const { return col_; }
  void setCol(int col);

  // The control's width in twips (the view keeps it up to date).
  int Width() const { return width_; }
  void setWidth(int twips);

  // --- cells -----------------------------------------------------------------
  CellValue Cell(int setting, int row, int col) const;
  // Sets one cell, or every cell of the block (row1, col1)-(row2, col2) (either
  // corner order).
  void setCell(int setting, int row, int col, const CellValue& value);
  void setCell(int setting, int row1, int col1, int row2, int col2, const CellValue& value);

  // Fast text access (the same as Cell(flexcpText, ...)).
  const std::string& TextMatrix(int row, int col) const;
  void setTextMatrix(int row, int col, std::string text);

  // Per-cell properties, typed. Alignment -1: the column's.
  int cellAlignment(int row, int col) const;
  int cellChecked(int row, int col) const;
  std::optional<uint32_t> cellBackColor(int row, int col) const;
  Picture cellPicture(int row, int col) const;
  // The text the cell shows: for a column with a format, numbers formatted
  // (formatCellText, format.h).
  std::string displayText(int row, int col) const;

  // --- columns ---------------------------------------------------------------
  // -1 = default width.
  int ColWidth(int col) const;
  void setColWidth(int col, int twips);
  // The width a column is drawn with (default resolved), in twips.
  int effectiveColWidth(int col) const;
  int ColAlignment(int col) const;
  void setColAlignment(int col, int alignment);
  int ColDataType(int col) const;
  void setColDataType(int col, int type);
  const std::string& ColFormat(int col) const;
  void setColFormat(int col, const std::string& format);
  const std::string& ColComboList(int col) const;
  void setColComboList(int col, const std::string& list);
  bool ColHidden(int col) const;
  void setColHidden(int col, bool hidden);
  bool MergeCol(int col) const;
  void setMergeCol(int col, bool merge);
  // The indexed column switch reached by dispatch identifier 171. Stored and
  // read back; the view draws nothing differently for it.
  bool ColSwitch171(int col) const;
  void setColSwitch171(int col, bool on);
  // Whether the user may edit the column (the view offers the drop-down list
  // and toggles check boxes only in editable columns). Default false.
  bool ColEditable(int col) const;
  void setColEditable(int col, bool editable);

  // --- rows ------------------------------------------------------------------
  bool RowHidden(int row) const;
  void setRowHidden(int row, bool hidden);
  // -1 = default height.
  int RowHeight(int row) const;
  void setRowHeight(int row, int twips);
  int effectiveRowHeight(int row) const;
  bool MergeRow(int row) const;
  void setMergeRow(int row, bool merge);

  int GridLines() const { return gridLines_; }
  void setGridLines(int lines);

  // --- outline ---------------------------------------------------------------
  int OutlineBar() const { return outlineBar_; }
  void setOutlineBar(int bar);
  int OutlineCol() const { return outlineCol_; }
  void setOutlineCol(int col);
  bool IsSubtotal(int row) const;
  void setIsSubtotal(int row, bool node);
  int RowOutlineLevel(int row) const;
  void setRowOutlineLevel(int row, int level);
  bool IsCollapsed(int row) const;
  void setIsCollapsed(int row, bool collapsed);
  // Folds the outline so that nodes down to `level` show: nodes above that
  // level open, nodes of that level and deeper folded.
  void Outline(int level);
  // Whether a node row has rows below it in the outline (drawn with a glyph).
  bool hasChildren(int row) const;
  // Whether the row is shown: not hidden and no folded node above it.
  bool isRowVisible(int row) const;
  // The shown rows below the header rows, in order (rebuilt when needed).
  const std::vector<int>& visibleDataRows() const;

  // --- events and notification -----------------------------------------------
  // Raises Click(); the view calls it after it has moved the current row.
  void fireClick() { emit Click(); }
  bool Redraw() const { return batchDepth_ == 0; }
  void setRedraw(bool on);
  // Delivers pending change notification now (headless callers, tests).
  void flushChanges();
  // Row/column/outline structure and content revisions.
  uint64_t structureRevision() const { return structureRevision_; }
  uint64_t contentRevision() const { return contentRevision_; }
  // Number of changed() signals raised so far.
  uint64_t changeSignals() const { return changeSignals_; }

 signals:
  void Click();
  // Something changed; re-read what is needed.
  void changed();
  void currentRowChanged(int row);

 private:
  // Storage. Rows live in blocks of kBlockRows: a block holds the texts of its
  // rows row by row (Cols() per row) and, only once one of its cells has one,
  // an array of each per-cell property (back colour, alignment, check state,
  // picture) over the whole block. Adding a row touches its block alone (no
  // allocation per row or per empty cell, no text moved when the grid grows
  // past a block), and the shading of every other row costs four bytes a
  // cell. The per-row flags the outline and the view scan are kept apart,
  // one small record per row.
  static constexpr int kBlockShift = 8;
  static constexpr int kBlockRows = 1 << kBlockShift;
  static constexpr int kBlockMask = kBlockRows - 1;
  // A back colour slot without a colour: stored colours are 0x00BBGGRR or a
  // system colour (isSystemColour), never all ones.
  static constexpr uint32_t kNoBackColor = 0xFFFFFFFFu;

  struct RowData {
    int height = -1;
    int8_t level = 0;
    bool hidden = false;
    bool subtotal = false;
    bool collapsed = false;
    bool merge = false;
  };
  struct RowBlock {
    std::vector<std::string> text;     // (rows in the block) x Cols()
    std::vector<uint32_t> backColor;   // empty, or kBlockRows x Cols()
    std::vector<int8_t> alignment;     // empty, or kBlockRows x Cols(); -1: the column's
    std::vector<int8_t> checked;       // empty, or kBlockRows x Cols()
    std::vector<Picture> picture;      // empty, or kBlockRows x Cols()
  };
  struct ColData {
    std::string format;
    std::string comboList;
    int width = -1;
    int alignment = flexAlignGeneral;
    int dataType = flexDTDefault;
    bool hidden = false;
    bool merge = false;
    bool switch171 = false;
    bool editable = false;
  };

  void checkRow(int row) const;
  void checkCol(int col) const;
  void checkCell(int row, int col) const;
  RowBlock& blockOf(int row) { return blocks_[static_cast<size_t>(row) >> kBlockShift]; }
  const RowBlock& blockOf(int row) const { return blocks_[static_cast<size_t>(row) >> kBlockShift]; }
  // The index of a cell within its block's arrays.
  size_t slot(int row, int col) const {
    return static_cast<size_t>(row & kBlockMask) * cols_.size() + static_cast<size_t>(col);
  }
  std::string& text(int row, int col) { return blockOf(row).text[slot(row, col)]; }
  const std::string& text(int row, int col) const { return blockOf(row).text[slot(row, col)]; }
  // A property array of the cell's block, made (filled with `none`) on first use.
  template <class T>
  T& property(std::vector<T> RowBlock::*array, int row, int col, const T& none);
  template <class T>
  static void resetProperty(std::vector<T>& values, size_t from, const T& none);
  void fitBlocks(int from, int rows);
  bool isBooleanCell(int row, int col) const;
  void setOneCell(int setting, int row, int col, const CellValue& value);
  void structureChanged();
  void contentChanged();
  void noteChange();
  Q_INVOKABLE void deliverPending();

  std::string tag_;
  std::vector<RowData> rows_;
  std::vector<RowBlock> blocks_;
  std::vector<ColData> cols_;
  int fixedRows_ = 1;
  int fixedCols_ = 1;
  int row_ = -1;
  int col_ = -1;
  int width_ = 0;
  int outlineBar_ = flexOutlineBarNone;
  int gridLines_ = flexGridFlat;
  int outlineCol_ = 0;

  int batchDepth_ = 0;
  bool pending_ = false;
  bool deliveryPosted_ = false;
  uint64_t structureRevision_ = 1;
  uint64_t contentRevision_ = 1;
  uint64_t changeSignals_ = 0;
  mutable uint64_t visibleRevision_ = 0;
  mutable std::vector<int> visible_;
};

// Suspends change notification of a grid while alive (nestable); the end of
// the outermost batch raises one changed() when anything changed.
class GridBatch {
 public:
  explicit GridBatch(VSFlexGrid& grid) : grid_(grid) { grid_.setRedraw(false); }
  ~GridBatch() { grid_.setRedraw(true); }
  GridBatch(const GridBatch&) = delete;
  GridBatch& operator=(const GridBatch&) = delete;

 private:
  VSFlexGrid& grid_;
};

}  // namespace platform
