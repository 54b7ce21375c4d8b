#include "platform/grid/vsflexgrid.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <type_traits>
#include <climits>

#include "common/text_case.h"

namespace platform {

long long CellValue::number() const {
  if (!isText_) return number_;
  long long v = 0;
  const char* b = text_.data();
  const char* e = b + text_.size();
  while (b < e && *b == ' ') ++b;
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p == b) return 0;
  return v;
}

VSFlexGrid::VSFlexGrid(QObject* parent) : QObject(parent) {}
VSFlexGrid::~VSFlexGrid() = default;

// --- checks and notification ---------------------------------------------------

void VSFlexGrid::checkRow(int row) const {
  if (row < 0 || row >= Rows())
    throw GridError("grid row " + std::to_string(row) + " outside 0.." + std::to_string(Rows() - 1));
}

void VSFlexGrid::checkCol(int col) const {
  if (col < 0 || col >= Cols())
    throw GridError("grid column " + std::to_string(col) + " outside 0.." + std::to_string(Cols() - 1));
}

void VSFlexGrid::checkCell(int row, int col) const {
  checkRow(row);
  checkCol(col);
}

void VSFlexGrid::structureChanged() {
  ++structureRevision_;
  ++contentRevision_;
  noteChange();
}

void VSFlexGrid::contentChanged() {
  ++contentRevision_;
  noteChange();
}

void VSFlexGrid::noteChange() {
  pending_ = true;
  if (batchDepth_ > 0 || deliveryPosted_) return;
  // Outside a batch: one delivery per turn of the event loop.
  if (QCoreApplication::instance()) {
    deliveryPosted_ = true;
    QMetaObject::invokeMethod(this, "deliverPending", Qt::QueuedConnection);
  }
}

void VSFlexGrid::deliverPending() {
  deliveryPosted_ = false;
  if (batchDepth_ > 0 || !pending_) return;
  pending_ = false;
  ++changeSignals_;
  emit changed();
}

void VSFlexGrid::setRedraw(bool on) {
  if (!on) {
    ++batchDepth_;
    return;
  }
  if (batchDepth_ > 0) --batchDepth_;
  if (batchDepth_ == 0) deliverPending();
}

void VSFlexGrid::flushChanges() {
  if (batchDepth_ == 0) deliverPending();
}

// --- grid-wide ----------------------------------------------------------------

template <class T>
void VSFlexGrid::resetProperty(std::vector<T>& values, size_t from, const T& none) {
  if (!values.empty()) std::fill(values.begin() + static_cast<std::ptrdiff_t>(from), values.end(), none);
}

// Gives the blocks room for exactly `rows` rows, looking only at the blocks
// from the one holding row `from` on (the rows before it are as they were):
// whole blocks past the end go, the cells of the last block past the end are
// emptied (a row added later starts empty), and new rows get empty texts.
void VSFlexGrid::fitBlocks(int from, int rows) {
  const size_t cols = cols_.size();
  const size_t needed = (static_cast<size_t>(rows) + kBlockRows - 1) >> kBlockShift;
  if (blocks_.size() > needed) blocks_.resize(needed);
  if (blocks_.size() < needed) {
    const size_t had = blocks_.size();
    blocks_.resize(needed);
    // A grid that filled a block goes on growing: later blocks are made whole
    // at once, so their texts never move.
    for (size_t b = std::max<size_t>(had, 1); b < needed; ++b) blocks_[b].text.reserve(kBlockRows * cols);
  }
  for (size_t b = static_cast<size_t>(from) >> kBlockShift; b < blocks_.size(); ++b) {
    const size_t first = b << kBlockShift;
    const size_t inBlock = std::min<size_t>(kBlockRows, static_cast<size_t>(rows) - first);
    RowBlock& block = blocks_[b];
    const size_t cells = inBlock * cols;
    if (block.text.size() == cells) continue;
    if (block.text.size() > cells) {
      block.text.resize(cells);
      resetProperty(block.backColor, cells, kNoBackColor);
      resetProperty(block.alignment, cells, int8_t(-1));
      resetProperty(block.checked, cells, int8_t(flexNoCheckbox));
      resetProperty(block.picture, cells, Picture());
    } else {
      block.text.resize(cells);
    }
  }
}

