#include "platform/grid/gridview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

#include "platform/grid/header_merge.h"
#include "platform/grid/shown_table.h"
#include "platform/screen/twips.h"

namespace platform {

namespace {

constexpr int kIndentPx = 14;
constexpr int kGlyphPx = 9;
constexpr int kPadPx = 3;

}  // namespace

QColor systemColour(uint32_t index, const QPalette& pal) {
  using P = QPalette;
  switch (index) {
    case 0: return pal.color(P::Button);                         // scroll bars
    case 1: return pal.color(P::Window);                         // desktop
    case 2: return pal.color(P::Active, P::Highlight);           // active title bar
    case 3: return pal.color(P::Inactive, P::Highlight);         // inactive title bar
    case 4: return pal.color(P::Window);                         // menu bar
    case 5: return pal.color(P::Base);                           // window background
    case 6: return pal.color(P::Shadow);                         // window frame
    case 7: return pal.color(P::WindowText);                     // menu text
    case 8: return pal.color(P::Text);                           // window text
    case 9: return pal.color(P::Active, P::HighlightedText);     // title bar text
    case 10: case 11: return pal.color(P::Button);               // borders
    case 12: return pal.color(P::Dark);                          // application workspace
    case 13: return pal.color(P::Highlight);                     // highlight
    case 14: return pal.color(P::HighlightedText);               // highlighted text
    case 15: return pal.color(P::Button);                        // button face
    case 16: return pal.color(P::Dark);                          // button shadow
    case 17: return pal.color(P::Disabled, P::Text);             // grey text
    case 18: return pal.color(P::ButtonText);                    // button text
    case 19: return pal.color(P::Inactive, P::HighlightedText);  // inactive title text
    case 20: return pal.color(P::Light);                         // 3D highlight
    case 21: return pal.color(P::Shadow);                        // 3D dark shadow
    case 22: return pal.color(P::Midlight);                      // 3D light
    case 23: return pal.color(P::ToolTipText);                   // tooltip text
    case 24: return pal.color(P::ToolTipBase);                   // tooltip background
    default: return pal.color(P::Base);
  }
}

QColor colourOf(uint32_t c, const QPalette& pal) {
  if (isSystemColour(c)) return systemColour(c - kSystemColourBase, pal);
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

namespace {

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

bool looksNumeric(const std::string& t) {
  if (t.empty()) return false;
  char* end = nullptr;
  std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

Qt::Alignment qtAlignment(int a, const std::string& text) {
  switch (a) {
    case flexAlignLeftTop: return Qt::AlignLeft | Qt::AlignTop;
    case flexAlignLeftCenter: return Qt::AlignLeft | Qt::AlignVCenter;
    case flexAlignLeftBottom: return Qt::AlignLeft | Qt::AlignBottom;
    case flexAlignCenterTop: return Qt::AlignHCenter | Qt::AlignTop;
    case flexAlignCenterCenter: return Qt::AlignCenter;
    case flexAlignCenterBottom: return Qt::AlignHCenter | Qt::AlignBottom;
    case flexAlignRightTop: return Qt::AlignRight | Qt::AlignTop;
    case flexAlignRightCenter: return Qt::AlignRight | Qt::AlignVCenter;
    case flexAlignRightBottom: return Qt::AlignRight | Qt::AlignBottom;
    default: return (looksNumeric(text) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
  }
}

}  // namespace

GridView::GridView(QWidget* parent) : QAbstractScrollArea(parent), grid_(new VSFlexGrid(this)) { init(); }

GridView::GridView(VSFlexGrid* grid, QWidget* parent) : QAbstractScrollArea(parent), grid_(grid) { init(); }

GridView::~GridView() = default;

void GridView::init() {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  connect(grid_, &VSFlexGrid::changed, this, &GridView::onGridChanged);
  connect(grid_, &VSFlexGrid::currentRowChanged, viewport(), [this] { viewport()->update(); });
  copyAction_ = new QAction(QStringLiteral("复制"), this);
  copyAction_->setShortcut(QKeySequence::Copy);
  copyAction_->setShortcutVisibleInContextMenu(true);
  copyAction_->setShortcutContext(Qt::WidgetShortcut);  // shown in menus; the key itself is handled below
  connect(copyAction_, &QAction::triggered, this, &GridView::copySelection);
}

QSize GridView::sizeHint() const { return QSize(400, 300); }

void GridView::onGridChanged() {
  ensureLayout();
  updateScrollBars();
  viewport()->update();
}

// --- geometry ----------------------------------------------------------------------

void GridView::ensureLayout() const {
  const VSFlexGrid& g = *grid_;
  if (layoutRevision_ == g.structureRevision()) return;
  ++layoutPasses_;
  selection_.clear();
  anchor_ = -1;
  defaultRowPx_ = std::max(1, twipsToPixels(kDefaultRowHeightTwips));

  cols_.assign(static_cast<size_t>(g.Cols()), ColGeom{});
  fixedWidth_ = 0;
  scrollWidth_ = 0;
  for (int c = 0; c < g.Cols(); ++c) {
    ColGeom& cg = cols_[static_cast<size_t>(c)];
    cg.fixed = c < g.FixedCols();
    cg.shown = !g.ColHidden(c);
    cg.w = cg.shown ? twipsToPixels(g.effectiveColWidth(c)) : 0;
    int& run = cg.fixed ? fixedWidth_ : scrollWidth_;
    cg.x = run;
    run += cg.w;
  }

  headerRows_.clear();
  headerHeight_ = 0;
  for (int r = 0; r < std::min(g.FixedRows(), g.Rows()); ++r) {
    if (g.RowHidden(r)) continue;
    const int h = g.RowHeight(r) < 0 ? defaultRowPx_ : twipsToPixels(g.RowHeight(r));
    headerRows_.push_back({r, headerHeight_, h});
    headerHeight_ += h;
  }

  dataRows_ = g.visibleDataRows();
  rowY_.resize(dataRows_.size() + 1);
  int y = 0;
  for (size_t i = 0; i < dataRows_.size(); ++i) {
    rowY_[i] = y;
    const int rh = g.RowHeight(dataRows_[i]);
    y += rh < 0 ? defaultRowPx_ : twipsToPixels(rh);
  }
  rowY_[dataRows_.size()] = y;
  layoutRevision_ = g.structureRevision();
  updateScrollBars();
}

void GridView::updateScrollBars() const {
  auto* self = const_cast<GridView*>(this);
  const int dataH = rowY_.empty() ? 0 : rowY_.back();
  const int pageH = std::max(0, viewport()->height() - headerHeight_);
  self->verticalScrollBar()->setRange(0, std::max(0, dataH - pageH));
  self->verticalScrollBar()->setPageStep(std::max(1, pageH));
  self->verticalScrollBar()->setSingleStep(defaultRowPx_);
  const int pageW = std::max(0, viewport()->width() - fixedWidth_);
  self->horizontalScrollBar()->setRange(0, std::max(0, scrollWidth_ - pageW));
  self->horizontalScrollBar()->setPageStep(std::max(1, pageW));
  self->horizontalScrollBar()->setSingleStep(20);
}

int GridView::headerHeight() const {
  ensureLayout();
  return headerHeight_;
}

int GridView::fixedWidth() const {
  ensureLayout();
  return fixedWidth_;
}

int GridView::colLeft(int col) const {
  const ColGeom& cg = cols_[static_cast<size_t>(col)];
  return cg.fixed ? cg.x : fixedWidth_ + cg.x - horizontalScrollBar()->value();
}

int GridView::rowIndex(int row) const {
  ensureLayout();
  auto it = std::lower_bound(dataRows_.begin(), dataRows_.end(), row);
  if (it == dataRows_.end() || *it != row) return -1;
  return static_cast<int>(it - dataRows_.begin());
}

int GridView::rowAt(int y) const {
  ensureLayout();
  if (y < headerHeight_) return -1;
  const int dy = y - headerHeight_ + verticalScrollBar()->value();
  auto it = std::upper_bound(rowY_.begin(), rowY_.end(), dy);
  if (it == rowY_.begin()) return -1;
  const size_t i = static_cast<size_t>(it - rowY_.begin()) - 1;
  if (i >= dataRows_.size()) return -1;
  return dataRows_[i];
}

int GridView::colAt(int x) const {
  ensureLayout();
  for (int c = 0; c < static_cast<int>(cols_.size()); ++c) {
    const ColGeom& cg = cols_[static_cast<size_t>(c)];
    if (!cg.shown || cg.w == 0) continue;
    const int left = colLeft(c);
    if (!cg.fixed && left + cg.w <= fixedWidth_) continue;  // scrolled under the fixed columns
    if (x >= left && x < left + cg.w) return c;
  }
  return -1;
}

QRect GridView::cellRect(int row, int col) const {
  ensureLayout();
  if (col < 0 || col >= static_cast<int>(cols_.size()) || !cols_[static_cast<size_t>(col)].shown) return {};
  const int x = colLeft(col);
  const int w = cols_[static_cast<size_t>(col)].w;
  for (const HeaderRowGeom& h : headerRows_)
    if (h.row == row) return QRect(x, h.y, w, h.h);
  const int i = rowIndex(row);
  if (i < 0) return {};
  const int y = headerHeight_ + rowY_[static_cast<size_t>(i)] - verticalScrollBar()->value();
  return QRect(x, y, w, rowY_[static_cast<size_t>(i) + 1] - rowY_[static_cast<size_t>(i)]);
}

QRect GridView::glyphRect(int row) const {
  const VSFlexGrid& g = *grid_;
  if (g.OutlineBar() == flexOutlineBarNone || row < g.FixedRows() || row >= g.Rows()) return {};
  if (g.OutlineCol() >= g.Cols() || !g.hasChildren(row)) return {};
  const QRect cell = cellRect(row, g.OutlineCol());
  if (cell.isEmpty()) return {};
  const int x = cell.left() + kPadPx + g.RowOutlineLevel(row) * kIndentPx;
  return QRect(x, cell.center().y() - kGlyphPx / 2, kGlyphPx, kGlyphPx);
}

std::vector<GridView::HeaderBlock> GridView::headerBlocks() const {
  ensureLayout();
  std::vector<int> rows, cols;
  for (const HeaderRowGeom& h : headerRows_) rows.push_back(h.row);
  for (int c = 0; c < static_cast<int>(cols_.size()); ++c)
    if (cols_[static_cast<size_t>(c)].shown) cols.push_back(c);
  std::vector<HeaderBlock> out;
  for (HeaderMerge& m : mergeHeader(*grid_, rows, cols)) {
    const QRect rect = cellRect(m.row1, m.col1).united(cellRect(m.row2, m.col2));
    out.push_back({m.row1, m.col1, m.row2, m.col2, std::move(m.text), rect});
  }
  return out;
}

// --- painting -----------------------------------------------------------------------

bool GridView::hasCheckBox(int row, int col) const {
  const VSFlexGrid& g = *grid_;
  // A boolean cell with no value at all (a group row of the update list) has no box.
  if (row >= g.FixedRows() && g.ColDataType(col) == flexDTBoolean) return !g.TextMatrix(row, col).empty();
  return g.cellChecked(row, col) != flexNoCheckbox;
}

void GridView::paintCell(QPainter& p, int row, int col, const QRect& rect, bool header, bool current) const {
  const VSFlexGrid& g = *grid_;
  const QPalette& pal = palette();
  QColor back = header ? pal.color(QPalette::Button) : pal.color(QPalette::Base);
  if (auto c = g.cellBackColor(row, col)) back = colourOf(*c, pal);
  if (current && !header) back = pal.color(QPalette::Highlight);
  p.fillRect(rect, back);
  if (header || g.GridLines() != flexGridNone) {
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(rect.topRight(), rect.bottomRight());
    p.drawLine(rect.bottomLeft(), rect.bottomRight());
  }
  p.setPen(current && !header ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));

  QRect inner = rect.adjusted(kPadPx, 0, -kPadPx, 0);
  // Outline tree.
  if (!header && g.OutlineBar() != flexOutlineBarNone && col == g.OutlineCol() && g.IsSubtotal(row)) {
    const int indent = g.RowOutlineLevel(row) * kIndentPx;
    if (g.hasChildren(row)) {
      QRect glyph(inner.left() + indent, rect.center().y() - kGlyphPx / 2, kGlyphPx, kGlyphPx);
      p.save();
      p.setPen(pal.color(QPalette::Dark));
      p.fillRect(glyph, pal.color(QPalette::Base));
      p.drawRect(glyph.adjusted(0, 0, -1, -1));
      p.setPen(pal.color(QPalette::Text));
      const int cy = glyph.center().y();
      p.drawLine(glyph.left() + 2, cy, glyph.right() - 2, cy);
      if (g.IsCollapsed(row)) p.drawLine(glyph.center().x(), glyph.top() + 2, glyph.center().x(), glyph.bottom() - 2);
      p.restore();
    }
    inner.setLeft(inner.left() + indent + kGlyphPx + kPadPx);
  }
  // Check box.
  if (hasCheckBox(row, col)) {
    QStyleOptionButton opt;
    const int box = std::min(13, rect.height() - 2);
    const bool onlyBox = !header && g.ColDataType(col) == flexDTBoolean;
    const int bx = onlyBox ? rect.center().x() - box / 2 : inner.left();
    opt.rect = QRect(bx, rect.center().y() - box / 2, box, box);
    opt.state = QStyle::State_Enabled | (g.cellChecked(row, col) == flexChecked ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &opt, &p, this);
    if (onlyBox) return;
    inner.setLeft(bx + box + kPadPx);
  }
  // Picture beside the text.
  if (Picture pic = g.cellPicture(row, col); pic && !pic->isNull()) {
    QSize s = pic->size();
    if (s.height() > rect.height() - 2) s.scale(rect.height() * 4, rect.height() - 2, Qt::KeepAspectRatio);
    QRect target(inner.left(), rect.center().y() - s.height() / 2, s.width(), s.height());
    p.drawImage(target, *pic);
    inner.setLeft(target.right() + 1 + kPadPx);
  }
  const std::string text = g.displayText(row, col);
  if (!text.empty() && inner.width() > 0)
    p.drawText(inner, static_cast<int>(qtAlignment(g.cellAlignment(row, col), text)) | Qt::TextSingleLine, qs(text));
}

void GridView::paintEvent(QPaintEvent*) {
  ensureLayout();
  const VSFlexGrid& g = *grid_;
  QPainter p(viewport());
  const int vw = viewport()->width();
  const int vh = viewport()->height();
  const int hh = headerHeight_;
  const int scrollY = verticalScrollBar()->value();

  // Data rows: those meeting the viewport.
  auto first = std::upper_bound(rowY_.begin(), rowY_.end(), scrollY);
  size_t i = first == rowY_.begin() ? 0 : static_cast<size_t>(first - rowY_.begin()) - 1;
  for (; i < dataRows_.size(); ++i) {
    const int y = hh + rowY_[i] - scrollY;
    if (y >= vh) break;
    const int h = rowY_[i + 1] - rowY_[i];
    if (h == 0) continue;
    const int row = dataRows_[i];
    const bool current = row == g.Row() || selection_.count(row) > 0;
    // Scrolling columns first, then the fixed ones over them.
    p.save();
    p.setClipRect(QRect(fixedWidth_, hh, vw - fixedWidth_, vh - hh));
    for (int c = 0; c < static_cast<int>(cols_.size()); ++c) {
      const ColGeom& cg = cols_[static_cast<size_t>(c)];
      if (cg.fixed || !cg.shown || cg.w == 0) continue;
      const int x = colLeft(c);
      if (x >= vw || x + cg.w <= fixedWidth_) continue;
      paintCell(p, row, c, QRect(x, y, cg.w, h), false, current);
    }
    p.restore();
    p.save();
    p.setClipRect(QRect(0, hh, fixedWidth_, vh - hh));
    for (int c = 0; c < static_cast<int>(cols_.size()); ++c) {
      const ColGeom& cg = cols_[static_cast<size_t>(c)];
      if (!cg.fixed || !cg.shown || cg.w == 0) continue;
      paintCell(p, row, c, QRect(cg.x, y, cg.w, h), true, false);
    }
    p.restore();
  }
  // The header, merged.
  for (const HeaderBlock& b : headerBlocks()) {
    if (b.rect.isEmpty()) continue;
    p.save();
    const bool fixedCol = cols_[static_cast<size_t>(b.col1)].fixed;
    p.setClipRect(fixedCol ? QRect(0, 0, fixedWidth_, hh) : QRect(fixedWidth_, 0, vw - fixedWidth_, hh));
    paintCell(p, b.row1, b.col1, b.rect, true, false);
    p.restore();
  }
}

// --- interaction ----------------------------------------------------------------------

void GridView::moveTo(int row, bool raiseClick) {
  if (row < 0) return;
  grid_->setRow(row);
  showRow(row);
  viewport()->update();
  if (raiseClick) grid_->fireClick();
}

void GridView::showRow(int row) {
  const int i = rowIndex(row);
  if (i < 0) return;
  const int top = rowY_[static_cast<size_t>(i)];
  const int bottom = rowY_[static_cast<size_t>(i) + 1];
  const int pageH = std::max(0, viewport()->height() - headerHeight_);
  QScrollBar* sb = verticalScrollBar();
  if (top < sb->value())
    sb->setValue(top);
  else if (bottom > sb->value() + pageH)
    sb->setValue(bottom - pageH);
}

void GridView::toggleNode(int row) {
  if (row < grid_->FixedRows() || row >= grid_->Rows() || !grid_->hasChildren(row)) return;
  grid_->setIsCollapsed(row, !grid_->IsCollapsed(row));
  grid_->flushChanges();
}

void GridView::toggleCheck(int row, int col) {
  if (!grid_->ColEditable(col) || !hasCheckBox(row, col)) return;
  const bool on = grid_->cellChecked(row, col) == flexChecked;
  grid_->setCell(flexcpChecked, row, col, on ? flexUnchecked : flexChecked);
  grid_->flushChanges();
}

void GridView::mousePressEvent(QMouseEvent* event) {
  if (combo_) combo_->hide();
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  const int row = rowAt(pos.y());
  if (row < 0) return;
  if (glyphRect(row).adjusted(-2, -2, 2, 2).contains(pos)) {
    toggleNode(row);
    return;
  }
  const int col = colAt(pos.x());
  if (col >= 0 && col >= grid_->FixedCols()) {
    grid_->setCol(col);
    if (hasCheckBox(row, col) && grid_->ColEditable(col)) toggleCheck(row, col);
  }
  selectForClick(row, event->modifiers());
  moveTo(row, true);
}

void GridView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const int row = rowAt(pos.y());
  if (row < 0) return;
  const int col = colAt(pos.x());
  if (col >= grid_->FixedCols() && col >= 0 && grid_->ColEditable(col) && !grid_->ColComboList(col).empty()) {
    openCombo(row, col);
    return;
  }
  if (grid_->IsSubtotal(row) && !glyphRect(row).adjusted(-2, -2, 2, 2).contains(pos)) toggleNode(row);
}

void GridView::openCombo(int row, int col) {
  if (!combo_) {
    combo_ = new QComboBox(viewport());
    connect(combo_, &QComboBox::activated, this, [this](int index) {
      if (comboRow_ >= 0 && comboRow_ < grid_->Rows() && comboCol_ < grid_->Cols()) {
        grid_->setCell(flexcpText, comboRow_, comboCol_, combo_->itemText(index).toStdString());
        grid_->flushChanges();
      }
      combo_->hide();
      viewport()->setFocus();
    });
  }
  combo_->clear();
  const QString list = qs(grid_->ColComboList(col));
  for (const QString& item : list.split('|', Qt::SkipEmptyParts)) combo_->addItem(item);
  combo_->setCurrentText(qs(grid_->TextMatrix(row, col)));
  comboRow_ = row;
  comboCol_ = col;
  combo_->setGeometry(cellRect(row, col));
  combo_->show();
  combo_->showPopup();
}

void GridView::keyPressEvent(QKeyEvent* event) {
  ensureLayout();
  const int n = static_cast<int>(dataRows_.size());
  const int cur = grid_->Row();
  int i = rowIndex(cur);
  const int pageRows = std::max(1, (viewport()->height() - headerHeight_) / std::max(1, defaultRowPx_) - 1);
  if (event->matches(QKeySequence::Copy)) {
    copySelection();
    return;
  }
  if (event->matches(QKeySequence::SelectAll)) {
    selection_.clear();
    selection_.insert(dataRows_.begin(), dataRows_.end());
    viewport()->update();
    return;
  }
  int target = -1;
  switch (event->key()) {
    case Qt::Key_Down: target = i < 0 ? 0 : std::min(n - 1, i + 1); break;
    case Qt::Key_Up: target = i < 0 ? 0 : std::max(0, i - 1); break;
    case Qt::Key_PageDown: target = i < 0 ? 0 : std::min(n - 1, i + pageRows); break;
    case Qt::Key_PageUp: target = i < 0 ? 0 : std::max(0, i - pageRows); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = n - 1; break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      if (cur >= grid_->FixedRows() && grid_->IsCollapsed(cur)) toggleNode(cur);
      return;
    case Qt::Key_Minus:
      if (cur >= grid_->FixedRows() && cur < grid_->Rows() && !grid_->IsCollapsed(cur)) toggleNode(cur);
      return;
    case Qt::Key_Space:
      if (cur >= grid_->FixedRows() && grid_->Col() >= 0) toggleCheck(cur, grid_->Col());
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  if (n == 0 || target < 0) return;
  const int row = dataRows_[static_cast<size_t>(target)];
  if (event->modifiers() & Qt::ShiftModifier) {
    if (anchor_ < 0) anchor_ = cur >= grid_->FixedRows() ? cur : row;
    selectRange(anchor_, row);
  } else {
    selection_ = {row};
    anchor_ = row;
  }
  if (row != cur) moveTo(row, true);
  viewport()->update();
}

// --- selection and copy -----------------------------------------------------------

void GridView::selectForClick(int row, Qt::KeyboardModifiers modifiers) {
  ensureLayout();
  if (modifiers & Qt::ShiftModifier) {
    if (anchor_ < 0) anchor_ = rowIndex(grid_->Row()) >= 0 ? grid_->Row() : row;
    selectRange(anchor_, row);
    return;
  }
  if (modifiers & Qt::ControlModifier) {
    // The current row belongs to the selection it starts from.
    if (selection_.empty() && rowIndex(grid_->Row()) >= 0) selection_.insert(grid_->Row());
    if (!selection_.erase(row)) selection_.insert(row);
    anchor_ = row;
    return;
  }
  selection_ = {row};
  anchor_ = row;
}

void GridView::selectRange(int from, int to) {
  const int a = rowIndex(from), b = rowIndex(to);
  selection_.clear();
  if (a < 0 || b < 0) {
    if (b >= 0) selection_.insert(to);
    return;
  }
  for (int i = std::min(a, b); i <= std::max(a, b); ++i) selection_.insert(dataRows_[static_cast<size_t>(i)]);
}

std::vector<int> GridView::selectedRows() const {
  ensureLayout();
  std::vector<int> rows;
  for (int r : selection_)
    if (rowIndex(r) >= 0) rows.push_back(r);
  if (rows.empty() && selection_.empty() && rowIndex(grid_->Row()) >= 0) rows.push_back(grid_->Row());
  return rows;
}

void GridView::selectRows(const std::vector<int>& rows) {
  ensureLayout();
  selection_.clear();
  for (int r : rows)
    if (rowIndex(r) >= 0) selection_.insert(r);
  anchor_ = rows.empty() ? -1 : rows.back();
  viewport()->update();
}

bool GridView::isSelected(int row) const {
  ensureLayout();
  return selection_.count(row) > 0;
}

void GridView::copySelection() {
  const std::vector<int> rows = selectedRows();
  if (rows.empty()) return;
  const CopiedRows copied = copyRows(*grid_, rows);
  auto* mime = new QMimeData;
  mime->setText(qs(copied.text));
  mime->setHtml(QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>") + qs(copied.html) +
                QStringLiteral("</body></html>"));
  QApplication::clipboard()->setMimeData(mime);
}

void GridView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(copyAction_);
  menu.exec(event->globalPos());
}

void GridView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  grid_->setWidth(static_cast<int>(pixelsToTwips(width())));
  ensureLayout();
  updateScrollBars();
}

void GridView::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace platform
