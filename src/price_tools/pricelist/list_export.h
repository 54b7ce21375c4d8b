#pragma once
// A priced material list written back out: the user's own columns, then
// 匹配材料, 规格型号, 单位, 单价, 合价 and 匹配状态 (and, with an adjustment,
// 基期价, 现行价, 调差单价, 调差金额), a total row, and with an adjustment
// the rule and the risk range in the sheet's title rows. To .xlsx (numbers as
// numbers, the user's number formats) or CSV (UTF-8 with BOM, or GBK). The
// file appears under its name only when complete.
#include <string>

#include "price_tools/export/export_cells.h"
#include "price_tools/pricelist/priced_list.h"

namespace price_tools::pricelist {

exporting::ExportResult writePricedXlsx(const PricedList& priced, const std::string& path,
                                        const exporting::Progress& progress = {});
exporting::ExportResult writePricedCsv(const PricedList& priced, const std::string& path, bool gbk = false,
                                       const exporting::Progress& progress = {});

}  // namespace price_tools::pricelist
