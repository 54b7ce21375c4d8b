#include "price_tools/pricelist/list_export.h"

#include <xlsxwriter.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/atomic_file.h"
#include "common/cp936.h"
#include "price_tools/export/csv_export.h"
#include "price_tools/export/xlsx_export.h"

namespace price_tools::pricelist {

namespace {

using exporting::ExportResult;

// A cell of the written list.
struct OutCell {
  enum Kind { Empty, Text, Number } kind = Empty;
  std::string text;    // Text: the text; Number: the decimal text as it is written in CSV
  std::string format;  // Number: the spreadsheet number format
};

constexpr const char* kMoneyFormat = "0.00";

// A price or amount with two places ("4142.20").
std::string money(const Decimal& d) {
  std::string t = d.rounded(2).text();
  const size_t point = t.find('.');
  if (point == std::string::npos) return t + ".00";
  return t + std::string(2 - std::min<size_t>(2, t.size() - point - 1), '0');
}

OutCell text(const std::string& t) { return t.empty() ? OutCell{} : OutCell{OutCell::Text, t, {}}; }
OutCell moneyCell(const std::optional<Decimal>& d, const std::string& format) {
  if (!d) return {};
  return {OutCell::Number, money(*d), format};
}

// "5%" for 0.05.
std::string percentText(const Decimal& risk) { return (risk * Decimal(100, 0)).text() + "%"; }

bool anyOwnRisk(const PricedList& priced) {
  for (const PricedLine& l : priced.lines)
    if (l.risk) return true;
  return false;
}

// What is written: the title rows, the header, a row per line and the totals.
class Layout {
 public:
  explicit Layout(const PricedList& priced) : p_(priced), list_(*priced.list) {
    userColumns_ = static_cast<int>(list_.headers.size());
    priceFormat_ = exporting::spreadsheetNumberFormat(priced.price.format);
    if (priceFormat_.empty()) priceFormat_ = kMoneyFormat;
    ownRisk_ = priced.adjusted && anyOwnRisk(priced);
    headers_ = list_.headers;
    for (const char* h : {"匹配材料", "规格型号", "单位", "单价", "合价", "匹配状态"}) headers_.push_back(h);
    if (priced.adjusted) {
      for (const char* h : {"基期价", "现行价", "调差单价", "调差金额"}) headers_.push_back(h);
      if (ownRisk_) headers_.push_back("风险幅度");
    }
  }

  const std::vector<std::string>& headers() const { return headers_; }
  int columns() const { return static_cast<int>(headers_.size()); }
  int amountColumn() const { return userColumns_ + 4; }
  int adjustAmountColumn() const { return userColumns_ + 9; }

  // The rows above the header: the list's own title, what it was priced from,
  // and with an adjustment its rule and risk range.
  std::vector<std::string> titleRows() const {
    std::vector<std::string> rows;
    std::string own;
    for (const std::string& t : list_.titleRows)
      if (!t.empty()) {
        own = t;
        break;
      }
    if (own.empty()) own = std::filesystem::path(list_.path).stem().string();
    rows.push_back(own);
    std::string source = "载价：" + p_.library;
    if (!p_.price.title.empty()) source += "　" + p_.price.title;
    source += "　多家厂家取价：" + severalText(p_.several);
    rows.push_back(source);
    if (p_.adjusted) {
      std::string months = "调差：基期 " + p_.base + "　现行 ";
      for (size_t i = 0; i < p_.current.size(); ++i) months += (i ? "、" : "") + p_.current[i];
      if (p_.current.size() > 1) months += "（各月平均）";
      months += "　风险幅度 ±" + percentText(p_.risk);
      rows.push_back(months);
      rows.push_back(
          "调差规则（信息价差额法，GB 50500-2013）：U = max(基期价, 投标单价)，D = min(基期价, 投标单价)；"
          "现行价 > U×(1+r) 时调差单价 = 现行价 − U×(1+r)；现行价 < D×(1−r) 时调差单价 = 现行价 − D×(1−r)；"
          "其余为 0。调差金额 = 调差单价 × 数量，均四舍五入到分。");
    }
    return rows;
  }

  std::vector<OutCell> line(size_t index) const {
    const PricedLine& pl = p_.lines[index];
    const ListLine& l = *pl.line;
    std::vector<OutCell> out;
    out.reserve(static_cast<size_t>(columns()));
    for (int c = 0; c < userColumns_; ++c) out.push_back(userCell(l, c));
    if (pl.match) {
      out.push_back(text(pl.match->name));
      out.push_back(text(pl.match->model));
      out.push_back(text(pl.match->unit));
      out.push_back(moneyCell(pl.match->price, priceFormat_));
    } else {
      out.resize(out.size() + 4);
    }
    out.push_back(moneyCell(pl.amount, kMoneyFormat));
    out.push_back(text(statusText(pl.status)));
    if (p_.adjusted) {
      out.push_back(moneyCell(pl.basePrice, priceFormat_));
      out.push_back(moneyCell(pl.currentPrice, priceFormat_));
      out.push_back(moneyCell(pl.adjustment ? std::optional<Decimal>(pl.adjustment->perUnit) : std::nullopt, kMoneyFormat));
      out.push_back(moneyCell(pl.adjustment ? std::optional<Decimal>(pl.adjustment->amount) : std::nullopt, kMoneyFormat));
      if (ownRisk_) out.push_back(text(percentText(pl.risk ? *pl.risk : p_.risk)));
    }
    return out;
  }

