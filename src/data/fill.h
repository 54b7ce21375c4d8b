#pragma once
// Grid fill: puts the data rows into a grid laid out by layoutgrid, as a flat
// list or, when the table has a parent-link column, as an outline of at most
// six levels written in pre-order (each node followed by its whole subtree).
// Parent links are data, not a promise of a tree: a node never appears below
// itself (a root that is its own parent, or a cycle A -> B -> A, is cut where
// it would come round again), and the children of one id are listed once per
// level. A node none of whose children may be written counts as a leaf. So the
// fill writes at most one row per table row and level, whatever the links.
//
// None of these routines has an error policy of its own: a failure ends the
// routine where it happens and is thrown to the caller. Rows written so far
// stay; the remaining steps (current row, shading, Outline) are skipped and
// every result opened so far is released.
#include <string>

#include "platform/grid/vsflexgrid.h"

namespace data {

// Fills `grid` from its table (the grid's Tag) on connection `slot`.
//  condition: a filter for the top level, with or without the keyword
//    "where" (case-sensitive), or "" for none. When the keyword is added the
//    caller's text comes back with it (" where " + old text).
//  shade: 1 shades every other data row afterwards (shaderows).
// A grid with an empty Tag is left exactly as it was.
void fillgrid(short& slot, platform::VSFlexGrid& grid, std::string& condition, int shade);

// Back colour FFF8F0 (hex) on rows 4, 6, 8, ..., columns 1 to Cols-1.
constexpr unsigned kShadeColour = 0xFFF8F0;
void shaderows(platform::VSFlexGrid& grid);

// Appends one row per file listed in xmfxwjgl for the node `nodeId`, as
// outline nodes of `level`: caption in column 1 (with its icon), "=" + file
// id in the last column.
void addfilerows(platform::VSFlexGrid& grid, const std::string& nodeId, int level);

// The deepest outline level the fill writes.
constexpr int kMaxOutlineLevel = 6;

}  // namespace data
