#include "price_tools/export/xlsx_export.h"

#include <archive.h>
#include <archive_entry.h>
#include <xlsxwriter.h>

#include <charconv>
#include <map>
#include <memory>

#include "common/atomic_file.h"
#include "platform/grid/shown_table.h"

namespace price_tools::exporting {

namespace {

using platform::VSFlexGrid;

struct WorkbookCloser {
  void operator()(lxw_workbook* wb) const {
    if (wb) workbook_close(wb);
  }
};

lxw_format_alignments horizontal(int gridAlignment) {
  switch (gridAlignment) {
    case platform::flexAlignLeftTop:
    case platform::flexAlignLeftCenter:
    case platform::flexAlignLeftBottom: return LXW_ALIGN_LEFT;
    case platform::flexAlignCenterTop:
    case platform::flexAlignCenterCenter:
    case platform::flexAlignCenterBottom: return LXW_ALIGN_CENTER;
    case platform::flexAlignRightTop:
    case platform::flexAlignRightCenter:
    case platform::flexAlignRightBottom: return LXW_ALIGN_RIGHT;
    default: return LXW_ALIGN_NONE;
  }
}

// Grid colour (red in the low byte) as the writer's 0xRRGGBB.
lxw_color_t rgb(uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

}  // namespace

double spreadsheetNumber(const std::string& decimal) {
  double v = 0;
  std::from_chars(decimal.data(), decimal.data() + decimal.size(), v);
  return v;
}

namespace {

// The spreadsheet library does not look at the results of its own writes: a
// part that hit a full disk goes into the workbook cut short, and closing it
// still succeeds. So the workbook is read back: every part must unpack (its
// checksum right) and every XML part end with its root element's end tag.
// "" when whole, otherwise what is wrong.
std::string unwholePart(const std::string& path) {
  std::unique_ptr<archive, int (*)(archive*)> a(archive_read_new(), archive_read_free);
  archive_read_support_format_zip(a.get());
  if (archive_read_open_filename(a.get(), path.c_str(), 1 << 16) != ARCHIVE_OK)
    return std::string("the workbook cannot be read back: ") + archive_error_string(a.get());
  int parts = 0;
  archive_entry* entry = nullptr;
  int r;
  while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK) {
    ++parts;
    const std::string name = archive_entry_pathname(entry);
    std::string head, tail;
    char buf[1 << 16];
    la_ssize_t n;
    while ((n = archive_read_data(a.get(), buf, sizeof buf)) > 0) {
      if (head.size() < 512) head.append(buf, std::min<size_t>(size_t(n), 512 - head.size()));
      tail.append(buf, size_t(n));
      if (tail.size() > 256) tail.erase(0, tail.size() - 256);
    }
    if (n < 0) return "the workbook's part " + name + " is damaged: " + archive_error_string(a.get());
    if (name.size() < 4 || (name.compare(name.size() - 4, 4, ".xml") != 0 && name.compare(name.size() - 5, 5, ".rels") != 0))
      continue;
    size_t open = head.find('<');
    while (open != std::string::npos && open + 1 < head.size() && (head[open + 1] == '?' || head[open + 1] == '!'))
      open = head.find('<', open + 1);
    if (open == std::string::npos) return "the workbook's part " + name + " is empty";
    const size_t end = head.find_first_of(" \t\r\n/>", open + 1);
    const std::string root = "</" + head.substr(open + 1, end - open - 1) + ">";
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r' || tail.back() == ' ')) tail.pop_back();
    if (tail.size() < root.size() || tail.compare(tail.size() - root.size(), root.size(), root) != 0)
      return "the workbook's part " + name + " was cut short";
  }
  if (r != ARCHIVE_EOF) return std::string("the workbook cannot be read back: ") + archive_error_string(a.get());
  if (parts == 0) return "the workbook is empty";
  return "";
}

}  // namespace

double spreadsheetColumnWidth(int twips) {
  const double px = twips / 15.0;
  return px <= 5 ? px / 12.0 : (px - 5) / 7.0;
}

namespace {

// The grid's part that goes into the sheet: its shown columns, header rows
// and data rows, and each shown column's place in the sheet.
struct SheetLayout {
  std::vector<int> cols;
  std::vector<int> headerRows;
  std::vector<int> rows;
  std::map<int, lxw_col_t> colAt;
  int width() const { return static_cast<int>(cols.size()); }
};

SheetLayout sheetLayout(const VSFlexGrid& g) {
  SheetLayout l;
  l.cols = platform::shownColumns(g);
  l.headerRows = platform::shownHeaderRows(g);
  l.rows = exportRows(g);
  for (int i = 0; i < l.width(); ++i) l.colAt[l.cols[static_cast<size_t>(i)]] = static_cast<lxw_col_t>(i);
  return l;
}

// A workbook in constant-memory mode on the pending file's temporary file;
// null (the reason in result) when it cannot be started.
std::unique_ptr<lxw_workbook, WorkbookCloser> startWorkbook(const common::PendingFile& file, ExportResult& result) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new_opt(file.tempPath().c_str(), &options));
  if (!wb) result.error = "cannot start the workbook " + file.tempPath();
  return wb;
}

