#pragma once
// A grid on paper: the pages that the print preview shows, the printer
// prints and "导出PDF" writes, painted by one routine onto any paged device
// (QPrinter, QPdfWriter).
//
// Every page carries the title line at its top (library, what the grid shows,
// date; on the first page in large type, on the others as a running head),
// the grid's shown header rows with their merges, as many data rows as fit,
// and "第 N 页 / 共 M 页" at its foot. The table keeps the grid's column
// widths (twips at 20 to the point); when it is wider than the page the page
// is turned to landscape, and when it is wider still it is scaled down to the
// page's width. Needs a QGuiApplication (fonts).
#include <QPageLayout>
#include <QPageSize>

#include <string>
#include <vector>

#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/export_cells.h"
#include "price_tools/export/export_title.h"

class QPagedPaintDevice;
class QPainter;

namespace price_tools::exporting {

class GridPages {
 public:
  GridPages(const platform::VSFlexGrid& grid, ExportTitle title);

  // Portrait when the table fits the printable width of the paper, landscape
  // otherwise; margins of 12 mm.
  QPageLayout pageLayout(const QPageSize& paper = QPageSize(QPageSize::A4)) const;

  // The factor the table is drawn at on a page of this layout (1, or less
  // when it is wider than the page), and the number of pages.
  double scale(const QPageLayout& layout) const;
  int pageCount(const QPageLayout& layout) const;

  // Paints every page onto a device that is already set to `layout` (the
  // painter begins and ends here). Progress counts pages. Returns Written,
  // Cancelled, or Failed when the device cannot be painted on.
  ExportResult paint(QPagedPaintDevice& device, const QPageLayout& layout, const Progress& progress = {}) const;

 private:
  struct Geometry;
  Geometry geometry(const QPageLayout& layout) const;
  void paintPage(QPainter& p, const Geometry& geo, int page, int pages) const;

  const platform::VSFlexGrid& grid_;
  ExportTitle title_;
  std::vector<int> cols_;
  std::vector<double> widths_;  // points
  std::vector<int> headerRows_;
  std::vector<int> rows_;
  double tableWidth_ = 0;
};

// The pages as a PDF file, through a PendingFile.
ExportResult writePdf(const platform::VSFlexGrid& grid, const ExportTitle& title, const std::string& path,
                      const Progress& progress = {});

}  // namespace price_tools::exporting
