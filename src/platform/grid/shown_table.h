#pragma once
// What a grid shows, read without a view: the header rows and columns that
// show, a column's title, the text a cell shows, and the selected rows written
// as a table for the clipboard (tab-separated text and HTML). The view's copy
// and the exports (spreadsheet, CSV, print) read a grid through these, so a
// grid looks the same wherever it goes.
#include <string>
#include <vector>

#include "platform/grid/header_merge.h"
#include "platform/grid/vsflexgrid.h"

namespace platform {

// The header rows that show: rows below FixedRows that are not hidden.
std::vector<int> shownHeaderRows(const VSFlexGrid& grid);

// The data columns that show: from FixedCols on, neither hidden nor 0 wide
// (the row-header column and the hidden id columns are left out).
std::vector<int> shownColumns(const VSFlexGrid& grid);

// A column's title on one line: the text of header row 0, or "group-title"
// when header row 1 shows and holds a different text (价格-含税).
std::string columnTitle(const VSFlexGrid& grid, int col);

// The text a data cell shows: the formatted text (displayText); for a cell of
// a boolean column "√" when ticked and "" otherwise.
std::string shownText(const VSFlexGrid& grid, int row, int col);

// The given data rows as the clipboard carries them:
//   - text: a line of column titles, then one line per row, cells separated
//     by tabs (tabs and line breaks inside a cell become blanks), lines ending
//     in "\n";
//   - html: a <table> whose header is the grid's merged header (colspan and
//     rowspan as the grid merges it), then one <tr> per row, texts escaped.
// Cells are the texts the grid shows (prices as formatted).
struct CopiedRows {
  std::string text;
  std::string html;
};
CopiedRows copyRows(const VSFlexGrid& grid, const std::vector<int>& rows);

}  // namespace platform
