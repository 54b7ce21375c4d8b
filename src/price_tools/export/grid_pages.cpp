#include "price_tools/export/grid_pages.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/atomic_file_device.h"
#include "platform/grid/shown_table.h"

namespace price_tools::exporting {

namespace {

constexpr double kMarginMm = 12;
constexpr double kTitleH = 26;   // first page, points
constexpr double kHeadH = 16;    // running head on later pages
constexpr double kFootH = 18;
constexpr double kHeaderRowH = 16;
constexpr double kRowH = 14;
constexpr int kFontPx = 9;
constexpr double kPad = 2.5;
constexpr double kNarrowestEm = 4;  // a column keeps room for this many CJK characters (or its text, when shorter)
constexpr double kSlack = 0.01;     // measured widths that differ in rounding only

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A font of `size` painter units (points, after the device scaling): a pixel
// size, which the painter's scaling carries, unlike a point size.
QFont font(int size, bool bold) {
  QFont f(QStringLiteral("Noto Sans CJK SC"));
  f.setStyleHint(QFont::SansSerif);
  f.setStyleStrategy(QFont::PreferNoShaping);
  f.setPixelSize(size);
  f.setBold(bold);
  return f;
}

Qt::Alignment alignmentOf(int a, const ExportCell& cell) {
  switch (a) {
    case platform::flexAlignLeftTop:
    case platform::flexAlignLeftCenter:
    case platform::flexAlignLeftBottom: return Qt::AlignLeft | Qt::AlignVCenter;
    case platform::flexAlignCenterTop:
    case platform::flexAlignCenterCenter:
    case platform::flexAlignCenterBottom: return Qt::AlignHCenter | Qt::AlignVCenter;
    case platform::flexAlignRightTop:
    case platform::flexAlignRightCenter:
    case platform::flexAlignRightBottom: return Qt::AlignRight | Qt::AlignVCenter;
    default: return (cell.kind == ExportCell::Number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
  }
}

QColor colourOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// The widest of the text's lines, on one line each.
double widestLine(const QFontMetricsF& metrics, const QString& text) {
  double w = 0;
  for (const QString& paragraph : text.split(QLatin1Char('\n')))
    w = std::max(w, metrics.horizontalAdvance(paragraph.endsWith(QLatin1Char('\r')) ? paragraph.chopped(1) : paragraph));
  return w;
}

// Characters a line may break after on either side: the CJK ideographs,
// kana, their punctuation and full-width forms.
bool breaksAround(QChar c) { return c.unicode() >= 0x2E80 && c.unicode() <= 0xFFEF; }

// The widest run of the text that a line should not break: a word (up to a
// blank or a CJK character), or one CJK character.
double longestWord(const QFontMetricsF& metrics, const QString& text) {
  double w = 0;
  qsizetype start = 0;
  auto word = [&](qsizetype end) {
    if (end > start) w = std::max(w, metrics.horizontalAdvance(text.mid(start, end - start)));
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isSpace() || breaksAround(c) || c.isSurrogate()) {
      word(i);
      start = i + 1;
      if (breaksAround(c)) w = std::max(w, metrics.horizontalAdvance(c));
    }
  }
  word(text.size());
  return w;
}

// The lines of a text in a column of `width`: each of its lines, wrapped at
// word boundaries (between CJK characters too), inside a word only when the
// word alone is wider than the column.
QStringList wrapText(const QString& text, const QFont& font, double width) {
  QStringList lines;
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  for (QString paragraph : text.split(QLatin1Char('\n'))) {
    if (paragraph.endsWith(QLatin1Char('\r'))) paragraph.chop(1);
    if (paragraph.isEmpty()) {
      lines << QString();
      continue;
    }
    QTextLayout layout(paragraph, font);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(std::max(1.0, width));
      QString part = paragraph.mid(line.textStart(), line.textLength());
      while (!part.isEmpty() && part.back().isSpace()) part.chop(1);
      lines << part;
    }
    layout.endLayout();
  }
  return lines;
}

// Lines of text in a cell, the block centred in its height.
void drawLines(QPainter& p, const QRectF& rect, Qt::Alignment align, const QStringList& lines, double lineH) {
  double y = rect.top() + (rect.height() - lineH * static_cast<double>(lines.size())) / 2;
  for (const QString& line : lines) {
    p.drawText(QRectF(rect.left(), y, rect.width(), lineH),
               (align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, line);
    y += lineH;
  }
}

}  // namespace

struct GridPages::Geometry {
  struct Page {
    size_t first = 0, last = 0;  // data rows [first, last)
    double scale = 1;
  };
  double pageW = 0, pageH = 0;  // printable area, points
  double scale = 1;             // the table's scale
  std::vector<double> widths;   // columns, points before the scale
  std::vector<double> left;     // their left edges
  std::vector<double> headerH;  // header rows
  double headerTotal = 0;
  std::vector<QStringList> mergeLines;
  QStringList titleLines, headLines;
  double titleH = kTitleH, headH = kHeadH;
  std::vector<double> rowH;
  std::unordered_map<size_t, QStringList> wrapped;  // cells of more than one line, by row * columns + column
  std::vector<Page> pages;
};

GridPages::GridPages(const platform::VSFlexGrid& grid, ExportTitle title)
    : grid_(grid),
      title_(std::move(title)),
      cols_(platform::shownColumns(grid)),
      headerRows_(platform::shownHeaderRows(grid)),
      rows_(exportRows(grid)),
      merges_(platform::mergeHeader(grid, headerRows_, cols_)) {
  const size_t n = cols_.size();
  const QFontMetricsF plain(font(kFontPx, false)), bold(font(kFontPx, true));
  const double em = plain.horizontalAdvance(QChar(0x4E2D));
  gridWidth_.resize(n);
  oneLine_.assign(n, 2 * kPad + em / 2);
  std::vector<double> word(n, 0);
  for (size_t i = 0; i < n; ++i) gridWidth_[i] = grid_.effectiveColWidth(cols_[i]) / 20.0;
  markDrawn(drawn_, qs(titleLine(title_)));
  markDrawn(drawn_, QStringLiteral("第 页 / 共 0123456789"));
  for (const platform::HeaderMerge& b : merges_) {
    const QString text = qs(b.text);
    markDrawn(drawn_, text);
    if (b.col1 != b.col2) continue;
    const size_t i = static_cast<size_t>(std::find(cols_.begin(), cols_.end(), b.col1) - cols_.begin());
    if (i >= n) continue;
    oneLine_[i] = std::max(oneLine_[i], widestLine(bold, text) + 2 * kPad);
    word[i] = std::max(word[i], longestWord(bold, text));
  }
  textWidth_.assign(rows_.size() * n, 0);
  for (size_t k = 0; k < rows_.size(); ++k) {
    for (size_t i = 0; i < n; ++i) {
      const ExportCell cell = exportCell(grid_, rows_[k], cols_[i]);
      if (cell.shown.empty()) continue;
      const QString text = qs(cell.shown);
      markDrawn(drawn_, text);
      const double w = widestLine(plain, text);
      textWidth_[k * n + i] = static_cast<float>(text.contains(QLatin1Char('\n')) ? -w : w);
      oneLine_[i] = std::max(oneLine_[i], w + 2 * kPad);
      if (w > word[i]) word[i] = std::max(word[i], longestWord(plain, text));
    }
  }
  narrowest_.resize(n);
  for (size_t i = 0; i < n; ++i)
    narrowest_[i] = std::max(word[i] + 2 * kPad, std::min(oneLine_[i], kNarrowestEm * em + 2 * kPad));
}

QPageLayout GridPages::pageLayout(const QPageSize& paper) const {
  const QMarginsF margins(kMarginMm, kMarginMm, kMarginMm, kMarginMm);
  QPageLayout portrait(paper, QPageLayout::Portrait, margins, QPageLayout::Millimeter);
  double narrowest = 0;
  for (double w : narrowest_) narrowest += w;
  if (narrowest <= portrait.paintRect(QPageLayout::Point).width()) return portrait;
  return QPageLayout(paper, QPageLayout::Landscape, margins, QPageLayout::Millimeter);
}

// The columns in `width` points: the grid's widths when they fit; else every
// text on one line, the room left shared by what the grid's widths wanted
// more; else the widest columns cut down (their texts wrap), none below its
// narrowest; else the narrowest, scaled down.
std::vector<double> GridPages::fit(double width, double& scale) const {
  const size_t n = cols_.size();
  scale = 1;
  std::vector<double> w(n);
  double desired = 0, line = 0, narrowest = 0, more = 0;
  for (size_t i = 0; i < n; ++i) {
    w[i] = std::max(gridWidth_[i], oneLine_[i]);
    desired += w[i];
    line += oneLine_[i];
    narrowest += narrowest_[i];
    more += w[i] - oneLine_[i];
  }
  if (desired <= width) return w;
  if (line <= width) {
    for (size_t i = 0; i < n; ++i)
      w[i] = oneLine_[i] + (more > 0 ? (width - line) * (w[i] - oneLine_[i]) / more : 0);
    return w;
  }
  if (narrowest > width) {
    scale = width / narrowest;
    return narrowest_;
  }
  // The widest columns give way first: each column is cut to one width (not
  // below its narrowest), the width found so that the table fills the page.
  auto cut = [&](double cap) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += w[i] = std::max(narrowest_[i], std::min(oneLine_[i], cap));
    return sum;
  };
  double lo = 0, hi = 0;
  for (double x : oneLine_) hi = std::max(hi, x);
  for (int round = 0; round < 60; ++round) {
    const double mid = (lo + hi) / 2;
    (cut(mid) <= width ? lo : hi) = mid;
  }
  cut(lo);
  return w;
}