lxw_format* titleFormat(lxw_workbook* wb) {
  lxw_format* f = workbook_add_format(wb);
  format_set_bold(f);
  format_set_font_size(f, 13);
  format_set_align(f, LXW_ALIGN_LEFT);
  format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
  return f;
}

// Header cells by the colour of the column's first header row, each colour's
// format made when it is first needed.
class HeaderFormats {
 public:
  HeaderFormats(lxw_workbook* wb, const VSFlexGrid& g) : wb_(wb), g_(g) {}
  lxw_format* of(int col) {
    const auto colour = g_.cellBackColor(0, col);
    auto& f = made_[std::make_pair(colour ? 1 : 0, colour.value_or(0))];
    if (!f) {
      f = workbook_add_format(wb_);
      format_set_bold(f);
      format_set_align(f, LXW_ALIGN_CENTER);
      format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
      format_set_border(f, LXW_BORDER_THIN);
      if (colour) format_set_bg_color(f, rgb(*colour));
    }
    return f;
  }

 private:
  lxw_workbook* wb_;
  const VSFlexGrid& g_;
  std::map<std::pair<int, uint32_t>, lxw_format*> made_;
};

// Data cells by column: the column's number format and alignment.
std::vector<lxw_format*> dataFormats(lxw_workbook* wb, const VSFlexGrid& g, const std::vector<int>& cols) {
  std::vector<lxw_format*> formats;
  for (int c : cols) {
    lxw_format* f = workbook_add_format(wb);
    const std::string numberFormat = spreadsheetNumberFormat(g.ColFormat(c));
    if (!numberFormat.empty()) format_set_num_format(f, numberFormat.c_str());
    if (const auto a = horizontal(g.ColAlignment(c)); a != LXW_ALIGN_NONE) format_set_align(f, a);
    formats.push_back(f);
  }
  return formats;
}

void setColumnWidths(lxw_worksheet* ws, const VSFlexGrid& g, const SheetLayout& l) {
  for (int i = 0; i < l.width(); ++i)
    worksheet_set_column(ws, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                         spreadsheetColumnWidth(g.effectiveColWidth(l.cols[static_cast<size_t>(i)])), nullptr);
}

// In constant-memory mode a row is written out as soon as a later row is
// touched, so every row is written whole, in order, and a merge is recorded
// while its last row is the current one.

void writeTitleRow(lxw_worksheet* ws, const ExportTitle& title, int width, lxw_format* f) {
  worksheet_set_row(ws, 0, 24, nullptr);
  worksheet_write_string(ws, 0, 0, titleLine(title).c_str(), f);
  if (width > 1) worksheet_merge_range(ws, 0, 0, 0, static_cast<lxw_col_t>(width - 1), titleLine(title).c_str(), f);
}

// The shown header rows from sheet row 1 on, with the grid's merges; gives
// the first sheet row after them.
lxw_row_t writeHeaderRows(lxw_worksheet* ws, const VSFlexGrid& g, SheetLayout& l, HeaderFormats& formats) {
  const std::vector<platform::HeaderMerge> blocks = platform::mergeHeader(g, l.headerRows, l.cols);
  std::map<int, lxw_row_t> sheetRow;
  for (size_t k = 0; k < l.headerRows.size(); ++k) sheetRow[l.headerRows[k]] = static_cast<lxw_row_t>(1 + k);
  for (size_t k = 0; k < l.headerRows.size(); ++k) {
    const lxw_row_t sr = static_cast<lxw_row_t>(1 + k);
    for (const platform::HeaderMerge& b : blocks) {
      if (sheetRow[b.row1] > sr || sheetRow[b.row2] < sr) continue;
      lxw_format* f = formats.of(b.col1);
      for (lxw_col_t c = l.colAt[b.col1]; c <= l.colAt[b.col2]; ++c) {
        if (sheetRow[b.row1] == sr && c == l.colAt[b.col1])
          worksheet_write_string(ws, sr, c, b.text.c_str(), f);
        else
          worksheet_write_blank(ws, sr, c, f);
      }
    }
    for (const platform::HeaderMerge& b : blocks) {
      if (sheetRow[b.row2] != sr || (b.row1 == b.row2 && b.col1 == b.col2)) continue;
      worksheet_merge_range(ws, sheetRow[b.row1], l.colAt[b.col1], sr, l.colAt[b.col2], b.text.c_str(),
                            formats.of(b.col1));
    }
  }
  return static_cast<lxw_row_t>(1 + l.headerRows.size());
}