void VSFlexGrid::setRows(int rows) {
  if (rows < 0) throw GridError("negative row count");
  if (rows == Rows()) return;
  const int before = Rows();
  rows_.resize(static_cast<size_t>(rows));
  fitBlocks(std::min(before, rows), rows);
  if (row_ >= Rows()) {
    row_ = Rows() - 1;
    emit currentRowChanged(row_);
  }
  structureChanged();
}

void VSFlexGrid::setCols(int cols) {
  if (cols < 0) throw GridError("negative column count");
  if (cols == Cols()) return;
  const size_t from = cols_.size(), to = static_cast<size_t>(cols), keep = std::min(from, to);
  // Each block's arrays are laid out again with the new row length.
  auto relay = [&](auto& values, size_t blockRows, const auto& none) {
    if (values.empty()) return;
    std::remove_reference_t<decltype(values)> out(blockRows * to, none);
    for (size_t r = 0; r < blockRows; ++r)
      for (size_t c = 0; c < keep; ++c) out[r * to + c] = std::move(values[r * from + c]);
    values.swap(out);
  };
  for (RowBlock& b : blocks_) {
    relay(b.text, from ? b.text.size() / from : 0, std::string());
    relay(b.backColor, kBlockRows, kNoBackColor);
    relay(b.alignment, kBlockRows, int8_t(-1));
    relay(b.checked, kBlockRows, int8_t(flexNoCheckbox));
    relay(b.picture, kBlockRows, Picture());
  }
  cols_.resize(to);
  fitBlocks(0, Rows());
  if (col_ >= cols) col_ = cols - 1;
  structureChanged();
}

void VSFlexGrid::setFixedRows(int n) {
  if (n < 0) throw GridError("negative fixed row count");
  fixedRows_ = n;
  structureChanged();
}

void VSFlexGrid::setFixedCols(int n) {
  if (n < 0) throw GridError("negative fixed column count");
  fixedCols_ = n;
  structureChanged();
}

void VSFlexGrid::setRow(int row) {
  if (row != -1) checkRow(row);
  if (row == row_) return;
  row_ = row;
  emit currentRowChanged(row_);
  contentChanged();
}

void VSFlexGrid::setCol(int col) {
  if (col != -1) checkCol(col);
  col_ = col;
  contentChanged();
}

void VSFlexGrid::setWidth(int twips) {
  if (twips < 0) throw GridError("negative width");
  width_ = twips;
}

// --- cells -----------------------------------------------------------------------

template <class T>
T& VSFlexGrid::property(std::vector<T> RowBlock::*array, int row, int col, const T& none) {
  std::vector<T>& values = blockOf(row).*array;
  if (values.empty()) values.assign(static_cast<size_t>(kBlockRows) * cols_.size(), none);
  return values[slot(row, col)];
}

bool VSFlexGrid::isBooleanCell(int row, int col) const {
  return row >= fixedRows_ && cols_[static_cast<size_t>(col)].dataType == flexDTBoolean;
}

namespace {
// A boolean cell's text: a number other than 0, or "True", ticks it.
bool truthy(const std::string& t) {
  if (t.empty()) return false;
  const std::string s = common::asciiLower(t);
  if (s == "true") return true;
  if (s == "false") return false;
  try {
    size_t pos = 0;
    double v = std::stod(s, &pos);
    return v != 0.0;
  } catch (...) {
    return false;
  }
}
}  // namespace