GridPages::Geometry GridPages::geometry(const QPageLayout& layout) const {
  Geometry g;
  const QRectF area = layout.paintRect(QPageLayout::Point);
  g.pageW = area.width();
  g.pageH = area.height();
  const size_t n = cols_.size();
  g.widths = fit(g.pageW, g.scale);
  g.left.assign(n + 1, 0);
  for (size_t i = 0; i < n; ++i) g.left[i + 1] = g.left[i] + g.widths[i];

  const QFont titleFont = font(13, true), headFont = font(8, false);
  const QString title = qs(titleLine(title_));
  g.titleLines = wrapText(title, titleFont, g.pageW);
  g.titleH = std::max(kTitleH, QFontMetricsF(titleFont).lineSpacing() * g.titleLines.size() + 6);
  g.headLines = wrapText(title, headFont, g.pageW);
  g.headH = std::max(kHeadH, QFontMetricsF(headFont).lineSpacing() * g.headLines.size() + 4);

  // Header rows: a block's title wraps in its columns; the rows it spans
  // grow (its last one) until it has room.
  std::map<int, size_t> colPos, rowPos;
  for (size_t i = 0; i < n; ++i) colPos[cols_[i]] = i;
  for (size_t k = 0; k < headerRows_.size(); ++k) rowPos[headerRows_[k]] = k;
  const QFont boldFont = font(kFontPx, true), plainFont = font(kFontPx, false);
  const double boldLine = QFontMetricsF(boldFont).lineSpacing();
  const double plainLine = QFontMetricsF(plainFont).lineSpacing();
  g.headerH.assign(headerRows_.size(), kHeaderRowH);
  g.mergeLines.resize(merges_.size());
  std::vector<size_t> order(merges_.size());
  for (size_t m = 0; m < order.size(); ++m) order[m] = m;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return merges_[a].row2 - merges_[a].row1 < merges_[b].row2 - merges_[b].row1;
  });
  for (size_t m : order) {
    const platform::HeaderMerge& b = merges_[m];
    const size_t c1 = colPos[b.col1], c2 = colPos[b.col2], r1 = rowPos[b.row1], r2 = rowPos[b.row2];
    g.mergeLines[m] = wrapText(qs(b.text), boldFont, g.left[c2 + 1] - g.left[c1] - 2 * kPad);
    const double need = boldLine * g.mergeLines[m].size() + 2;
    double have = 0;
    for (size_t r = r1; r <= r2; ++r) have += g.headerH[r];
    if (have < need) g.headerH[r2] += need - have;
  }
  for (double h : g.headerH) g.headerTotal += h;

  // Data rows: a text wider than its column wraps and the row grows.
  g.rowH.assign(rows_.size(), kRowH);
  for (size_t k = 0; k < rows_.size(); ++k) {
    int lines = 1;
    for (size_t i = 0; i < n; ++i) {
      const float w = textWidth_[k * n + i];
      if (w >= 0 && w <= g.widths[i] - 2 * kPad + kSlack) continue;
      const QStringList cell = wrapText(qs(exportCell(grid_, rows_[k], cols_[i]).shown), plainFont,
                                        g.widths[i] - 2 * kPad);
      lines = std::max(lines, static_cast<int>(cell.size()));
      g.wrapped.emplace(k * n + i, cell);
    }
    if (lines > 1) g.rowH[k] = std::max(kRowH, plainLine * lines + 2);
  }

  // Pages: as many rows as fit below the tallest head; a row taller than
  // that has a page of its own, drawn smaller.
  const double room = g.pageH - std::max(g.titleH, g.headH) - kFootH;
  const double fits = room / g.scale - g.headerTotal;
  Geometry::Page page;
  page.scale = g.scale;
  double used = 0;
  for (size_t k = 0; k < rows_.size(); ++k) {
    const double h = g.rowH[k];
    if (used > 0 && used + h > fits) {
      page.last = k;
      g.pages.push_back(page);
      page.first = k;
      used = 0;
    }
    if (used == 0 && h > fits) {
      g.pages.push_back({k, k + 1, std::min(g.scale, room / (g.headerTotal + h))});
      page.first = k + 1;
      continue;
    }
    used += h;
  }
  if (used > 0 || g.pages.empty()) {
    page.last = rows_.size();
    g.pages.push_back(page);
  }
  return g;
}

