#include "price_tools/export/export_cells.h"

#include "common/atomic_file.h"
#include "platform/grid/format.h"

namespace price_tools::exporting {

namespace {

bool plainDecimal(const std::string& text, std::string& out) {
  const size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  const size_t e = text.find_last_not_of(' ');
  out = text.substr(b, e - b + 1);
  size_t i = out[0] == '-' ? 1 : 0;
  const size_t intStart = i;
  while (i < out.size() && out[i] >= '0' && out[i] <= '9') ++i;
  if (i == intStart) return false;
  if (i == out.size()) return true;
  if (out[i] != '.') return false;
  const size_t fracStart = ++i;
  while (i < out.size() && out[i] >= '0' && out[i] <= '9') ++i;
  return i == out.size() && i > fracStart;
}

// Literal text of a number format: runs quoted, "%" left bare (it scales
// the number in both the grid and the spreadsheet), quotes dropped.
std::string literal(const std::string& text) {
  std::string out, run;
  auto flush = [&] {
    if (!run.empty()) out += "\"" + run + "\"";
    run.clear();
  };
  for (char c : text) {
    if (c == '%') {
      flush();
      out += '%';
    } else if (c != '"') {
      run += c;
    }
  }
  flush();
  return out;
}

}  // namespace

ExportCell exportCell(const platform::VSFlexGrid& g, int row, int col) {
  ExportCell cell;
  if (g.ColDataType(col) == platform::flexDTBoolean) {
    if (g.TextMatrix(row, col).empty() && g.cellChecked(row, col) == platform::flexNoCheckbox) return cell;
    cell.kind = ExportCell::Boolean;
    cell.checked = g.cellChecked(row, col) == platform::flexChecked;
    cell.shown = cell.checked ? "√" : "";
    return cell;
  }
  const std::string& text = g.TextMatrix(row, col);
  if (text.empty()) return cell;
  cell.shown = g.displayText(row, col);
  if (!g.ColFormat(col).empty() && plainDecimal(text, cell.raw)) {
    cell.kind = ExportCell::Number;
    return cell;
  }
  cell.kind = ExportCell::Text;
  cell.raw = cell.shown;
  return cell;
}

std::string spreadsheetNumberFormat(const std::string& gridFormat) {
  const std::string f = platform::namedFormatPattern(gridFormat);
  const size_t first = f.find_first_of("0#");
  if (first == std::string::npos) return "";
  const size_t last = f.find_last_of("0#");
  std::string pattern;
  for (size_t i = first; i <= last; ++i) {
    const char c = f[i];
    if (c == '0' || c == '#' || c == ',' || c == '.') {
      pattern += c;
    } else if ((c == 'E' || c == 'e') && i + 1 < last && (f[i + 1] == '+' || f[i + 1] == '-')) {
      // The exponent of a scientific pattern, read by both alike.
      pattern += f.substr(i, 2);
      ++i;
    }
  }
  return literal(f.substr(0, first)) + pattern + literal(f.substr(last + 1));
}

std::vector<int> exportRows(const platform::VSFlexGrid& grid) { return grid.visibleDataRows(); }

bool startFile(const common::PendingFile& file, ExportResult& result) {
  if (file.ok()) return true;
  result.status = ExportResult::Failed;
  result.error = file.error();
  return false;
}

ExportResult finishFile(common::PendingFile& file, const Progress& progress, long total, ExportResult result) {
  if (progress && !progress(total, total)) {
    result.status = ExportResult::Cancelled;
    return result;
  }
  if (!file.commit()) {
    result.status = ExportResult::Failed;
    result.error = file.error();
    return result;
  }
  result.status = ExportResult::Written;
  return result;
}

}  // namespace price_tools::exporting
