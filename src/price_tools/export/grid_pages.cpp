#include "price_tools/export/grid_pages.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <map>

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

}  // namespace

struct GridPages::Geometry {
  double pageW = 0, pageH = 0;  // printable area, points
  double scale = 1;
  int rowsPerPage = 1;
  int pages = 1;
};

GridPages::GridPages(const platform::VSFlexGrid& grid, ExportTitle title)
    : grid_(grid),
      title_(std::move(title)),
      cols_(platform::shownColumns(grid)),
      headerRows_(platform::shownHeaderRows(grid)),
      rows_(exportRows(grid)) {
  for (int c : cols_) {
    widths_.push_back(grid_.effectiveColWidth(c) / 20.0);
    tableWidth_ += widths_.back();
  }
}

QPageLayout GridPages::pageLayout(const QPageSize& paper) const {
  const QMarginsF margins(kMarginMm, kMarginMm, kMarginMm, kMarginMm);
  QPageLayout portrait(paper, QPageLayout::Portrait, margins, QPageLayout::Millimeter);
  if (tableWidth_ <= portrait.paintRect(QPageLayout::Point).width()) return portrait;
  return QPageLayout(paper, QPageLayout::Landscape, margins, QPageLayout::Millimeter);
}

GridPages::Geometry GridPages::geometry(const QPageLayout& layout) const {
  Geometry g;
  const QRectF area = layout.paintRect(QPageLayout::Point);
  g.pageW = area.width();
  g.pageH = area.height();
  g.scale = tableWidth_ > g.pageW && tableWidth_ > 0 ? g.pageW / tableWidth_ : 1.0;
  const double header = kHeaderRowH * static_cast<double>(headerRows_.size());
  // The first page's title is the tallest head; every page keeps room for it.
  const double room = (g.pageH - kTitleH - kFootH) / g.scale - header;
  g.rowsPerPage = std::max(1, static_cast<int>(std::floor(room / kRowH)));
  const int rows = static_cast<int>(rows_.size());
  g.pages = std::max(1, (rows + g.rowsPerPage - 1) / g.rowsPerPage);
  return g;
}

double GridPages::scale(const QPageLayout& layout) const { return geometry(layout).scale; }

int GridPages::pageCount(const QPageLayout& layout) const { return geometry(layout).pages; }

void GridPages::paintPage(QPainter& p, const Geometry& geo, int page, int pages) const {
  const QString title = qs(titleLine(title_));
  double y = 0;
  p.setPen(Qt::black);
  if (page == 0) {
    p.setFont(font(13, true));
    p.drawText(QRectF(0, 0, geo.pageW, kTitleH - 6), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    y = kTitleH;
  } else {
    p.setFont(font(8, false));
    p.drawText(QRectF(0, 0, geo.pageW, kHeadH - 4), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    y = kHeadH;
  }
  p.setFont(font(8, false));
  p.drawText(QRectF(0, geo.pageH - kFootH + 4, geo.pageW, kFootH - 4), Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("第 %1 页 / 共 %2 页").arg(page + 1).arg(pages));

  // The table, at its scale.
  p.save();
  p.translate(0, y);
  p.scale(geo.scale, geo.scale);
  std::vector<double> left(cols_.size() + 1, 0);
  for (size_t i = 0; i < cols_.size(); ++i) left[i + 1] = left[i] + widths_[i];
  std::map<int, size_t> colPos, rowPos;
  for (size_t i = 0; i < cols_.size(); ++i) colPos[cols_[i]] = i;
  for (size_t k = 0; k < headerRows_.size(); ++k) rowPos[headerRows_[k]] = k;
  const QPen line(QColor(0x80, 0x80, 0x80), 0.5);
  p.setFont(font(kFontPx, true));
  for (const platform::HeaderMerge& b : platform::mergeHeader(grid_, headerRows_, cols_)) {
    const size_t c1 = colPos[b.col1], c2 = colPos[b.col2];
    const QRectF rect(left[c1], kHeaderRowH * static_cast<double>(rowPos[b.row1]), left[c2 + 1] - left[c1],
                      kHeaderRowH * static_cast<double>(rowPos[b.row2] - rowPos[b.row1] + 1));
    const auto colour = grid_.cellBackColor(0, b.col1);
    p.fillRect(rect, colour ? colourOf(*colour) : QColor(0xEE, 0xEE, 0xEE));
    p.setPen(line);
    p.drawRect(rect);
    p.setPen(Qt::black);
    const QRectF inner = rect.adjusted(kPad, 0, -kPad, 0);
    // A title wider than its column wraps (a two-row cell has room for it).
    p.drawText(inner, Qt::AlignCenter | Qt::TextWrapAnywhere, qs(b.text));
  }
  double ry = kHeaderRowH * static_cast<double>(headerRows_.size());
  p.setFont(font(kFontPx, false));
  const QFontMetricsF metrics(p.font());
  const size_t first = static_cast<size_t>(page) * static_cast<size_t>(geo.rowsPerPage);
  const size_t last = std::min(rows_.size(), first + static_cast<size_t>(geo.rowsPerPage));
  for (size_t k = first; k < last; ++k, ry += kRowH) {
    const int r = rows_[k];
    if ((k - first) % 2 == 1) p.fillRect(QRectF(0, ry, tableWidth_, kRowH), QColor(0xF0, 0xF8, 0xFF));
    for (size_t i = 0; i < cols_.size(); ++i) {
      const QRectF rect(left[i], ry, widths_[i], kRowH);
      p.setPen(line);
      p.drawRect(rect);
      const ExportCell cell = exportCell(grid_, r, cols_[i]);
      if (cell.shown.empty()) continue;
      p.setPen(Qt::black);
      const QRectF inner = rect.adjusted(kPad, 0, -kPad, 0);
      p.drawText(inner, alignmentOf(grid_.ColAlignment(cols_[i]), cell) | Qt::TextSingleLine,
                 metrics.elidedText(qs(cell.shown), Qt::ElideRight, inner.width()));
    }
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
  for (int page = 0; page < geo.pages; ++page) {
    if (progress && !progress(page, geo.pages)) {
      p.end();
      result.status = ExportResult::Cancelled;
      return result;
    }
    if (page > 0) device.newPage();
    paintPage(p, geo, page, geo.pages);
  }
  p.end();
  if (progress && !progress(geo.pages, geo.pages)) {
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
  if (!file.ok()) {
    result.error = file.error();
    return result;
  }
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
  return finishFile(file, nullptr, 0, result);  // the pages have told their progress
}

}  // namespace price_tools::exporting
