#pragma once
// What an export says about itself: the title line over the table (library,
// what the grid shows, date), the sheet name and the file name a save dialog
// proposes. The window and velmora-cli build the same texts from these.
#include <string>

#include "platform/grid/vsflexgrid.h"

namespace price_tools::exporting {

struct ExportTitle {
  std::string library;  // library name without extension
  std::string shown;    // what the grid shows: category path, manufacturer, search
  std::string date;     // YYYY-MM-DD
};

// "LIBRARY  SHOWN  DATE", the parts that are empty left out.
std::string titleLine(const ExportTitle& title);

// Today's local date as YYYY-MM-DD.
std::string today();

// What a product grid shows, as a title part:
//   category: the category's path in the category grid, names joined by " > "
//             (the rows of lower outline level above it), or "分类 ID" when the
//             grid has no row for it;
//   factory:  the manufacturer's name in the manufacturer grid, or "厂家 ID";
//   search:   "查询 FIELD：TEXT".
// A navigator row's name is the text of its first shown column; its id the
// text of its last column.
std::string describeCategory(const platform::VSFlexGrid& categories, const std::string& id);
std::string describeFactory(const platform::VSFlexGrid& factories, const std::string& id);
std::string describeSearch(const std::string& field, const std::string& text);

// The sheet name for a library: characters a sheet name may not hold
// ([ ] : * ? / \) become "_", apostrophes at either end are dropped, and it
// is cut to 31 characters; "Sheet1" when nothing is left.
std::string sheetName(const std::string& library);

// The file name a save dialog proposes: "LIBRARY SHOWN.EXT" (or "LIBRARY.EXT"),
// a category path's " > " written "-", and the characters a file name may not hold (/ \ : * ? " < > | and control
// characters) replaced by "_". `extension` without the dot.
std::string proposedFileName(const ExportTitle& title, const std::string& extension);

}  // namespace price_tools::exporting
