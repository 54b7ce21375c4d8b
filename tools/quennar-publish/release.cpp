#include "release.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "common/cp936.h"
#include "common/items.h"
#include "common/text_case.h"
#include "updater/local_files.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool hasAny(const std::string& text, const char* chars) { return text.find_first_of(chars) != std::string::npos; }

// Characters the list grammar or the updater's own files cannot carry in a
// field of a file item: a key mark, a note mark, the comma that splits items,
// the field bar, the quote that ends an item, and the ";" of reset.ini.
constexpr const char* kFieldForbidden = "={,|\";";

// True when GBK holds the text (the list is GBK).
bool fitsGbk(const std::string& text) { return common::fromCp936(common::toCp936(text)) == text; }

// A relative name inside the program folder: no absolute path, drive, "..",
// empty part or NUL.
bool staysInside(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  if (name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t sep = name.find_first_of("/\\", start);
    const std::string part = name.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
    if (part == ".." || part == "." || (part.empty() && sep != std::string::npos)) return false;
    if (sep == std::string::npos) return true;
    start = sep + 1;
  }
}

// The updater's own files (directly in the program folder) and the updater itself.
bool isUpdaterName(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) return false;
  const std::string lower = common::lowerText(name);
  for (const char* own : {updater::kSettingsFile, updater::kLogFile, updater::kResetFile, updater::kRawListFile,
                          updater::kListFile, updater::kLockFile, "Quennar", "Quennar.exe"})
    if (lower == common::lowerText(own)) return true;
  return false;
}

}  // namespace

std::optional<Release> readRelease(const std::string& path, std::vector<std::string>& errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    errors.push_back(path + ": cannot be read");
    return std::nullopt;
  }
  Release r;
  r.folder = fs::path(path).parent_path().string();
  std::string group;
  ReleaseFile* file = nullptr;
  std::string raw;
  int number = 0;
  auto error = [&](const std::string& what) { errors.push_back(path + ":" + std::to_string(number) + ": " + what); };
  while (std::getline(in, raw)) {
    ++number;
    const std::string line = trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        error("a section is written [file], [group NAME] or [end group]");
        continue;
      }
      const std::string head = trim(line.substr(1, line.size() - 2));
      if (head == "file") {
        r.files.emplace_back();
        file = &r.files.back();
        file->line = number;
        file->group = group;
      } else if (head.rfind("group ", 0) == 0) {
        group = trim(head.substr(6));
        if (group.empty()) error("a group needs a name");
        for (const auto& g : r.groups)
          if (g == group) error("group " + group + " is given twice");
        r.groups.push_back(group);
        file = nullptr;
      } else if (head == "end group") {
        group.clear();
        file = nullptr;
      } else {
        error("unknown section [" + head + "]");
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error("expected key = value");
      continue;
    }
    const std::string key = trim(line.substr(0, eq));
    const std::string value = trim(line.substr(eq + 1));
    if (file) {
      if (key == "source") file->source = value;
      else if (key == "name") file->name = value;
      else if (key == "date") file->date = value;
      else if (key == "description") file->description = value;
      else if (key == "local") file->local = value;
      else if (key == "mode") file->mode = value;
      else if (key == "folder") file->folder = value;
      else if (key == "ticked") file->ticked = value != "0" && value != "no";
      else error("unknown key of a file: " + key);
    } else if (!group.empty() || !r.groups.empty()) {
      error("after a group only [file] sections may follow; release keys come first");
    } else {
      if (key == "version") r.version = value;
      else if (key == "title") r.title = value;
      else if (key == "date") r.date = value;
      else if (key == "run") r.runMode = value;
      else if (key == "update") r.updateMode = value;
      else if (key == "prompt") r.prompt = value;
      else if (key == "base") r.base = value;
      else if (key == "note") r.notes.push_back(value);
      else error("unknown key: " + key);
    }
  }
  if (!errors.empty()) return std::nullopt;
  return r;
}

