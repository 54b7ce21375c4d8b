#pragma once
// A project's material list as an estimating program exports it: a
// spreadsheet (.xlsx) or a CSV file (UTF-8 with or without a byte-order mark,
// or GBK, told apart from the bytes), with a header row somewhere in its first
// 20 rows (title rows above it, merged or not, are normal) and one material a
// line below it.
//
// The header row is the first row in which a name column and at least one of
// the model, unit or quantity columns are found by their titles (blanks and
// full-width forms ignored):
//   name      名称, 材料名称, 材料（设备）名称, 项目名称, 名称及规格
//   model     规格, 规格型号, 型号规格, 型号
//   unit      单位, 计量单位
//   quantity  数量, 用量, 消耗量, 工程量
//   bid       单价, 预算价, 投标单价, 报价, 市场价       (optional)
//   base      基准单价, 基期价                          (optional)
//   code      编码, 材料编码, 编号                      (optional)
// Lines without a name (blank lines) are skipped, and so are the lines a list
// sums itself up with: a name that is a subtotal's label (小计, 合计, 总计,
// 共计, 累计, 本页小计, "钢材小计", "合计（元）" …) on a line that names no
// unit. Their rows are kept in MaterialList::subtotalRows, for the summary.
//
// Workbooks are read with libarchive and Qt's XML stream reader, bounded as
// the updater's archives are (entry count, entry sizes, unpacked total, ratio).
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "price_tools/months/decimal.h"

namespace price_tools::pricelist {

enum class ListColumn { Name, Model, Unit, Quantity, Bid, Base, Code };

struct ListLine {
  int row = 0;                     // the line's row number in the file or sheet, from 1
  std::vector<std::string> cells;  // every cell of the row as text, one per column of the header row
  std::string name, model, unit, code;
  std::optional<Decimal> quantity;  // nullopt: empty or not a number
  std::optional<Decimal> bid;       // the list's bid price (单价 …), when it has the column
  std::optional<Decimal> base;      // the list's base price (基准单价 …), when it has the column
};

struct MaterialList {
  std::string path;                      // the file as given
  std::string sheet;                     // the sheet read; "" for CSV
  std::vector<std::string> sheets;       // every sheet of the workbook, in its order; none for CSV
  int headerRow = 0;                     // from 1
  std::vector<std::string> titleRows;    // the texts of the rows above the header row (merged titles), one per row
  std::vector<std::string> headers;      // the header row's titles, one per column (the user's own columns)
  std::map<ListColumn, int> columns;     // which column (index into headers) holds what
  std::vector<std::string> numberFormats;  // per column: the number format of the column's first data cell ("" for none)
  std::vector<ListLine> lines;
  std::vector<int> subtotalRows;         // rows skipped as the list's own subtotals, from 1

  bool has(ListColumn c) const { return columns.count(c) != 0; }
};

// A list that cannot be read: the message names the file and what is missing
// or wrong ("材料清单.xlsx: 找不到表头（名称、规格型号、单位、数量）").
class ListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a list. `sheet` chooses a workbook's sheet by name (the first sheet
// when empty); it is an error for a CSV file or a name the workbook lacks.
// Throws ListError.
MaterialList readMaterialList(const std::string& path, const std::string& sheet = std::string());

// A text as titles and lines are compared: full-width forms as half-width,
// blanks dropped, letters in lower case ("材料（设备） 名称" and "材料(设备)名称" alike).
std::string foldedText(const std::string& text);

// True when a line's name and unit are those of a subtotal the list writes
// between or after its materials ("小计", "本页合计", "钢材小计", "合 计：", "总计(元)").
bool isSubtotalLine(const std::string& name, const std::string& unit);

// A cell's text as a number: "1,234.5", " 12 ", "1.5e3" (exact); nullopt otherwise.
std::optional<Decimal> listNumber(const std::string& text);

}  // namespace price_tools::pricelist
