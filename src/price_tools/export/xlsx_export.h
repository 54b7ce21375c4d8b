#pragma once
// A grid as a spreadsheet (.xlsx), written with libxlsxwriter in its
// constant-memory mode (rows are streamed out as they are written, so memory
// stays flat whatever the row count):
//   - row 1: the title line, merged across the table;
//   - then the grid's shown header rows with its merges (the same blocks the
//     view draws), centred, with the header colour of row 0;
//   - then one row per shown data row: numbers as numbers (the value of their
//     decimal text) with the column's format as the cell's number format,
//     texts as texts, check boxes as TRUE/FALSE;
//   - column widths from the grid (twips at 96 dpi, in character widths);
//   - the title and header rows frozen; the sheet named after the library.
// The file appears under its name only when complete (PendingFile).
#include <string>

#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/export_cells.h"
#include "price_tools/export/export_title.h"

namespace price_tools::exporting {

ExportResult writeXlsx(const platform::VSFlexGrid& grid, const ExportTitle& title, const std::string& path,
                       const Progress& progress = {});

// A plain decimal text ("-12.5") as the number a spreadsheet cell holds.
double spreadsheetNumber(const std::string& decimal);

// A column width in twips as a spreadsheet width (characters of the default
// font, 7 pixels each plus 5 pixels of padding, 15 twips to a pixel).
double spreadsheetColumnWidth(int twips);

}  // namespace price_tools::exporting
