#pragma once
// The cells of an export: what a shown grid cell becomes in a spreadsheet, a
// CSV file or on paper, and the common frame of every export (progress with
// cancel, the result).
#include <functional>
#include <string>
#include <vector>

#include "platform/grid/vsflexgrid.h"

namespace common {
class PendingFile;
}

namespace price_tools::exporting {

struct ExportCell {
  enum Kind { Empty, Text, Number, Boolean };
  Kind kind = Empty;
  std::string raw;    // Number: the decimal text as stored (blanks trimmed); Text: the shown text
  std::string shown;  // the text the grid shows (formatted)
  bool checked = false;
};

// A data cell: a cell of a boolean column is Boolean; a cell of a column with
// a number format (ColFormat) whose text is a plain decimal number
// (-?digits[.digits], blanks around it ignored) is a Number; any other cell
// with text is Text; an empty one Empty. Texts of unformatted columns stay
// texts even when they look like numbers (a model "0012" keeps its zeros).
ExportCell exportCell(const platform::VSFlexGrid& grid, int row, int col);

// The spreadsheet number format that shows a number as the grid's column
// format does. A named format stands for the grid's own pattern
// (platform::namedFormatPattern): "Fixed" 0.00, "Standard" #,##0.00,
// "Percent" 0.00%, "Scientific" 0.00E+00, "Currency" "¥"#,##0.00. A pattern
// of 0 # , . (and an exponent E+ E-) keeps its literal text around it quoted
// ("#,##0.00元" gives #,##0.00"元"). Empty for an empty format or one
// without a digit pattern.
std::string spreadsheetNumberFormat(const std::string& gridFormat);

// Progress of a long export: called with the rows written so far and the
// total; returning false cancels the export.
using Progress = std::function<bool(long done, long total)>;

struct ExportResult {
  enum Status { Written, Cancelled, Failed };
  Status status = Failed;
  std::string error;  // Failed: why
  long rows = 0;      // data rows written
  bool ok() const { return status == Written; }
};

// The start of an export to a file: false, with the reason in `result`,
// when `file` has no temporary file to write (its target refused, say).
[[nodiscard]] bool startFile(const common::PendingFile& file, ExportResult& result);

// The end of an export to a file whose contents are complete in `file`'s
// temporary file: a cancel that comes now still leaves no file; otherwise the
// file is put in place and `result` (its rows counted) becomes Written.
ExportResult finishFile(common::PendingFile& file, const Progress& progress, long total, ExportResult result);

// Rows between two progress calls.
constexpr long kProgressEvery = 2000;

// The data rows an export writes: the grid's shown data rows (rows inside a
// folded outline node are left out), in order.
std::vector<int> exportRows(const platform::VSFlexGrid& grid);

}  // namespace price_tools::exporting
