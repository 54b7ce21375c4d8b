#pragma once
// A grid on paper: the pages that the print preview shows, the printer
// prints and "导出PDF" writes, painted by one routine onto any paged device
// (QPrinter, QPdfWriter).
//
// Every page carries the title line at its top (library, what the grid shows,
// date; on the first page in large type, on the others as a running head),
// the grid's shown header rows with their merges, as many data rows as fit,
// and "第 N 页 / 共 M 页" at its foot. Every cell is shown whole: the columns
// take the grid's widths (twips at 20 to the point) where the page has room,
// are fitted to the page's width otherwise, and a text wider than its column
// wraps inside its cell (the row grows). When even the narrowest columns (the
// longest word of each, and a few characters at least) do not fit, the page
// is turned to landscape, and when they do not fit there either the table is
// scaled down to the page's width. A row taller than a page is scaled down on
// a page of its own. Needs a QGuiApplication (fonts).
#include <QPageLayout>
#include <QPageSize>

#include <string>
#include <vector>

#include "platform/grid/header_merge.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/export_cells.h"
#include "price_tools/export/export_title.h"
#include "price_tools/export/grid_pages_text.h"

class QPagedPaintDevice;
class QPainter;

namespace price_tools::exporting {

class GridPages {
 public:
  GridPages(const platform::VSFlexGrid& grid, ExportTitle title);

  // Portrait when the narrowest columns fit the printable width of the paper,
  // landscape otherwise; margins of 12 mm.
  QPageLayout pageLayout(const QPageSize& paper = QPageSize(QPageSize::A4)) const;

  // The factor the table is drawn at on a page of this layout (1, or less
  // when it is wider than the page), and the number of pages.
  double scale(const QPageLayout& layout) const;
  int pageCount(const QPageLayout& layout) const;

  // The column widths on a page of this layout (points, before the scale).
  std::vector<double> columnWidths(const QPageLayout& layout) const;

  // The mends the text layer of a PDF of these pages needs (grid_pages_text.h).
  TextLayerFixes textLayerFixes() const;

  // Paints every page onto a device that is already set to `layout` (the
  // painter begins and ends here). Progress counts pages. Returns Written,
  // Cancelled, or Failed when the device cannot be painted on.
  ExportResult paint(QPagedPaintDevice& device, const QPageLayout& layout, const Progress& progress = {}) const;

 private:
  struct Geometry;
  Geometry geometry(const QPageLayout& layout) const;
  std::vector<double> fit(double width, double& scale) const;
  void paintPage(QPainter& p, const Geometry& geo, int page) const;

  const platform::VSFlexGrid& grid_;
  ExportTitle title_;
  std::vector<int> cols_;
  std::vector<int> headerRows_;
  std::vector<int> rows_;
  std::vector<platform::HeaderMerge> merges_;
  // Per column, in points: the grid's width, the widest text on one line,
  // and the narrowest it may become (its longest word, a few characters).
  std::vector<double> gridWidth_, oneLine_, narrowest_;
  std::vector<float> textWidth_;  // every data cell's text on one line, row by row
  std::vector<bool> drawn_;       // the characters the pages draw
};

// The pages as a PDF file, through a PendingFile.
ExportResult writePdf(const platform::VSFlexGrid& grid, const ExportTitle& title, const std::string& path,
                      const Progress& progress = {});

}  // namespace price_tools::exporting
