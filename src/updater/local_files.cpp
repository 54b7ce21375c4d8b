#include "updater/local_files.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/cp936.h"
#include "common/file_test.h"
#include "common/items.h"
#include "common/program_folder.h"
#include "common/text_case.h"

namespace updater {

namespace {

std::vector<std::string> readAll(const std::string& name, size_t count, bool& ok) {
  auto items = common::readItemFile(localPath(name), count);
  ok = items.has_value();
  std::vector<std::string> values = items.value_or(std::vector<std::string>{});
  values.resize(count);
  return values;
}

}  // namespace

bool FileExists(const std::string& filename) { return common::canOpenForReading(filename); }

bool isUpdaterFile(const std::string& path) {
  const std::filesystem::path p(path);
  const std::string name = common::lowerText(p.filename().string());
  const std::string program = common::executableName(kUpdaterProgram);
  bool own = false;
  for (const std::string o : {kSettingsFile, kLogFile, kResetFile, kRawListFile, kListFile, kLockFile, program.c_str()})
    own = own || name == common::lowerText(o);
  if (!own) return false;
  std::error_code ec;
  return p.parent_path().string() == common::programFolder() ||
         std::filesystem::equivalent(p.parent_path(), common::programFolder(), ec);
}

bool fitsLocalFiles(const std::string& text, bool inPendingList) {
  if (text.find_first_of(std::string("\"|\0", 3)) != std::string::npos) return false;
  if (inPendingList && text.find(';') != std::string::npos) return false;
  return common::fromCp936(common::toCp936(text)) == text;
}

int parseAttempts(const std::string& text, int exhausted) {
  if (text.empty()) return 0;
  if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return exhausted;
  return std::min(std::stoi(text), exhausted);
}

std::string localPath(const std::string& name) { return common::inProgramFolder(name); }

bool readset(UpdaterState& state) {
  bool ok = false;
  auto v = readAll(kSettingsFile, 5, ok);
  state.mainTitle = v[0];
  state.mainExe = v[1];
  state.listUrl = v[2];
  state.selection = v[3];
  state.publicKey = v[4];
  return ok;
}

bool writeset(const UpdaterState& state) {
  std::vector<common::ItemValue> items = {state.mainTitle, state.mainExe, state.listUrl, state.selection};
  // The vendor's key goes back as it came; a file without one stays without.
  if (!state.publicKey.empty()) items.push_back(state.publicKey);
  return common::writeItemFile(localPath(kSettingsFile), items);
}

bool readlog(UpdaterState& state) {
  bool ok = false;
  auto v = readAll(kLogFile, 3, ok);
  state.installedVersion = v[0];
  state.installedDate = v[1];
  state.installedList = v[2];
  return ok;
}

bool writelog(const UpdaterState& state, const std::string& version, const std::string& date) {
  return common::writeItemFile(localPath(kLogFile), {version, date, state.installedList});
}

bool writereset(const UpdaterState& state) {
  return common::writeItemFile(localPath(kResetFile),
                               {state.mainTitle, state.mainExe, state.pendingList, "", state.pendingInstalled});
}

namespace {

// Takes the first whole entry out of list; false when there is none.
bool eraseEntry(std::string& list, const std::string& entry) {
  for (size_t at = list.find(entry); at != std::string::npos; at = list.find(entry, at + 1)) {
    if (at == 0 || list[at - 1] == '|') {
      list.erase(at, entry.size());
      return true;
    }
  }
  return false;
}

}  // namespace

bool forgetInstalled(UpdaterState& state, const std::string& entries) {
  bool ok = false;
  std::vector<std::string> log = readAll(kLogFile, 3, ok);
  bool logChanged = false;
  size_t start = 0;
  while (start < entries.size()) {
    size_t bar = entries.find('|', start);
    if (bar == std::string::npos) bar = entries.size();
    const std::string entry = entries.substr(start, bar - start) + "|";
    start = bar + 1;
    if (entry.size() < 2) continue;
    eraseEntry(state.installedList, entry);
    if (ok && eraseEntry(log[2], entry)) logChanged = true;
  }
  if (!logChanged) return true;
  return common::writeItemFile(localPath(kLogFile), {log[0], log[1], log[2]});
}

bool savestate(const UpdaterState& state, const std::string& shownVersion, const std::string& shownDate,
               bool listRead) {
  if (!state.installedList.empty()) {
    const bool ok = listRead ? writelog(state, shownVersion, shownDate)
                             : writelog(state, state.installedVersion, state.installedDate);
    if (!ok) return false;
  }
  if (state.selection != state.selectionAtLoad && !writeset(state)) return false;
  if (state.resetPending && !writereset(state)) return false;
  return true;
}

}  // namespace updater
