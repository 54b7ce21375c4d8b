#include "price_tools/export/export_title.h"

#include <ctime>

#include "data/navigation.h"
#include "platform/grid/shown_table.h"

namespace price_tools::exporting {

namespace {

// Number of UTF-8 lead bytes (code points) in s.
size_t codePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string firstCodePoints(const std::string& s, size_t count) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (n == count) return s.substr(0, i);
      ++n;
    }
  }
  return s;
}

std::string rowName(const platform::VSFlexGrid& g, int row) {
  const std::vector<int> cols = platform::shownColumns(g);
  return cols.empty() ? std::string() : g.TextMatrix(row, cols.front());
}

}  // namespace

std::string titleLine(const ExportTitle& t) {
  std::string out;
  for (const std::string* part : {&t.library, &t.shown, &t.date}) {
    if (part->empty()) continue;
    if (!out.empty()) out += "  ";
    out += *part;
  }
  return out;
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

std::string describeCategory(const platform::VSFlexGrid& g, const std::string& id) {
  int row = data::rowWithId(g, id);
  if (row < 0) return "分类 " + id;
  std::string path = rowName(g, row);
  int level = g.IsSubtotal(row) ? g.RowOutlineLevel(row) : 0;
  for (int r = row - 1; r >= g.FixedRows() && level > 1; --r) {
    if (!g.IsSubtotal(r) || g.RowOutlineLevel(r) >= level) continue;
    level = g.RowOutlineLevel(r);
    path = rowName(g, r) + " > " + path;
  }
  return path;
}

std::string describeFactory(const platform::VSFlexGrid& g, const std::string& id) {
  const int row = data::rowWithId(g, id);
  return row < 0 ? "厂家 " + id : rowName(g, row);
}

std::string describeSearch(const std::string& field, const std::string& text) {
  return "查询 " + field + "：" + text;
}

std::string sheetName(const std::string& library) {
  std::string s;
  for (char c : library) {
    const bool bad = c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\';
    s += bad ? '_' : c;
  }
  s = firstCodePoints(s, 31);
  while (!s.empty() && s.front() == '\'') s.erase(s.begin());
  while (!s.empty() && s.back() == '\'') s.pop_back();
  if (s.empty() || codePoints(s) == 0) return "Sheet1";
  return s;
}

std::string proposedFileName(const ExportTitle& t, const std::string& extension) {
  std::string name = t.library;
  if (!t.shown.empty()) name += (name.empty() ? "" : " ") + t.shown;
  if (name.empty()) name = "导出";
  // A category path's separators read as dashes in a file name.
  for (size_t p = name.find(" > "); p != std::string::npos; p = name.find(" > ", p)) name.replace(p, 3, "-");
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
        c == '|')
      c = '_';
  }
  return name + "." + extension;
}

}  // namespace price_tools::exporting
