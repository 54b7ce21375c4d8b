#include "updater/install.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/items.h"
#include "common/program_folder.h"
#include "platform/process/process.h"
#include "platform/zip/unzip.h"
#include "updater/local_files.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

fs::path canonicalFolder() {
  std::error_code ec;
  fs::path folder = fs::weakly_canonical(fs::path(common::programFolder()), ec);
  return ec ? fs::path(common::programFolder()) : folder;
}

bool isProgramFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[4] = {};
  in.read(head, 4);
  if (in.gcount() >= 2 && head[0] == '#' && head[1] == '!') return true;
  return in.gcount() == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

bool replaceFile(const std::string& source, const std::string& target, std::string& why) {
  std::error_code ec;
  const fs::path t(target);
  if (!t.parent_path().empty()) fs::create_directories(t.parent_path(), ec);
  const fs::path temp = t.parent_path() / ("." + t.filename().string() + ".new");
  fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temp, t, ec);
  if (ec) {
    why = "cannot replace " + target + ": " + ec.message();
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

}  // namespace

bool isDeferredArchive(const std::string& source) {
  // Only the part of the path below the program folder counts: where the
  // system is installed must not turn every replacement into an archive.
  const std::string folder = common::programFolder();
  std::string_view rest(source);
  if (rest.size() > folder.size() && rest.compare(0, folder.size(), folder) == 0) rest.remove_prefix(folder.size());
  return rest.find("zip") != std::string_view::npos;
}

std::optional<std::string> pathInProgramFolder(const std::string& name, bool allowEmpty) {
  if (name.empty()) return allowEmpty ? std::optional<std::string>(common::programFolder()) : std::nullopt;
  if (name.front() == '\\' || name.front() == '/') return std::nullopt;  // absolute or UNC
  if (name.find(':') != std::string::npos) return std::nullopt;         // drive letter
  if (name.find('\0') != std::string::npos) return std::nullopt;
  bool any = false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") any = true;
    start = end + 1;
  }
  if (!any) return allowEmpty ? std::optional<std::string>(common::programFolder()) : std::nullopt;
  const char last = name.back();
  if (!allowEmpty && (last == '\\' || last == '/')) return std::nullopt;  // a folder, not a file
  const std::string path = common::inProgramFolder(name);
  if (!insideProgramFolder(path)) return std::nullopt;
  return path;
}

bool insideProgramFolder(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::path(path), ec);
  if (ec) return false;
  const std::string folder = canonicalFolder().string();
  const std::string text = p.string();
  return text.size() > folder.size() + 1 && text.compare(0, folder.size(), folder) == 0 &&
         text[folder.size()] == '/';
}

bool startFromProgramFolder(const std::string& path) {
  if (!insideProgramFolder(path) || !FileExists(path)) return false;
  if (isProgramFile(path)) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add, ec);
    return platform::startProgram(path);
  }
  return platform::shellOpen(path);
}

CopyfileResult copyfile(const std::string& strsys, const std::string& filename) {
  CopyfileResult result;
  if (!FileExists(filename)) {
    result.message = "archive missing: " + filename;
    return result;
  }
  const platform::UnzipResult unzip = platform::unzipArchive(filename, strsys);
  result.code = unzip.code;
  result.refused = unzip.refused;
  result.message = unzip.message;
  if (unzip.code == platform::kUnzipOk) std::remove(filename.c_str());
  return result;
}