CellValue VSFlexGrid::Cell(int setting, int row, int col) const {
  checkCell(row, col);
  switch (setting) {
    case flexcpText:
      return CellValue(text(row, col));
    case flexcpAlignment:
      return CellValue(cellAlignment(row, col));
    case flexcpPicture:
      return CellValue(cellPicture(row, col));
    case flexcpChecked:
      return CellValue(cellChecked(row, col));
    case flexcpBackColor:
      // A system colour reads back as VB holds it, a negative Long.
      return CellValue(static_cast<long long>(static_cast<int32_t>(cellBackColor(row, col).value_or(0xFFFFFFu))));
    case flexcpLeft: {
      long long left = 0;
      for (int c = 0; c < col; ++c)
        if (!cols_[static_cast<size_t>(c)].hidden) left += effectiveColWidth(c);
      return CellValue(left);
    }
    default:
      throw GridError("unknown cell setting " + std::to_string(setting));
  }
}

void VSFlexGrid::setOneCell(int setting, int row, int col, const CellValue& value) {
  switch (setting) {
    case flexcpText:
      text(row, col) = value.text();
      break;
    case flexcpAlignment:
      property(&RowBlock::alignment, row, col, int8_t(-1)) = static_cast<int8_t>(value.number());
      break;
    case flexcpPicture:
      if (value.picture() || !blockOf(row).picture.empty())
        property(&RowBlock::picture, row, col, Picture()) = value.picture();
      break;
    case flexcpChecked:
      if (isBooleanCell(row, col)) {
        text(row, col) = value.number() == flexChecked ? "-1" : "0";
      } else {
        property(&RowBlock::checked, row, col, int8_t(flexNoCheckbox)) = static_cast<int8_t>(value.number());
      }
      break;
    case flexcpBackColor: {
      // A colour is 0x00BBGGRR; a system colour, as VB writes it, is
      // &H80000000 + its index, and is kept whole (the view draws it in the
      // desktop's colour).
      const uint32_t colour = static_cast<uint32_t>(value.number());
      property(&RowBlock::backColor, row, col, kNoBackColor) = isSystemColour(colour) ? colour : colour & 0xFFFFFFu;
      break;
    }
    default:
      throw GridError("cell setting " + std::to_string(setting) + " cannot be set");
  }
}

void VSFlexGrid::setCell(int setting, int row, int col, const CellValue& value) {
  checkCell(row, col);
  if (setting == flexcpLeft || (setting != flexcpText && setting != flexcpAlignment && setting != flexcpPicture &&
                                setting != flexcpChecked && setting != flexcpBackColor))
    throw GridError("cell setting " + std::to_string(setting) + " cannot be set");
  setOneCell(setting, row, col, value);
  contentChanged();
}

void VSFlexGrid::setCell(int setting, int row1, int col1, int row2, int col2, const CellValue& value) {
  checkCell(row1, col1);
  checkCell(row2, col2);
  if (setting == flexcpLeft || (setting != flexcpText && setting != flexcpAlignment && setting != flexcpPicture &&
                                setting != flexcpChecked && setting != flexcpBackColor))
    throw GridError("cell setting " + std::to_string(setting) + " cannot be set");
  if (row1 > row2) std::swap(row1, row2);
  if (col1 > col2) std::swap(col1, col2);
  for (int r = row1; r <= row2; ++r)
    for (int c = col1; c <= col2; ++c) setOneCell(setting, r, c, value);
  contentChanged();
}

const std::string& VSFlexGrid::TextMatrix(int row, int col) const {
  checkCell(row, col);
  return text(row, col);
}

void VSFlexGrid::setTextMatrix(int row, int col, std::string value) {
  checkCell(row, col);
  text(row, col) = std::move(value);
  contentChanged();
}

int VSFlexGrid::cellAlignment(int row, int col) const {
  checkCell(row, col);
  const std::vector<int8_t>& own = blockOf(row).alignment;
  if (!own.empty() && own[slot(row, col)] >= 0) return own[slot(row, col)];
  return cols_[static_cast<size_t>(col)].alignment;
}

