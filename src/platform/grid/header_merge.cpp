#include "platform/grid/header_merge.h"

namespace platform {

std::vector<HeaderMerge> mergeHeader(const VSFlexGrid& g, const std::vector<int>& headerRows,
                                     const std::vector<int>& cols) {
  const size_t nc = cols.size();
  std::vector<HeaderMerge> blocks;
  // Per header row, the block index of each listed column.
  std::vector<std::vector<int>> owner(headerRows.size(), std::vector<int>(nc, -1));
  auto fixed = [&](size_t i) { return cols[i] < g.FixedCols(); };
  for (size_t k = 0; k < headerRows.size(); ++k) {
    const int r = headerRows[k];
    for (size_t i = 0; i < nc; ++i) {
      const int c = cols[i];
      const std::string& text = g.TextMatrix(r, c);
      bool joinLeft = i > 0 && g.MergeRow(r) && fixed(i - 1) == fixed(i) && g.TextMatrix(r, cols[i - 1]) == text;
      for (size_t u = 0; joinLeft && u < k; ++u) joinLeft = owner[u][i - 1] == owner[u][i];
      if (joinLeft) {
        owner[k][i] = owner[k][i - 1];
        blocks[static_cast<size_t>(owner[k][i])].col2 = c;
      } else {
        owner[k][i] = static_cast<int>(blocks.size());
        blocks.push_back({r, c, r, c, text});
      }
    }
  }
  std::vector<int> alias(blocks.size());
  for (size_t b = 0; b < blocks.size(); ++b) alias[b] = static_cast<int>(b);
  std::vector<bool> gone(blocks.size(), false);
  for (size_t k = 1; k < headerRows.size(); ++k) {
    for (size_t i = 0; i < nc; ++i) {
      const int id = owner[k][i];
      HeaderMerge& b = blocks[static_cast<size_t>(id)];
      if (b.col1 != cols[i]) continue;
      const int above = alias[static_cast<size_t>(owner[k - 1][i])];
      HeaderMerge& a = blocks[static_cast<size_t>(above)];
      if (a.col1 != b.col1 || a.col2 != b.col2 || a.text != b.text) continue;
      bool allMerge = true;
      for (size_t j = i; j < nc && cols[j] <= b.col2 && allMerge; ++j) allMerge = g.MergeCol(cols[j]);
      if (!allMerge) continue;
      a.row2 = b.row2;
      gone[static_cast<size_t>(id)] = true;
      alias[static_cast<size_t>(id)] = above;
    }
  }
  std::vector<HeaderMerge> out;
  for (size_t b = 0; b < blocks.size(); ++b)
    if (!gone[b]) out.push_back(std::move(blocks[b]));
  return out;
}

}  // namespace platform
