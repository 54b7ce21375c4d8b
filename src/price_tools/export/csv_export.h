#pragma once
// A grid as CSV: a line of column titles (columnTitle: "价格-含税"), then one
// line per shown data row, fields separated by commas, quoted when they hold
// a comma, a quote or a line break, lines ending in CR LF. Streamed to the
// file (flat memory) and renamed into place when complete.
#include <string>

#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/export_cells.h"

namespace price_tools::exporting {

struct CsvOptions {
  enum Encoding { Utf8Bom, Gbk };
  // UTF-8 with a byte-order mark (spreadsheets on Chinese systems then read it
  // right), or code page 936 without one (characters GBK lacks become "?").
  Encoding encoding = Utf8Bom;
  // Numbers as the grid shows them (formatted) or as stored (the decimal text).
  bool numbersAsShown = true;
};

ExportResult writeCsv(const platform::VSFlexGrid& grid, const CsvOptions& options, const std::string& path,
                      const Progress& progress = {});

// One CSV field.
std::string csvField(const std::string& text);

}  // namespace price_tools::exporting