int VSFlexGrid::cellChecked(int row, int col) const {
  checkCell(row, col);
  if (isBooleanCell(row, col)) return truthy(text(row, col)) ? flexChecked : flexUnchecked;
  const std::vector<int8_t>& own = blockOf(row).checked;
  return own.empty() ? int(flexNoCheckbox) : int(own[slot(row, col)]);
}

std::optional<uint32_t> VSFlexGrid::cellBackColor(int row, int col) const {
  checkCell(row, col);
  const std::vector<uint32_t>& own = blockOf(row).backColor;
  if (own.empty() || own[slot(row, col)] == kNoBackColor) return std::nullopt;
  return own[slot(row, col)];
}

Picture VSFlexGrid::cellPicture(int row, int col) const {
  checkCell(row, col);
  const std::vector<Picture>& own = blockOf(row).picture;
  return own.empty() ? Picture() : own[slot(row, col)];
}

std::string VSFlexGrid::displayText(int row, int col) const {
  const std::string& t = TextMatrix(row, col);
  if (row < fixedRows_) return t;
  const ColData& c = cols_[static_cast<size_t>(col)];
  if (c.dataType == flexDTBoolean) return std::string();
  if (c.format.empty()) return t;
  return formatCellText(c.format, t);
}

// --- columns ------------------------------------------------------------------------

int VSFlexGrid::ColWidth(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].width;
}

void VSFlexGrid::setColWidth(int col, int twips) {
  checkCol(col);
  if (twips < -1) throw GridError("invalid column width " + std::to_string(twips));
  cols_[static_cast<size_t>(col)].width = twips;
  structureChanged();
}

int VSFlexGrid::effectiveColWidth(int col) const {
  int w = ColWidth(col);
  return w < 0 ? kDefaultColWidthTwips : w;
}

int VSFlexGrid::ColAlignment(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].alignment;
}

void VSFlexGrid::setColAlignment(int col, int alignment) {
  checkCol(col);
  if (alignment < 0 || alignment > flexAlignGeneral) throw GridError("invalid alignment " + std::to_string(alignment));
  cols_[static_cast<size_t>(col)].alignment = alignment;
  contentChanged();
}

int VSFlexGrid::ColDataType(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].dataType;
}

void VSFlexGrid::setColDataType(int col, int type) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].dataType = type;
  contentChanged();
}

const std::string& VSFlexGrid::ColFormat(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].format;
}

void VSFlexGrid::setColFormat(int col, const std::string& format) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].format = format;
  contentChanged();
}

const std::string& VSFlexGrid::ColComboList(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].comboList;
}

void VSFlexGrid::setColComboList(int col, const std::string& list) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].comboList = list;
  contentChanged();
}

bool VSFlexGrid::ColHidden(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].hidden;
}

void VSFlexGrid::setColHidden(int col, bool hidden) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].hidden = hidden;
  structureChanged();
}

bool VSFlexGrid::MergeCol(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].merge;
}

void VSFlexGrid::setMergeCol(int col, bool merge) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].merge = merge;
  contentChanged();
}

bool VSFlexGrid::ColSwitch171(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].switch171;
}

void VSFlexGrid::setColSwitch171(int col, bool on) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].switch171 = on;
}

bool VSFlexGrid::ColEditable(int col) const {
  checkCol(col);
  return cols_[static_cast<size_t>(col)].editable;
}

void VSFlexGrid::setColEditable(int col, bool editable) {
  checkCol(col);
  cols_[static_cast<size_t>(col)].editable = editable;
}

// --- rows ---------------------------------------------------------------------------------

bool VSFlexGrid::RowHidden(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].hidden;
}

void VSFlexGrid::setRowHidden(int row, bool hidden) {
  checkRow(row);
  rows_[static_cast<size_t>(row)].hidden = hidden;
  structureChanged();
}

int VSFlexGrid::RowHeight(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].height;
}

void VSFlexGrid::setRowHeight(int row, int twips) {
  checkRow(row);
  if (twips < -1) throw GridError("invalid row height " + std::to_string(twips));
  rows_[static_cast<size_t>(row)].height = twips;
  structureChanged();
}