void writeDataCell(lxw_worksheet* ws, lxw_row_t sr, lxw_col_t c, const ExportCell& cell, lxw_format* f) {
  switch (cell.kind) {
    case ExportCell::Empty: break;
    case ExportCell::Number: worksheet_write_number(ws, sr, c, spreadsheetNumber(cell.raw), f); break;
    case ExportCell::Boolean: worksheet_write_boolean(ws, sr, c, cell.checked, f); break;
    case ExportCell::Text: worksheet_write_string(ws, sr, c, cell.raw.c_str(), f); break;
  }
}

// The data rows from sheet row firstData on, counted in result; false when
// the progress cancels.
bool writeDataRows(lxw_worksheet* ws, const VSFlexGrid& g, const SheetLayout& l,
                   const std::vector<lxw_format*>& formats, lxw_row_t firstData, const Progress& progress,
                   ExportResult& result) {
  const long total = static_cast<long>(l.rows.size());
  for (long k = 0; k < total; ++k) {
    if (progress && k % kProgressEvery == 0 && !progress(k, total)) return false;
    const int r = l.rows[static_cast<size_t>(k)];
    const lxw_row_t sr = firstData + static_cast<lxw_row_t>(k);
    for (int i = 0; i < l.width(); ++i)
      writeDataCell(ws, sr, static_cast<lxw_col_t>(i), exportCell(g, r, l.cols[static_cast<size_t>(i)]),
                    formats[static_cast<size_t>(i)]);
    ++result.rows;
  }
  return true;
}

// Closes the workbook and reads it back; false (the reason in result) when
// it did not come out whole.
bool closeWorkbook(std::unique_ptr<lxw_workbook, WorkbookCloser> wb, const common::PendingFile& file,
                   const std::string& path, ExportResult& result) {
  const lxw_error err = workbook_close(wb.release());
  if (err != LXW_NO_ERROR) {
    result.error = std::string("cannot write the workbook: ") + lxw_strerror(err);
    return false;
  }
  if (const std::string problem = unwholePart(file.tempPath()); !problem.empty()) {
    result.error = "cannot write " + path + ": " + problem;
    return false;
  }
  return true;
}

}  // namespace

ExportResult writeXlsx(const VSFlexGrid& g, const ExportTitle& title, const std::string& path,
                       const Progress& progress) {
  ExportResult result;
  common::PendingFile file(path);
  if (!startFile(file, result)) return result;
  auto wb = startWorkbook(file, result);
  if (!wb) return result;
  lxw_worksheet* ws = workbook_add_worksheet(wb.get(), sheetName(title.library).c_str());
  if (!ws) ws = workbook_add_worksheet(wb.get(), nullptr);

  SheetLayout layout = sheetLayout(g);
  lxw_format* titleStyle = titleFormat(wb.get());
  HeaderFormats headerFormats(wb.get(), g);
  const std::vector<lxw_format*> cellFormats = dataFormats(wb.get(), g, layout.cols);
  setColumnWidths(ws, g, layout);

  writeTitleRow(ws, title, layout.width(), titleStyle);
  const lxw_row_t firstData = writeHeaderRows(ws, g, layout, headerFormats);
  worksheet_freeze_panes(ws, firstData, 0);
  if (!writeDataRows(ws, g, layout, cellFormats, firstData, progress, result)) {
    result.status = ExportResult::Cancelled;
    return result;
  }
  if (!closeWorkbook(std::move(wb), file, path, result)) return result;
  return finishFile(file, progress, static_cast<long>(layout.rows.size()), result);
}

}  // namespace price_tools::exporting
