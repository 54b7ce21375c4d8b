#include "price_tools/export/csv_export.h"

#include <cstdio>
#include <memory>

#include "common/atomic_file.h"
#include "common/cp936.h"
#include "platform/grid/shown_table.h"

namespace price_tools::exporting {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

ExportResult writeCsv(const platform::VSFlexGrid& g, const CsvOptions& options, const std::string& path,
                      const Progress& progress) {
  ExportResult result;
  common::PendingFile file(path);
  if (!startFile(file, result)) return result;
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.tempPath().c_str(), "wb"));
  if (!out) {
    result.error = "cannot open " + file.tempPath();
    return result;
  }
  const bool gbk = options.encoding == CsvOptions::Gbk;
  std::string buffer;
  bool writeFailed = false;
  auto flush = [&] {
    const std::string bytes = gbk ? common::toCp936(buffer) : buffer;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) writeFailed = true;
    buffer.clear();
  };
  if (!gbk) buffer = "\xEF\xBB\xBF";

  const std::vector<int> cols = platform::shownColumns(g);
  for (size_t i = 0; i < cols.size(); ++i) buffer += (i ? "," : "") + csvField(platform::columnTitle(g, cols[i]));
  buffer += "\r\n";
  const std::vector<int> rows = exportRows(g);
  const long total = static_cast<long>(rows.size());
  for (long k = 0; k < total; ++k) {
    if (k % kProgressEvery == 0) {
      if (progress && !progress(k, total)) {
        result.status = ExportResult::Cancelled;
        return result;
      }
      flush();
      if (writeFailed) break;
    }
    const int r = rows[static_cast<size_t>(k)];
    for (size_t i = 0; i < cols.size(); ++i) {
      const ExportCell cell = exportCell(g, r, cols[i]);
      const std::string& text = cell.kind == ExportCell::Number && !options.numbersAsShown ? cell.raw : cell.shown;
      if (i) buffer += ',';
      buffer += csvField(text);
    }
    buffer += "\r\n";
    ++result.rows;
  }
  flush();
  if (writeFailed || std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0) {
    result.error = "cannot write " + file.tempPath();
    return result;
  }
  return finishFile(file, progress, total, result);
}

}  // namespace price_tools::exporting