InstallOutcome installitem(UpdaterState& st) {
  InstallOutcome out;
  const auto file = pathInProgramFolder(st.itemLocalName);
  if (!file) {
    out.refusal = "local name leaves the program folder: " + st.itemLocalName;
    return out;
  }
  if (st.itemMode == "运行") {
    if (FileExists(*file)) startFromProgramFolder(*file);
  } else if (st.itemMode == "解压") {
    const auto folder = pathInProgramFolder(st.itemFolder, true);
    if (!folder) {
      out.refusal = "unpack folder leaves the program folder: " + st.itemFolder;
      return out;
    }
    std::error_code ec;
    fs::create_directories(*folder, ec);
    const CopyfileResult r = copyfile(*folder, *file);
    if (r.refused) {
      out.refusal = r.message;
      return out;
    }
  } else {
    std::string target;
    if (const auto path = pathInProgramFolder(st.itemMode)) {
      target = *path;
    } else if (isDeferredArchive(*file) && pathInProgramFolder(st.itemMode, true) == common::programFolder()) {
      // An archive without a target (the mode empty or naming the program
      // folder) is unpacked into the program folder when it is applied.
      target = common::inProgramFolder("");
    } else {
      out.refusal = "target leaves the program folder or names no file: " + st.itemMode;
      return out;
    }
    st.resetPending = true;
    st.pendingList += *file + ";" + target + "|";
  }
  st.installedList += st.itemName + "\\" + st.itemDate + "|";
  out.installed = true;
  return out;
}

ApplyResult applyreset(UpdaterState& st, int waitMs) {
  ApplyResult result;
  const std::string resetPath = localPath(kResetFile);
  auto items = common::readItemFile(resetPath, 4).value_or(std::vector<std::string>{});
  items.resize(4);
  st.mainTitle = items[0];
  st.mainExe = items[1];
  const std::string pending = items[2];
  const int attempts = std::atoi(items[3].c_str());
  st.resetPending = false;
  if (pending.empty()) {
    // Nothing to apply. Left in place, the file would stop every later run
    // before it fetched the list.
    std::remove(resetPath.c_str());
    return result;
  }

  if (!st.mainTitle.empty() && platform::requestClose(st.mainTitle)) {
    result.mainWasRunning = true;
    result.mainEnded = platform::waitUntilClosed(st.mainTitle, waitMs);
  }

  std::string kept;
  size_t start = 0;
  while (start < pending.size()) {
    size_t bar = pending.find('|', start);
    if (bar == std::string::npos) bar = pending.size();
    const std::string part = pending.substr(start, bar - start);
    start = bar + 1;
    const size_t semi = part.find(';');
    if (semi == std::string::npos) continue;
    const std::string source = part.substr(0, semi);
    const std::string target = part.substr(semi + 1);
    if (!FileExists(source)) continue;
    if (!insideProgramFolder(source)) {
      ++result.refused;
      result.messages.push_back("replacement outside the program folder refused: " + part);
      continue;
    }
    bool ok = true;
    std::string why;
    if (isDeferredArchive(source)) {
      const CopyfileResult r = copyfile(common::programFolder(), source);
      if (r.refused) {
        ++result.refused;
        result.messages.push_back(r.message);
        std::remove(source.c_str());
        continue;
      }
      ok = r.code == 0;
      why = r.message;
    } else if (!target.empty()) {
      if (!insideProgramFolder(target)) {
        ++result.refused;
        result.messages.push_back("replacement outside the program folder refused: " + part);
        continue;
      }
      ok = replaceFile(source, target, why);
    } else {
      ok = startFromProgramFolder(source);
      if (!ok) why = "cannot start " + source;
    }
    if (!ok) {
      ++result.failed;
      result.messages.push_back(why);
      kept += part + "|";
      continue;
    }
    ++result.applied;
    if (FileExists(source)) std::remove(source.c_str());
  }

  if (kept.empty() || attempts + 1 >= kResetAttempts) {
    std::remove(resetPath.c_str());
    if (!kept.empty()) result.messages.push_back("replacements given up: " + kept);
  } else {
    common::writeItemFile(resetPath, {st.mainTitle, st.mainExe, kept, std::to_string(attempts + 1)});
  }

  const std::string exe = common::executableName(st.mainExe);
  if (!st.mainExe.empty() && st.mainExe.find_first_of("\\/:") == std::string::npos && st.mainExe != "..") {
    const std::string mainPath = common::inProgramFolder(exe);
    if (FileExists(mainPath)) result.mainStarted = startFromProgramFolder(mainPath);
  }
  return result;
}

}  // namespace updater
