// Feeds mutated update lists through readlist's parse: GBK decoding, the item
// reader (at most 1000 items), key/note/file/group classification, the group
// filter, the installed-list test and the icons. The first byte picks the
// selection and installed list the parse runs with.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/cp936.h"
#include "common/items.h"
#include "updater/update_list.h"
#include "updater/version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto items = common::readItems(common::fromCp936(bytes), updater::kMaxListItems);

  updater::UpdaterState state;
  if (mode & 1) state.selection = "a\\b\\";
  if (mode & 2) state.installedList = "x\\1|name\\date|";
  int dialogs = 0;
  auto choose = [&dialogs, mode](updater::UpdaterState& st) {
    ++dialogs;
    if (mode & 4) st.selection = st.choices.substr(0, st.choices.find('|')) + "\\";
  };
  const updater::ParsedList list = updater::parseList(items, state, choose);

  if (list.rows.empty() || !list.rows[0].header) __builtin_trap();
  if (list.rows.size() > items.size() + 1) __builtin_trap();
  for (size_t i = 1; i < list.rows.size(); ++i) {
    const updater::ListRow& row = list.rows[i];
    if (row.header) __builtin_trap();
    if (row.group && (row.ticked || row.icon != updater::kGroupIcon || row.cells[1].empty())) __builtin_trap();
    if (!row.group && (row.icon < 1 || row.icon > updater::kIconCount || row.icon == 9)) __builtin_trap();
    if (!row.group && !state.installedList.empty() &&
        state.installedList.find(row.cells[1] + "\\" + row.cells[2] + "|") != std::string::npos)
      __builtin_trap();
    // Everything is lower case but the download address (column 5), which
    // keeps the list's spelling for servers that tell letter cases apart.
    for (size_t col = 0; col < row.cells.size(); ++col)
      for (char c : row.cells[col])
        if (col != 5 && c >= 'A' && c <= 'Z') __builtin_trap();
  }
  updater::isNewerVersion(list.version, "v1.0");
  updater::versionNumber(list.date);
  return 0;
}