double GridPages::scale(const QPageLayout& layout) const {
  double s = 1;
  fit(layout.paintRect(QPageLayout::Point).width(), s);
  return s;
}

int GridPages::pageCount(const QPageLayout& layout) const {
  return static_cast<int>(geometry(layout).pages.size());
}

std::vector<double> GridPages::columnWidths(const QPageLayout& layout) const {
  double s = 1;
  return fit(layout.paintRect(QPageLayout::Point).width(), s);
}

TextLayerFixes GridPages::textLayerFixes() const {
  return sharedGlyphFixes({font(kFontPx, false), font(kFontPx, true)}, drawn_);
}

void GridPages::paintPage(QPainter& p, const Geometry& geo, int pageIndex) const {
  const Geometry::Page& page = geo.pages[static_cast<size_t>(pageIndex)];
  const int pages = static_cast<int>(geo.pages.size());
  double y = 0;
  p.setPen(Qt::black);
  const QFont titleFont = pageIndex == 0 ? font(13, true) : font(8, false);
  const QStringList& titleLines = pageIndex == 0 ? geo.titleLines : geo.headLines;
  p.setFont(titleFont);
  const double titleLine = QFontMetricsF(titleFont).lineSpacing();
  for (qsizetype j = 0; j < titleLines.size(); ++j)
    p.drawText(QRectF(0, titleLine * static_cast<double>(j), geo.pageW, titleLine),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, titleLines[j]);
  y = pageIndex == 0 ? geo.titleH : geo.headH;
  p.setFont(font(8, false));
  p.drawText(QRectF(0, geo.pageH - kFootH + 4, geo.pageW, kFootH - 4), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("第 %1 页 / 共 %2 页").arg(pageIndex + 1).arg(pages));

  // The table, at its scale.
  p.save();
  p.translate(0, y);
  p.scale(page.scale, page.scale);
  const size_t n = cols_.size();
  const std::vector<double>& left = geo.left;
  std::map<int, size_t> colPos, rowPos;
  for (size_t i = 0; i < n; ++i) colPos[cols_[i]] = i;
  for (size_t k = 0; k < headerRows_.size(); ++k) rowPos[headerRows_[k]] = k;
  std::vector<double> top(headerRows_.size() + 1, 0);
  for (size_t k = 0; k < headerRows_.size(); ++k) top[k + 1] = top[k] + geo.headerH[k];
  const QPen line(QColor(0x80, 0x80, 0x80), 0.5);
  p.setFont(font(kFontPx, true));
  const double boldLine = QFontMetricsF(p.font()).lineSpacing();
  for (size_t m = 0; m < merges_.size(); ++m) {
    const platform::HeaderMerge& b = merges_[m];
    const size_t c1 = colPos[b.col1], c2 = colPos[b.col2];
    const QRectF rect(left[c1], top[rowPos[b.row1]], left[c2 + 1] - left[c1],
                      top[rowPos[b.row2] + 1] - top[rowPos[b.row1]]);
    const auto colour = grid_.cellBackColor(0, b.col1);
    p.fillRect(rect, colour ? colourOf(*colour) : QColor(0xEE, 0xEE, 0xEE));
    p.setPen(line);
    p.drawRect(rect);
    p.setPen(Qt::black);
    drawLines(p, rect.adjusted(kPad, 0, -kPad, 0), Qt::AlignHCenter, geo.mergeLines[m], boldLine);
  }
  double ry = geo.headerTotal;
  p.setFont(font(kFontPx, false));
  const double plainLine = QFontMetricsF(p.font()).lineSpacing();
  const double tableWidth = left[n];
  for (size_t k = page.first; k < page.last; ++k) {
    const int r = rows_[k];
    const double h = geo.rowH[k];
    if ((k - page.first) % 2 == 1) p.fillRect(QRectF(0, ry, tableWidth, h), QColor(0xF0, 0xF8, 0xFF));
    for (size_t i = 0; i < n; ++i) {
      const QRectF rect(left[i], ry, geo.widths[i], h);
      p.setPen(line);
      p.drawRect(rect);
      const ExportCell cell = exportCell(grid_, r, cols_[i]);
      if (cell.shown.empty()) continue;
      p.setPen(Qt::black);
      const Qt::Alignment align = alignmentOf(grid_.ColAlignment(cols_[i]), cell) & Qt::AlignHorizontal_Mask;
      const QRectF inner = rect.adjusted(kPad, 0, -kPad, 0);
      const auto wrapped = geo.wrapped.find(k * n + i);
      if (wrapped != geo.wrapped.end())
        drawLines(p, inner, align, wrapped->second, plainLine);
      else
        p.drawText(inner, align | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, qs(cell.shown));
    }
    ry += h;
  }
  p.restore();
}

