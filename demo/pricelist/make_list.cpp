// Writes the demo material list as an estimating program exports it: the
// title merged across the table on row 1, the header on row 3, numbers as
// numbers (quantities with three places), from the readable CSV beside it.
//   make_list 材料清单.csv 材料清单.xlsx
#include <xlsxwriter.h>

#include <cstdio>
#include <exception>

#include "common/atomic_file.h"
#include "price_tools/export/xlsx_export.h"
#include "price_tools/pricelist/material_list.h"

using namespace price_tools::pricelist;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_list LIST.csv OUT.xlsx\n");
    return 2;
  }
  try {
    const MaterialList list = readMaterialList(argv[1]);
    common::PendingFile file(argv[2]);
    if (!file.ok()) throw std::runtime_error(file.error());
    lxw_workbook* wb = workbook_new(file.tempPath().c_str());
    if (!wb) throw std::runtime_error("cannot start the workbook");
    lxw_worksheet* ws = workbook_add_worksheet(wb, "主要材料表");
    lxw_format* title = workbook_add_format(wb);
    format_set_bold(title);
    format_set_font_size(title, 14);
    format_set_align(title, LXW_ALIGN_CENTER);
    lxw_format* header = workbook_add_format(wb);
    format_set_bold(header);
    format_set_border(header, LXW_BORDER_THIN);
    lxw_format* quantity = workbook_add_format(wb);
    format_set_num_format(quantity, "0.000");
    const lxw_col_t last = static_cast<lxw_col_t>(list.headers.size() - 1);
    worksheet_merge_range(ws, 0, 0, 0, last, list.titleRows.empty() ? "" : list.titleRows[0].c_str(), title);
    for (size_t c = 0; c < list.headers.size(); ++c)
      worksheet_write_string(ws, 2, static_cast<lxw_col_t>(c), list.headers[c].c_str(), header);
    const int quantityColumn = list.columns.at(ListColumn::Quantity);
    lxw_row_t r = 3;
    for (const ListLine& line : list.lines) {
      for (size_t c = 0; c < line.cells.size(); ++c) {
        const std::string& text = line.cells[c];
        const auto number = c == 0 || static_cast<int>(c) == quantityColumn ? listNumber(text) : std::nullopt;
        if (number)
          worksheet_write_number(ws, r, static_cast<lxw_col_t>(c), price_tools::exporting::spreadsheetNumber(number->text()),
                                 static_cast<int>(c) == quantityColumn ? quantity : nullptr);
        else if (!text.empty())
          worksheet_write_string(ws, r, static_cast<lxw_col_t>(c), text.c_str(), nullptr);
      }
      ++r;
    }
    worksheet_set_column(ws, 2, 3, 24, nullptr);
    if (workbook_close(wb) != LXW_NO_ERROR) throw std::runtime_error("cannot write the workbook");
    if (!file.commit()) throw std::runtime_error(file.error());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_list: %s\n", e.what());
    return 1;
  }
  return 0;
}