int VSFlexGrid::effectiveRowHeight(int row) const {
  int h = RowHeight(row);
  return h < 0 ? kDefaultRowHeightTwips : h;
}

bool VSFlexGrid::MergeRow(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].merge;
}

void VSFlexGrid::setMergeRow(int row, bool merge) {
  checkRow(row);
  rows_[static_cast<size_t>(row)].merge = merge;
  contentChanged();
}

void VSFlexGrid::setGridLines(int lines) {
  if (lines != flexGridNone && lines != flexGridFlat) throw GridError("invalid grid lines");
  gridLines_ = lines;
  structureChanged();
}

// --- outline ----------------------------------------------------------------------------------

void VSFlexGrid::setOutlineBar(int bar) {
  if (bar < flexOutlineBarNone || bar > flexOutlineBarSymbolsLeaf) throw GridError("invalid outline bar");
  outlineBar_ = bar;
  structureChanged();
}

void VSFlexGrid::setOutlineCol(int col) {
  if (col < 0) throw GridError("invalid outline column");
  outlineCol_ = col;
  structureChanged();
}

bool VSFlexGrid::IsSubtotal(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].subtotal;
}

void VSFlexGrid::setIsSubtotal(int row, bool node) {
  checkRow(row);
  rows_[static_cast<size_t>(row)].subtotal = node;
  structureChanged();
}

int VSFlexGrid::RowOutlineLevel(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].level;
}

void VSFlexGrid::setRowOutlineLevel(int row, int level) {
  checkRow(row);
  if (level < 0 || level > 127) throw GridError("invalid outline level " + std::to_string(level));
  rows_[static_cast<size_t>(row)].level = static_cast<int8_t>(level);
  structureChanged();
}

bool VSFlexGrid::IsCollapsed(int row) const {
  checkRow(row);
  return rows_[static_cast<size_t>(row)].collapsed;
}

void VSFlexGrid::setIsCollapsed(int row, bool collapsed) {
  checkRow(row);
  if (rows_[static_cast<size_t>(row)].collapsed == collapsed) return;
  rows_[static_cast<size_t>(row)].collapsed = collapsed;
  structureChanged();
}

void VSFlexGrid::Outline(int level) {
  for (int r = fixedRows_; r < Rows(); ++r) {
    RowData& d = rows_[static_cast<size_t>(r)];
    if (d.subtotal) d.collapsed = d.level >= level;
  }
  structureChanged();
}

bool VSFlexGrid::hasChildren(int row) const {
  checkRow(row);
  const RowData& d = rows_[static_cast<size_t>(row)];
  if (!d.subtotal || row + 1 >= Rows()) return false;
  const RowData& next = rows_[static_cast<size_t>(row) + 1];
  return !next.subtotal || next.level > d.level;
}

const std::vector<int>& VSFlexGrid::visibleDataRows() const {
  if (visibleRevision_ == structureRevision_) return visible_;
  visible_.clear();
  // A folded node hides every following row up to the next node of its own
  // level or above; rows that are not nodes belong to the node before them.
  int foldedLevel = INT_MAX;
  for (int r = fixedRows_; r < Rows(); ++r) {
    const RowData& d = rows_[static_cast<size_t>(r)];
    bool shown;
    if (d.subtotal) {
      if (d.level <= foldedLevel) foldedLevel = INT_MAX;
      shown = foldedLevel == INT_MAX;
      if (shown && d.collapsed) foldedLevel = d.level;
    } else {
      shown = foldedLevel == INT_MAX;
    }
    if (shown && !d.hidden) visible_.push_back(r);
  }
  visibleRevision_ = structureRevision_;
  return visible_;
}

bool VSFlexGrid::isRowVisible(int row) const {
  checkRow(row);
  if (row < fixedRows_) return !rows_[static_cast<size_t>(row)].hidden;
  const auto& v = visibleDataRows();
  return std::binary_search(v.begin(), v.end(), row);
}

}  // namespace platform