  // The total row, and with an adjustment the rows of rises and falls before it.
  std::vector<std::vector<OutCell>> totals() const {
    std::vector<std::vector<OutCell>> rows;
    const auto row = [&](const std::string& label, int col, const Decimal& value) {
      std::vector<OutCell> r(static_cast<size_t>(columns()));
      r[0] = text(label);
      r[static_cast<size_t>(col)] = moneyCell(value, kMoneyFormat);
      return r;
    };
    if (p_.adjusted) {
      rows.push_back(row("调增合计", adjustAmountColumn(), p_.adjustmentTotals.rises));
      rows.push_back(row("调减合计", adjustAmountColumn(), p_.adjustmentTotals.falls));
    }
    std::vector<OutCell> total = row("合计", amountColumn(), p_.total);
    if (p_.adjusted) total[static_cast<size_t>(adjustAmountColumn())] = moneyCell(p_.adjustmentTotals.net, kMoneyFormat);
    rows.push_back(std::move(total));
    return rows;
  }

 private:
  static std::string severalText(const SeveralRule& rule) {
    switch (rule.kind) {
      case SeveralRule::Average: return "平均价";
      case SeveralRule::Lowest: return "最低价";
      case SeveralRule::Highest: return "最高价";
      case SeveralRule::Median: return "中位价";
      case SeveralRule::Factory: return "指定厂家 " + rule.factoryId;
    }
    return std::string();
  }

  // The user's own cell: a number where the list had one (a number format, or
  // a column of quantities or prices), the text otherwise ("0012" keeps its zeros).
  OutCell userCell(const ListLine& l, int c) const {
    const std::string& t = l.cells[static_cast<size_t>(c)];
    if (t.empty()) return {};
    const std::string& format = list_.numberFormats.size() > static_cast<size_t>(c) ? list_.numberFormats[static_cast<size_t>(c)] : empty_;
    const bool numeric = (!format.empty() && format != "@") || isNumberColumn(c);
    if (numeric)
      if (const auto n = listNumber(t)) return {OutCell::Number, n->text(), format};
    return text(t);
  }

  bool isNumberColumn(int c) const {
    for (ListColumn k : {ListColumn::Quantity, ListColumn::Bid, ListColumn::Base}) {
      const auto it = list_.columns.find(k);
      if (it != list_.columns.end() && it->second == c) return true;
    }
    return false;
  }