ExportResult GridPages::paint(QPagedPaintDevice& device, const QPageLayout& layout, const Progress& progress) const {
  ExportResult result;
  const Geometry geo = geometry(layout);
  QPainter p;
  if (!p.begin(&device)) {
    result.error = "cannot paint on the printer or file";
    return result;
  }
  // Painter units become points.
  const double perPoint = device.logicalDpiX() / 72.0;
  p.scale(perPoint, device.logicalDpiY() / 72.0);
  const int pages = static_cast<int>(geo.pages.size());
  for (int page = 0; page < pages; ++page) {
    if (progress && !progress(page, pages)) {
      p.end();
      result.status = ExportResult::Cancelled;
      return result;
    }
    if (page > 0) device.newPage();
    paintPage(p, geo, page);
  }
  p.end();
  if (progress && !progress(pages, pages)) {
    result.status = ExportResult::Cancelled;
    return result;
  }
  result.rows = static_cast<long>(rows_.size());
  result.status = ExportResult::Written;
  return result;
}

ExportResult writePdf(const platform::VSFlexGrid& grid, const ExportTitle& title, const std::string& path,
                      const Progress& progress) {
  ExportResult result;
  common::PendingFile file(path);
  if (!startFile(file, result)) return result;
  const GridPages pages(grid, title);
  const QPageLayout layout = pages.pageLayout();
  {
    // Written through the pending file, which keeps any failed write.
    common::PendingFileDevice device(file);
    QPdfWriter writer(&device);
    writer.setResolution(300);
    writer.setCreator(QStringLiteral("Velmora"));
    writer.setTitle(qs(titleLine(title)));
    writer.setPageLayout(layout);
    result = pages.paint(writer, layout, progress);
  }
  if (!result.ok()) return result;
  if (!mendPdfTextLayer(file.tempPath(), pages.textLayerFixes(), &result.error)) {
    result.status = ExportResult::Failed;
    return result;
  }
  return finishFile(file, nullptr, 0, result);  // the pages have told their progress
}

}  // namespace price_tools::exporting
