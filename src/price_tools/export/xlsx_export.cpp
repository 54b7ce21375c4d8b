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

ExportResult writeXlsx(const VSFlexGrid& g, const ExportTitle& title, const std::string& path,
                       const Progress& progress) {
  ExportResult result;
  common::PendingFile file(path);
  if (!file.ok()) {
    result.error = file.error();
    return result;
  }
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  std::unique_ptr<lxw_workbook, WorkbookCloser> wb(workbook_new_opt(file.tempPath().c_str(), &options));
  if (!wb) {
    result.error = "cannot start the workbook " + file.tempPath();
    return result;
  }
  lxw_worksheet* ws = workbook_add_worksheet(wb.get(), sheetName(title.library).c_str());
  if (!ws) ws = workbook_add_worksheet(wb.get(), nullptr);

  const std::vector<int> cols = platform::shownColumns(g);
  const std::vector<int> headerRows = platform::shownHeaderRows(g);
  const std::vector<int> rows = exportRows(g);
  const int n = static_cast<int>(cols.size());
  std::map<int, lxw_col_t> colAt;
  for (int i = 0; i < n; ++i) colAt[cols[static_cast<size_t>(i)]] = static_cast<lxw_col_t>(i);

  // Formats: the title, header cells by colour, data cells by column.
  lxw_format* titleFormat = workbook_add_format(wb.get());
  format_set_bold(titleFormat);
  format_set_font_size(titleFormat, 13);
  format_set_align(titleFormat, LXW_ALIGN_LEFT);
  format_set_align(titleFormat, LXW_ALIGN_VERTICAL_CENTER);
  std::map<std::pair<int, uint32_t>, lxw_format*> headerFormats;
  auto headerFormat = [&](int col) {
    const auto colour = g.cellBackColor(0, col);
    const auto key = std::make_pair(colour ? 1 : 0, colour.value_or(0));
    auto& f = headerFormats[key];
    if (!f) {
      f = workbook_add_format(wb.get());
      format_set_bold(f);
      format_set_align(f, LXW_ALIGN_CENTER);
      format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
      format_set_border(f, LXW_BORDER_THIN);
      if (colour) format_set_bg_color(f, rgb(*colour));
    }
    return f;
  };
  std::vector<lxw_format*> dataFormats;
  for (int c : cols) {
    lxw_format* f = workbook_add_format(wb.get());
    const std::string numberFormat = spreadsheetNumberFormat(g.ColFormat(c));
    if (!numberFormat.empty()) format_set_num_format(f, numberFormat.c_str());
    if (const auto a = horizontal(g.ColAlignment(c)); a != LXW_ALIGN_NONE) format_set_align(f, a);
    dataFormats.push_back(f);
  }
  for (int i = 0; i < n; ++i)
    worksheet_set_column(ws, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                         spreadsheetColumnWidth(g.effectiveColWidth(cols[static_cast<size_t>(i)])), nullptr);

  // Title row. In constant-memory mode a row is written out as soon as a later
  // row is touched, so every row is written whole, in order, and a merge is
  // recorded while its last row is the current one.
  worksheet_set_row(ws, 0, 24, nullptr);
  worksheet_write_string(ws, 0, 0, titleLine(title).c_str(), titleFormat);
  if (n > 1) worksheet_merge_range(ws, 0, 0, 0, static_cast<lxw_col_t>(n - 1), titleLine(title).c_str(), titleFormat);

  // Header rows with the grid's merges.
  const std::vector<platform::HeaderMerge> blocks = platform::mergeHeader(g, headerRows, cols);
  std::map<int, lxw_row_t> sheetRow;
  for (size_t k = 0; k < headerRows.size(); ++k) sheetRow[headerRows[k]] = static_cast<lxw_row_t>(1 + k);
  for (size_t k = 0; k < headerRows.size(); ++k) {
    const lxw_row_t sr = static_cast<lxw_row_t>(1 + k);
    for (const platform::HeaderMerge& b : blocks) {
      if (sheetRow[b.row1] > sr || sheetRow[b.row2] < sr) continue;
      lxw_format* f = headerFormat(b.col1);
      for (lxw_col_t c = colAt[b.col1]; c <= colAt[b.col2]; ++c) {
        if (sheetRow[b.row1] == sr && c == colAt[b.col1])
          worksheet_write_string(ws, sr, c, b.text.c_str(), f);
        else
          worksheet_write_blank(ws, sr, c, f);
      }
    }
    for (const platform::HeaderMerge& b : blocks) {
      if (sheetRow[b.row2] != sr || (b.row1 == b.row2 && b.col1 == b.col2)) continue;
      worksheet_merge_range(ws, sheetRow[b.row1], colAt[b.col1], sr, colAt[b.col2], b.text.c_str(), headerFormat(b.col1));
    }
  }
  const lxw_row_t firstData = static_cast<lxw_row_t>(1 + headerRows.size());
  worksheet_freeze_panes(ws, firstData, 0);

  // Data rows.
  const long total = static_cast<long>(rows.size());
  for (long k = 0; k < total; ++k) {
    if (progress && k % kProgressEvery == 0 && !progress(k, total)) {
      result.status = ExportResult::Cancelled;
      return result;
    }
    const int r = rows[static_cast<size_t>(k)];
    const lxw_row_t sr = firstData + static_cast<lxw_row_t>(k);
    for (int i = 0; i < n; ++i) {
      const ExportCell cell = exportCell(g, r, cols[static_cast<size_t>(i)]);
      lxw_format* f = dataFormats[static_cast<size_t>(i)];
      const lxw_col_t c = static_cast<lxw_col_t>(i);
      switch (cell.kind) {
        case ExportCell::Empty: break;
        case ExportCell::Number: worksheet_write_number(ws, sr, c, spreadsheetNumber(cell.raw), f); break;
        case ExportCell::Boolean: worksheet_write_boolean(ws, sr, c, cell.checked, f); break;
        case ExportCell::Text: worksheet_write_string(ws, sr, c, cell.raw.c_str(), f); break;
      }
    }
    ++result.rows;
  }
  const lxw_error err = workbook_close(wb.release());
  if (err != LXW_NO_ERROR) {
    result.error = std::string("cannot write the workbook: ") + lxw_strerror(err);
    return result;
  }
  if (const std::string problem = unwholePart(file.tempPath()); !problem.empty()) {
    result.error = "cannot write " + path + ": " + problem;
    return result;
  }
  return finishFile(file, progress, total, result);
}

}  // namespace price_tools::exporting
