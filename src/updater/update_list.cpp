#include "updater/update_list.h"

#include "common/text_case.h"
#include "updater/update_trust.h"

#include <QChar>
#include <QString>

#include <charconv>
#include <cstdlib>

namespace updater {

const std::array<const char*, kListColumns> kListTitles = {"更新", "名称", "更新日期", "文件大小", "说明",
                                                           "下载地址", "更名", "方式", "下载目录"};
const std::array<int, kListColumns> kListWidths = {855, 2910, 1050, 1155, 1995, 900, 900, 900, 900};

std::string toLowerText(const std::string& text) { return common::lowerText(text); }

ItemClass classify(const std::string& item) {
  if (item.find('=') != std::string::npos) return ItemClass::Key;
  if (item.find('{') != std::string::npos) return ItemClass::Note;
  if (item.find('|') != std::string::npos) return ItemClass::File;
  return ItemClass::Group;
}

int iconForAddress(const std::string& a) {
  auto has = [&a](const char* s) { return a.find(s) != std::string::npos; };
  int icon = 8;
  if (a.empty()) icon = 10;
  if (has("rar") || has("zip")) icon = 1;
  if (has("doc")) icon = 5;
  if (has("xls")) icon = 6;
  if (has("txt")) icon = 7;
  if (has("exe")) icon = 3;
  if (has("chm")) icon = 4;
  if (has("tavo")) icon = 8;
  if (has("melu") || has("nopi")) icon = 12;
  if (has("wesk") || has("dufa")) icon = 11;
  if (has("hibe") || has("lozu")) icon = 13;
  return icon;
}

bool ticksBox(const std::string& text) {
  size_t b = text.find_first_not_of(' ');
  size_t e = text.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  std::string_view t(text.data() + b, e - b + 1);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || ptr != t.data() + t.size()) return false;
  return value != 0;
}

std::string dropFirstChar(const std::string& text) {
  if (text.empty()) return text;
  size_t n = 1;
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  if (lead >= 0xF0) n = 4;
  else if (lead >= 0xE0) n = 3;
  else if (lead >= 0xC0) n = 2;
  while (n > 1 && (n > text.size() || (static_cast<unsigned char>(text[n - 1]) & 0xC0) != 0x80)) --n;
  return text.substr(n);
}

std::vector<std::string> splitFields(const std::string& item) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t bar = item.find('|', start);
    fields.push_back(item.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return fields;
}

ListRow headerRow() {
  ListRow row;
  row.header = true;
  for (int c = 0; c < kListColumns; ++c) row.cells[c] = kListTitles[c];
  return row;
}

ParsedList parseList(const std::vector<std::string>& items, UpdaterState& state, const ChooseGroups& choose) {
  ParsedList list;
  list.rows.push_back(headerRow());
  std::string currentGroup;
  size_t count = 0;
  for (const std::string& raw : items) {
    if (++count > kMaxListItems) break;
    const std::string item = toLowerText(raw);
    switch (classify(item)) {
      case ItemClass::Key: {
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (value.empty()) break;
        if (key == "版本") list.version = value;
        else if (key == "方式") state.runMode = value;
        else if (key == "日期") list.date = value;
        else if (key == "定制") {
          state.choices = value;
          state.selectionAtLoad = state.selection;
          if (state.selection.empty() && choose) choose(state);
        } else if (key == "标题") list.title = value;
        else if (key == "更新") list.updateMode = value;
        else if (key == "提示") state.promptText = value;
        break;
      }
      case ItemClass::Note:
        list.notes += dropFirstChar(item) + "\r\n";
        break;
      case ItemClass::Group: {
        currentGroup = dropFirstChar(item);
        if (currentGroup.find('/') != std::string::npos) currentGroup.clear();
        if (!currentGroup.empty() && (state.selection + "\\").find(currentGroup) != std::string::npos) {
          ListRow row;
          row.group = true;
          row.cells[1] = currentGroup;
          row.icon = kGroupIcon;
          list.rows.push_back(std::move(row));
        }
        break;
      }
      case ItemClass::File: {
        if (!state.selection.empty() && (state.selection + "\\").find(currentGroup) == std::string::npos) break;
        std::vector<std::string> fields = splitFields(item);
        // f0 is ignored, f1..f9 fill the nine columns; f2 and f3 name the item.
        std::string hash;
        if (fields.size() < 4 || !takeFileHash(fields, hash)) {
          ++list.skippedItems;
          break;
        }
        const std::string entry = fields[2] + "\\" + fields[3] + "|";
        if (state.installedList.find(entry) != std::string::npos) break;
        ListRow row;
        for (size_t k = 1; k < fields.size(); ++k) row.cells[k - 1] = fields[k];
        row.sha256 = hash;
        row.ticked = ticksBox(row.cells[0]);
        row.icon = iconForAddress(row.cells[5]);
        // The server may tell letter cases apart: the address is requested as
        // the list spells it.
        if (fields.size() > 6) row.cells[5] = splitFields(raw)[6];
        list.rows.push_back(std::move(row));
        break;
      }
    }
  }
  return list;
}

}  // namespace updater
