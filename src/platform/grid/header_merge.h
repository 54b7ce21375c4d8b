#pragma once
// The merged header of a grid, without a view: which header cells show as one.
// The view draws these blocks, and the exports (spreadsheet, print, clipboard)
// write the same merges, so the rule lives here once:
//   - in a header row marked MergeRow, neighbouring cells with equal text join
//     sideways, but only where every header row above joined the same two
//     columns as well, and never across the fixed / scrolling boundary;
//   - a block joins the block above it when both span the same columns with
//     the same text and every column of it is marked MergeCol (a title that
//     stands in both header rows shows as one cell two rows high).
#include <string>
#include <vector>

#include "platform/grid/vsflexgrid.h"

namespace platform {

struct HeaderMerge {
  int row1, col1, row2, col2;  // grid rows and columns, inclusive
  std::string text;
};

// The blocks of the given header rows (grid rows, top to bottom) over the
// given columns (grid columns, left to right; the ones left out are skipped
// over as if absent), in the order: by top row, then left column.
std::vector<HeaderMerge> mergeHeader(const VSFlexGrid& grid, const std::vector<int>& headerRows,
                                     const std::vector<int>& cols);

}  // namespace platform
