#pragma once
// The update list: its grammar, and readlist's parse into the rows of the
// list grid VSFlexGrid1 (row 0 is the header row).
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "updater/updater_state.h"

namespace updater {

inline constexpr size_t kMaxListItems = 1000;
inline constexpr int kListColumns = 9;

// Column titles and widths (twips) of the list grid; columns 5 to 8 are hidden.
extern const std::array<const char*, kListColumns> kListTitles;
extern const std::array<int, kListColumns> kListWidths;
inline constexpr int kFirstHiddenColumn = 5;

// Icons of ImageList1, numbered from 1.
inline constexpr int kIconCount = 13;
inline constexpr int kGroupIcon = 2;

struct ListRow {
  bool group = false;  // group rows sit on outline level 0, file rows on level 1
  bool header = false;
  bool ticked = false;  // check state of column 0 (1 = ticked)
  int icon = 0;         // 0 = none
  std::array<std::string, kListColumns> cells;
  std::string sha256;   // the file's hash from the item's eleventh field (hex), or empty
  bool failed = false;  // its download was refused (shown marked)
  int level() const { return group ? 0 : 1; }
};

enum class ItemClass { Key, Note, File, Group };

// Lower case of every letter (Latin, full-width, Greek, Cyrillic); Chinese text
// and bytes that are not UTF-8 unchanged.
std::string toLowerText(const std::string& text);
// By the first test that holds: "=", "{", "|", else a group item.
ItemClass classify(const std::string& lowered);
// The icon of a file row from its address (list column 5).
int iconForAddress(const std::string& address);
// True when a column-0 text ticks the box: a number other than 0.
bool ticksBox(const std::string& text);
// A file item split at every "|" into f0, f1, ... fn.
std::vector<std::string> splitFields(const std::string& item);
// Drops the first UTF-8 character.
std::string dropFirstChar(const std::string& text);

// What readlist produces besides the rows.
struct ParsedList {
  std::string title;    // Label2(0)
  std::string version;  // Label2(1)
  std::string date;     // Label2(5)
  std::string notes;    // Text2
  std::string updateMode;  // key 更新
  std::vector<ListRow> rows;  // header row first
  int skippedItems = 0;       // file items with too few or too many fields
};

// Opens the group dialog for state.choices and state.selection and updates
// state.selection from its result.
using ChooseGroups = std::function<void(UpdaterState&)>;

// The header row of the list grid.
ListRow headerRow();

// Parses the items of a list (already at most kMaxListItems) into rows, with
// the filters of the selection and the installed list. Sets runMode,
// promptText, choices and selectionAtLoad in state. Items are lower-cased for
// their class, keys, groups, the installed-list test and the cells, except the
// download address (column 5), which keeps the list's spelling. File items
// with fewer than four or more than ten fields are skipped, except for an
// eleventh that is the file's hash (takeFileHash).
ParsedList parseList(const std::vector<std::string>& items, UpdaterState& state, const ChooseGroups& choose);

}  // namespace updater
