#include "platform/grid/shown_table.h"

#include "common/html.h"

#include <map>

namespace platform {

namespace {

std::string flat(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}

std::string html(const std::string& s) { return common::escapeHtml(s); }

}  // namespace

std::vector<int> shownHeaderRows(const VSFlexGrid& g) {
  std::vector<int> rows;
  for (int r = 0; r < g.FixedRows() && r < g.Rows(); ++r)
    if (!g.RowHidden(r)) rows.push_back(r);
  return rows;
}

std::vector<int> shownColumns(const VSFlexGrid& g) {
  std::vector<int> cols;
  for (int c = g.FixedCols(); c < g.Cols(); ++c)
    if (!g.ColHidden(c) && g.ColWidth(c) != 0) cols.push_back(c);
  return cols;
}

std::string columnTitle(const VSFlexGrid& g, int col) {
  const std::string upper = g.Rows() > 0 ? g.TextMatrix(0, col) : std::string();
  if (g.Rows() < 2 || g.RowHidden(1)) return upper;
  const std::string& lower = g.TextMatrix(1, col);
  if (upper == lower) return upper;
  return upper + "-" + lower;
}

std::string shownText(const VSFlexGrid& g, int row, int col) {
  if (g.ColDataType(col) == flexDTBoolean) return g.cellChecked(row, col) == flexChecked ? "√" : "";
  return g.displayText(row, col);
}

CopiedRows copyRows(const VSFlexGrid& g, const std::vector<int>& rows) {
  const std::vector<int> cols = shownColumns(g);
  CopiedRows out;
  for (size_t i = 0; i < cols.size(); ++i) out.text += (i ? "\t" : "") + flat(columnTitle(g, cols[i]));
  out.text += "\n";
  out.html = "<table border=\"1\" cellspacing=\"0\">\n";
  // The merged header: one <tr> per shown header row, each block in the row
  // it starts in.
  const std::vector<int> headerRows = shownHeaderRows(g);
  const std::vector<HeaderMerge> blocks = mergeHeader(g, headerRows, cols);
  std::map<int, size_t> rowPos, colPos;
  for (size_t k = 0; k < headerRows.size(); ++k) rowPos[headerRows[k]] = k;
  for (size_t i = 0; i < cols.size(); ++i) colPos[cols[i]] = i;
  for (int r : headerRows) {
    out.html += "<tr>";
    for (const HeaderMerge& b : blocks) {
      if (b.row1 != r) continue;
      const size_t span = colPos[b.col2] - colPos[b.col1] + 1;
      const size_t down = rowPos[b.row2] - rowPos[b.row1] + 1;
      out.html += "<th";
      if (span > 1) out.html += " colspan=\"" + std::to_string(span) + "\"";
      if (down > 1) out.html += " rowspan=\"" + std::to_string(down) + "\"";
      out.html += ">" + html(b.text) + "</th>";
    }
    out.html += "</tr>\n";
  }
  for (int r : rows) {
    if (r < 0 || r >= g.Rows()) continue;
    out.html += "<tr>";
    for (size_t i = 0; i < cols.size(); ++i) {
      const std::string t = shownText(g, r, cols[i]);
      out.text += (i ? "\t" : "") + flat(t);
      out.html += "<td>" + html(t) + "</td>";
    }
    out.text += "\n";
    out.html += "</tr>\n";
  }
  out.html += "</table>\n";
  return out;
}

}  // namespace platform
