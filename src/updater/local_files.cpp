#include "updater/local_files.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "common/items.h"
#include "common/program_folder.h"

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

bool FileExists(const std::string& filename) {
  std::error_code ec;
  if (std::filesystem::is_directory(filename, ec)) return false;  // a folder opens but is no file
  std::ifstream in(filename, std::ios::binary);
  return in.is_open() && in.good();
}

std::string localPath(const std::string& name) { return common::inProgramFolder(name); }

bool readset(UpdaterState& state) {
  bool ok = false;
  auto v = readAll(kSettingsFile, 4, ok);
  state.mainTitle = v[0];
  state.mainExe = v[1];
  state.listUrl = v[2];
  state.selection = v[3];
  return ok;
}

bool writeset(const UpdaterState& state) {
  return common::writeItemFile(localPath(kSettingsFile),
                               {state.mainTitle, state.mainExe, state.listUrl, state.selection});
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
  return common::writeItemFile(localPath(kResetFile), {state.mainTitle, state.mainExe, state.pendingList});
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