  const PricedList& p_;
  const MaterialList& list_;
  int userColumns_ = 0;
  std::string priceFormat_;
  bool ownRisk_ = false;
  std::vector<std::string> headers_;
  std::string empty_;
};

ExportResult refuse(const std::string& why) {
  ExportResult r;
  r.error = why;
  return r;
}

}  // namespace

ExportResult writePricedXlsx(const PricedList& priced, const std::string& path, const exporting::Progress& progress) {
  if (!priced.list) return refuse("no list");
  ExportResult result;
  common::PendingFile file(path);
  if (!file.ok()) return refuse(file.error());
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  const auto closer = [](lxw_workbook* wb) {
    if (wb) workbook_close(wb);
  };
  std::unique_ptr<lxw_workbook, decltype(closer)> wb(workbook_new_opt(file.tempPath().c_str(), &options), closer);
  if (!wb) return refuse("cannot start the workbook " + file.tempPath());
  const std::string sheet = priced.list->sheet.empty() ? "材料清单" : priced.list->sheet;
  lxw_worksheet* ws = workbook_add_worksheet(wb.get(), exporting::sheetName(sheet).c_str());
  if (!ws) ws = workbook_add_worksheet(wb.get(), nullptr);

  const Layout layout(priced);
  const int n = layout.columns();
  lxw_format* titleFormat = workbook_add_format(wb.get());
  format_set_bold(titleFormat);
  format_set_font_size(titleFormat, 13);
  lxw_format* noteFormat = workbook_add_format(wb.get());
  format_set_text_wrap(noteFormat);
  format_set_align(noteFormat, LXW_ALIGN_VERTICAL_TOP);
  lxw_format* headerFormat = workbook_add_format(wb.get());
  format_set_bold(headerFormat);
  format_set_align(headerFormat, LXW_ALIGN_CENTER);
  format_set_border(headerFormat, LXW_BORDER_THIN);
  lxw_format* totalFormat = workbook_add_format(wb.get());
  format_set_bold(totalFormat);
  std::map<std::pair<std::string, bool>, lxw_format*> numberFormats;
  const auto numberFormat = [&](const std::string& code, bool bold) {
    lxw_format*& f = numberFormats[{code, bold}];
    if (!f) {
      f = workbook_add_format(wb.get());
      if (!code.empty()) format_set_num_format(f, code.c_str());
      if (bold) format_set_bold(f);
    }
    return f;
  };
  for (int c = 0; c < n; ++c) worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), 14, nullptr);

  lxw_row_t r = 0;
  const std::vector<std::string> titles = layout.titleRows();
  for (size_t k = 0; k < titles.size(); ++k, ++r) {
    lxw_format* f = k == 0 ? titleFormat : noteFormat;
    if (k == 3) worksheet_set_row(ws, r, 48, nullptr);
    if (n > 1)
      worksheet_merge_range(ws, r, 0, r, static_cast<lxw_col_t>(n - 1), titles[k].c_str(), f);
    else
      worksheet_write_string(ws, r, 0, titles[k].c_str(), f);
  }
  for (int c = 0; c < n; ++c)
    worksheet_write_string(ws, r, static_cast<lxw_col_t>(c), layout.headers()[static_cast<size_t>(c)].c_str(), headerFormat);
  ++r;
  worksheet_freeze_panes(ws, r, 0);

  const auto writeRow = [&](const std::vector<OutCell>& cells, bool bold) {
    for (size_t c = 0; c < cells.size(); ++c) {
      const OutCell& cell = cells[c];
      const lxw_col_t col = static_cast<lxw_col_t>(c);
      if (cell.kind == OutCell::Number)
        worksheet_write_number(ws, r, col, exporting::spreadsheetNumber(cell.text), numberFormat(cell.format, bold));
      else if (cell.kind == OutCell::Text)
        worksheet_write_string(ws, r, col, cell.text.c_str(), bold ? totalFormat : nullptr);
    }
    ++r;
  };
  const long total = static_cast<long>(priced.lines.size());
  for (long k = 0; k < total; ++k) {
    if (progress && k % exporting::kProgressEvery == 0 && !progress(k, total)) {
      result.status = ExportResult::Cancelled;
      return result;
    }
    writeRow(layout.line(static_cast<size_t>(k)), false);
    ++result.rows;
  }
  for (const auto& row : layout.totals()) writeRow(row, true);

  const lxw_error err = workbook_close(wb.release());
  if (err != LXW_NO_ERROR) return refuse(std::string("cannot write the workbook: ") + lxw_strerror(err));
  return exporting::finishFile(file, progress, total, result);
}

ExportResult writePricedCsv(const PricedList& priced, const std::string& path, bool gbk,
                            const exporting::Progress& progress) {
  if (!priced.list) return refuse("no list");
  ExportResult result;
  common::PendingFile file(path);
  if (!file.ok()) return refuse(file.error());
  const auto closer = [](std::FILE* f) {
    if (f) std::fclose(f);
  };
  std::unique_ptr<std::FILE, decltype(closer)> out(std::fopen(file.tempPath().c_str(), "wb"), closer);
  if (!out) return refuse("cannot open " + file.tempPath());
  std::string buffer = gbk ? "" : "\xEF\xBB\xBF";
  bool writeFailed = false;
  const auto flush = [&] {
    const std::string bytes = gbk ? common::toCp936(buffer) : buffer;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) writeFailed = true;
    buffer.clear();
  };
  const Layout layout(priced);
  const auto line = [&](const std::vector<OutCell>& cells) {
    for (size_t c = 0; c < cells.size(); ++c) buffer += (c ? "," : "") + exporting::csvField(cells[c].text);
    buffer += "\r\n";
  };
  // The title rows as lines of one field, the header, the lines, the totals.
  for (const std::string& t : layout.titleRows()) line({text(t)});
  std::vector<OutCell> header;
  for (const std::string& h : layout.headers()) header.push_back(text(h));
  line(header);
  const long total = static_cast<long>(priced.lines.size());
  for (long k = 0; k < total; ++k) {
    if (k % exporting::kProgressEvery == 0) {
      if (progress && !progress(k, total)) {
        result.status = ExportResult::Cancelled;
        return result;
      }
      flush();
      if (writeFailed) break;
    }
    line(layout.line(static_cast<size_t>(k)));
    ++result.rows;
  }
  for (const auto& row : layout.totals()) line(row);
  flush();
  if (writeFailed || std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0)
    return refuse("cannot write " + file.tempPath());
  return exporting::finishFile(file, progress, total, result);
}

}  // namespace price_tools::pricelist