std::vector<std::string> checkRelease(const Release& r) {
  std::vector<std::string> problems;
  auto key = [&](const char* what, const std::string& value, bool required) {
    if (value.empty()) {
      if (required) problems.push_back(std::string(what) + " is missing");
      return;
    }
    // A key item's value may hold "=", but a comma would split the item and a
    // quote end it.
    if (hasAny(value, ",\"")) problems.push_back(std::string(what) + " must not contain , or \": " + value);
    if (!fitsGbk(value)) problems.push_back(std::string(what) + " has characters GBK cannot hold: " + value);
  };
  key("version", r.version, true);
  key("date", r.date, true);
  key("title", r.title, false);
  key("run", r.runMode, false);
  key("update", r.updateMode, false);
  key("prompt", r.prompt, false);
  // The signature names the version in "版本=… 日期=…".
  if (hasAny(r.version, " \t")) problems.push_back("version must not contain blanks: " + r.version);
  if (r.base.empty()) problems.push_back("base (the address the output is served from) is missing");
  else if (hasAny(r.base, kFieldForbidden) || hasAny(r.base, " ") ||
           (r.base.rfind("http://", 0) != 0 && r.base.rfind("https://", 0) != 0))
    problems.push_back("base must be an http or https address without = { , | \" ; or blanks: " + r.base);
  for (const auto& n : r.notes) {
    // A note holding "=" would be read as a key.
    if (hasAny(n, "=,\"")) problems.push_back("note must not contain = , or \": " + n);
    if (!fitsGbk(n)) problems.push_back("note has characters GBK cannot hold: " + n);
  }
  for (const auto& g : r.groups) {
    // "/" closes a group, "\" separates the chosen groups, "|" the offered ones.
    if (hasAny(g, "={,|\";/\\")) problems.push_back("group name must not contain = { , | \" ; / or \\: " + g);
    if (!fitsGbk(g)) problems.push_back("group name has characters GBK cannot hold: " + g);
  }
  if (r.files.empty()) problems.push_back("the release has no file");
  std::set<std::string> names, locals;
  for (const auto& f : r.files) {
    const std::string at = "file at line " + std::to_string(f.line) + ": ";
    if (f.source.empty()) problems.push_back(at + "source is missing");
    if (f.name.empty()) problems.push_back(at + "name is missing");
    if (f.date.empty()) problems.push_back(at + "date is missing");
    if (f.mode.empty()) problems.push_back(at + "mode (运行, 解压 or a target) is missing");
    const std::string local = f.local.empty() ? fs::path(f.source).filename().string() : f.local;
    for (const auto& [what, value] : {std::pair<const char*, std::string>{"name", f.name}, {"date", f.date},
                                      {"description", f.description}, {"local", local}, {"mode", f.mode},
                                      {"folder", f.folder}}) {
      if (hasAny(value, kFieldForbidden))
        problems.push_back(at + what + " must not contain = { , | \" or ;: " + value);
      if (!fitsGbk(value)) problems.push_back(at + what + " has characters GBK cannot hold: " + value);
    }
    // Quennar compares names in lower case.
    if (!names.insert(common::lowerText(f.name) + "\\" + common::lowerText(f.date)).second)
      problems.push_back(at + "another file has the same name and date");
    if (!locals.insert(common::lowerText(local)).second)
      problems.push_back(at + "another file has the same local name: " + local);
    if (!staysInside(local)) problems.push_back(at + "local name leaves the program folder: " + local);
    else if (isUpdaterName(local)) problems.push_back(at + "local name is one of the updater's own files: " + local);
    const std::string mode = common::lowerText(f.mode);
    if (mode == "解压") {
      if (!f.folder.empty() && !staysInside(f.folder))
        problems.push_back(at + "folder leaves the program folder: " + f.folder);
    } else if (mode != "运行" && !f.mode.empty()) {
      if (!staysInside(f.mode)) problems.push_back(at + "target leaves the program folder: " + f.mode);
      else if (isUpdaterName(f.mode)) problems.push_back(at + "target is one of the updater's own files: " + f.mode);
      if (f.mode.back() == '/' || f.mode.back() == '\\') problems.push_back(at + "target names a folder: " + f.mode);
    }
  }
  return problems;
}

std::vector<std::string> listItems(const Release& r) {
  std::vector<std::string> items;
  items.push_back("版本=" + r.version);
  items.push_back("日期=" + r.date);
  if (!r.title.empty()) items.push_back("标题=" + r.title);
  if (!r.runMode.empty()) items.push_back("方式=" + r.runMode);
  if (!r.updateMode.empty()) items.push_back("更新=" + r.updateMode);
  if (!r.prompt.empty()) items.push_back("提示=" + r.prompt);
  if (!r.groups.empty()) {
    std::string choices;
    for (const auto& g : r.groups) choices += (choices.empty() ? "" : "|") + g;
    items.push_back("定制=" + choices);
  }
  for (const auto& n : r.notes) items.push_back("{" + n);
  auto fileItem = [](const ReleaseFile& f) {
    const std::string local = f.local.empty() ? fs::path(f.source).filename().string() : f.local;
    return "|" + std::string(f.ticked ? "1" : "0") + "|" + f.name + "|" + f.date + "|" + f.sizeText + "|" +
           f.description + "|" + f.address + "|" + local + "|" + f.mode + "|" + f.folder + "|sha256:" + f.sha256;
  };
  for (const auto& f : r.files)
    if (f.group.empty()) items.push_back(fileItem(f));
  for (const auto& g : r.groups) {
    items.push_back("[" + g);
    for (const auto& f : r.files)
      if (f.group == g) items.push_back(fileItem(f));
    items.push_back("[/" + g);
  }
  return items;
}

std::string listBytes(const Release& r) {
  std::vector<common::ItemValue> values;
  for (auto& item : listItems(r)) values.emplace_back(std::move(item));
  return common::toCp936(common::formatItems(values));
}

}  // namespace publish
