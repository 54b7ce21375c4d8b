#include "updater/install.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/items.h"
#include "common/program_folder.h"
#include "common/text_case.h"
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

std::vector<std::string> splitAtBars(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < text.size()) {
    size_t bar = text.find('|', start);
    if (bar == std::string::npos) bar = text.size();
    parts.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  return parts;
}

bool replaceFile(const std::string& source, const std::string& target, std::string& why) {
  std::error_code ec;
  const fs::path t(target);
  if (!t.parent_path().empty() && (fs::create_directories(t.parent_path(), ec), ec)) {
    why = "cannot make the folder of " + target + ": " + ec.message();
    return false;
  }
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
  // The list's names were lower case; resolved, they carry the letters of the
  // files they found (Patch.ZIP).
  return common::asciiLower(std::string(rest)).find("zip") != std::string::npos;
}

std::optional<std::string> pathInProgramFolder(const std::string& name, bool allowEmpty) {
  const std::string folder = common::programFolder();
  if (name.empty()) return allowEmpty ? std::optional<std::string>(folder) : std::nullopt;
  if (name.front() == '\\' || name.front() == '/') return std::nullopt;  // absolute or UNC
  // Resolved in any letter case; refuses "..", drive letters and NULs.
  const auto path = common::resolveInProgramFolder(name);
  if (!path) return std::nullopt;
  if (*path == folder) return allowEmpty ? path : std::nullopt;
  const char last = name.back();
  if (!allowEmpty && (last == '\\' || last == '/')) return std::nullopt;  // a folder, not a file
  if (isUpdaterFile(*path)) return std::nullopt;
  if (!fitsLocalFiles(*path, true)) return std::nullopt;
  if (!insideProgramFolder(*path)) return std::nullopt;
  return path;
}

std::string itemRefusal(const std::string& name, const std::string& date, const std::string& localName,
                        const std::string& mode, const std::string& folder) {
  if (!fitsLocalFiles(name) || !fitsLocalFiles(date)) return "name or date cannot be kept in the install log";
  if (!pathInProgramFolder(localName))
    return "local name leaves the program folder, names a file of the updater or cannot be kept: " + localName;
  if (mode == "运行") return {};
  if (mode == "解压") {
    if (!pathInProgramFolder(folder, true)) return "unpack folder leaves the program folder: " + folder;
    return {};
  }
  // A deferred target: a file of the folder, or the folder itself (an archive
  // unpacked there when it is applied).
  if (!pathInProgramFolder(mode, true)) return "target leaves the program folder or names a file of the updater: " + mode;
  return {};
}

bool acceptedPendingPath(const std::string& path) {
  return insideProgramFolder(path) && !isUpdaterFile(path) && fitsLocalFiles(path, true);
}

std::vector<std::pair<std::string, std::string>> splitPending(const std::string& pending) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& part : splitAtBars(pending)) {
    const size_t semi = part.find(';');
    if (semi != std::string::npos) pairs.emplace_back(part.substr(0, semi), part.substr(semi + 1));
  }
  return pairs;
}

bool isPendingSource(const std::string& pendingList, const std::string& path) {
  const std::string lowered = common::lowerText(path);
  for (const auto& [source, target] : splitPending(pendingList)) {
    std::error_code ec;
    if (common::lowerText(source) == lowered || fs::equivalent(source, path, ec)) return true;
  }
  return false;
}

platform::UnzipLimits unzipLimits(std::function<bool(uint64_t)> keepGoing) {
  platform::UnzipLimits limits;
  limits.refusedTarget = [](const std::string& target) { return isUpdaterFile(target); };
  limits.keepGoing = std::move(keepGoing);
  return limits;
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
  return platform::startProgramFile(path);
}

CopyfileResult copyfile(const std::string& strsys, const std::string& filename,
                        const std::function<bool(uint64_t)>& keepGoing) {
  CopyfileResult result;
  if (!FileExists(filename)) {
    result.message = "archive missing: " + filename;
    return result;
  }
  const platform::UnzipResult unzip = platform::unzipArchive(filename, strsys, unzipLimits(keepGoing));
  result.code = unzip.code;
  result.refused = unzip.refused;
  result.message = unzip.message;
  if (unzip.code == platform::kUnzipOk) std::remove(filename.c_str());
  return result;
}

InstallOutcome installitem(UpdaterState& st, const std::function<bool(uint64_t)>& keepGoing) {
  InstallOutcome out;
  const auto file = pathInProgramFolder(st.itemLocalName);
  if (!file) {
    // Nothing was downloaded for such a name, and what it names is not ours.
    out.refusal = "local name leaves the program folder or names a file of the updater: " + st.itemLocalName;
    return out;
  }
  if (std::string why = itemRefusal(st.itemName, st.itemDate, st.itemLocalName, st.itemMode, st.itemFolder);
      !why.empty()) {
    out.refusal = std::move(why);
    std::error_code ec;
    if (!fs::is_directory(*file, ec)) fs::remove(*file, ec);
    return out;
  }
  // A refused item leaves no download behind.
  auto refuse = [&](std::string why) {
    out.refusal = std::move(why);
    std::error_code ec;
    if (!fs::is_directory(*file, ec)) fs::remove(*file, ec);
    return out;
  };
  const std::string entry = st.itemName + "\\" + st.itemDate + "|";
  if (st.itemMode == "运行") {
    // Only a program is started; a document is not handed to whatever the
    // desktop would open it with.
    if (FileExists(*file) && !platform::isProgramFile(*file))
      return refuse("not a program (an ELF executable or a #! script): " + st.itemLocalName);
    if (FileExists(*file) && !startFromProgramFolder(*file)) out.problem = "program not started: " + st.itemLocalName;
  } else if (st.itemMode == "解压") {
    const auto folder = pathInProgramFolder(st.itemFolder, true);
    if (!folder) return refuse("unpack folder leaves the program folder: " + st.itemFolder);
    std::error_code ec;
    if (fs::create_directories(*folder, ec); ec)
      return refuse("unpack folder cannot be made: " + st.itemFolder + ": " + ec.message());
    const CopyfileResult r = copyfile(*folder, *file, keepGoing);
    // A damaged or refused archive changed nothing; offered again next time.
    if (r.code != 0) return refuse("archive not unpacked: " + r.message);
  } else {
    const bool archive = isDeferredArchive(*file);
    std::string target;
    if (const auto path = pathInProgramFolder(st.itemMode)) {
      target = *path;
    } else if (archive && pathInProgramFolder(st.itemMode, true) == common::programFolder()) {
      // An archive without a target (the mode empty or naming the program
      // folder) is unpacked into the program folder when it is applied.
      target = common::inProgramFolder("");
    } else {
      return refuse("target leaves the program folder or names no file: " + st.itemMode);
    }
    std::error_code ec;
    if (archive) {
      // Checked now, so that a damaged archive is not recorded as installed.
      const platform::UnzipResult check = platform::checkArchive(*file, unzipLimits(keepGoing), common::programFolder());
      if (check.code != 0) return refuse("archive not usable: " + check.message);
    } else if (fs::is_directory(target, ec)) {
      return refuse("target is a folder: " + st.itemMode);
    }
    // A local name that is its own target was downloaded straight over the
    // installed file; the entry still restarts the main program, and applyreset
    // leaves the file alone.
    st.resetPending = true;
    st.pendingList += *file + ";" + target + "|";
    st.pendingInstalled += entry;
  }
  st.installedList += entry;
  out.installed = true;
  return out;
}

namespace {


// A target recorded as a full path inside the program folder, looked up again
// in any letter case: a folder an earlier replacement created is used as it
// is now named.
std::string resolvedAgain(const std::string& target) {
  const std::string folder = common::programFolder();
  if (target.size() <= folder.size() + 1 || target.compare(0, folder.size(), folder) != 0) return target;
  return common::resolveInProgramFolder(target.substr(folder.size() + 1)).value_or(target);
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return a == b || fs::equivalent(a, b, ec);
}

}  // namespace

ApplyResult applyreset(UpdaterState& st, int waitMs) {
  ApplyResult result;
  const std::string resetPath = localPath(kResetFile);
  auto items = common::readItemFile(resetPath, 5).value_or(std::vector<std::string>{});
  items.resize(5);
  st.mainTitle = items[0];
  st.mainExe = items[1];
  const std::string pending = items[2];
  const int attempts = parseAttempts(items[3], kResetAttempts);
  const std::vector<std::string> entries = splitAtBars(items[4]);
  st.resetPending = false;

  // The main program, found in any letter case by the name from upset.ini;
  // started only when it is not running (a program that did not close, or one
  // that was never asked to, is not started twice).
  auto startMain = [&] {
    if (st.mainExe.empty() || st.mainExe.find_first_of("\\/:") != std::string::npos || st.mainExe == "..") return;
    if (!st.mainTitle.empty() && platform::isListening(st.mainTitle)) return;
    const std::string exe = common::executableName(st.mainExe);
    const std::string mainPath = common::resolveInProgramFolder(exe).value_or(common::inProgramFolder(exe));
    if (FileExists(mainPath)) result.mainStarted = startFromProgramFolder(mainPath);
  };
  auto removeReset = [&] {
    std::error_code ec;
    if (!fs::remove(resetPath, ec) && fs::exists(resetPath, ec))
      result.messages.push_back("reset.ini cannot be removed");
  };

  // What can be carried out: every path passes the rule of the updater's
  // names again, and a source that is gone (applied by an earlier start whose
  // reset.ini could not be removed) is passed over.
  struct Work {
    std::string source, target, part, entry;
  };
  std::vector<Work> work;
  const std::vector<std::string> parts = splitAtBars(pending);
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string& part = parts[k];
    const size_t semi = part.find(';');
    if (semi == std::string::npos) continue;
    const std::string source = part.substr(0, semi);
    const std::string target = part.substr(semi + 1).empty() ? std::string() : resolvedAgain(part.substr(semi + 1));
    if (!FileExists(source)) continue;
    if (!acceptedPendingPath(source) || (!target.empty() && target != common::inProgramFolder("") &&
                                         !acceptedPendingPath(target))) {
      ++result.refused;
      result.messages.push_back("replacement refused: " + part);
      continue;
    }
    work.push_back({source, target, part, k < entries.size() ? entries[k] : std::string()});
  }
  std::string allEntries;
  for (const Work& w : work)
    if (!w.entry.empty()) allEntries += w.entry + "|";

  if (work.empty()) {
    // Nothing to apply. Left in place, the file would stop every later run
    // before it fetched the list.
    removeReset();
    startMain();
    return result;
  }
  auto giveUp = [&](const std::string& why, const std::string& keptEntries) {
    result.messages.push_back(why);
    removeReset();
    // Offered again by the next run instead of lost without a word.
    if (!keptEntries.empty() && !forgetInstalled(st, keptEntries))
      result.messages.push_back("installed list not rewritten");
  };
  if (attempts >= kResetAttempts) {
    giveUp("replacements given up after " + std::to_string(kResetAttempts) + " attempts", allEntries);
    startMain();
    return result;
  }
  // The attempt is counted before anything is closed: a reset.ini that cannot
  // be rewritten would otherwise close and restart the main program at every
  // one of its starts.
  auto writeBack = [&](const std::string& pendingText, int count, const std::string& entryText) {
    return common::writeItemFile(resetPath, {st.mainTitle, st.mainExe, pendingText, std::to_string(count), entryText});
  };
  if (!writeBack(pending, attempts + 1, items[4])) {
    giveUp("reset.ini cannot be rewritten: replacements given up", allEntries);
    startMain();
    return result;
  }

  if (!st.mainTitle.empty() && platform::requestClose(st.mainTitle)) {
    result.mainWasRunning = true;
    result.mainEnded = platform::waitUntilClosed(st.mainTitle, waitMs);
    if (!result.mainEnded) {
      // Its files are still in use: nothing is replaced, the entries stay for
      // the next start (this one is not counted), and it keeps running.
      result.messages.push_back("main program did not close: replacements kept for the next start");
      if (!writeBack(pending, attempts, items[4])) result.messages.push_back("reset.ini not rewritten");
      return result;
    }
  }

  std::string kept, keptEntries;
  for (const Work& w : work) {
    bool ok = true;
    bool inPlace = false;
    std::string why;
    if (isDeferredArchive(w.source)) {
      const CopyfileResult r = copyfile(common::programFolder(), w.source);
      if (r.refused) {
        ++result.refused;
        result.messages.push_back(r.message);
        std::remove(w.source.c_str());
        continue;
      }
      ok = r.code == 0;
      why = r.message;
    } else if (!w.target.empty()) {
      // Downloaded straight over its target: already in place, and the source
      // is the installed file.
      inPlace = sameFile(w.source, w.target);
      if (!inPlace) ok = replaceFile(w.source, w.target, why);
    } else {
      ok = startFromProgramFolder(w.source);
      if (!ok) why = "cannot start " + w.source;
    }
    if (!ok) {
      ++result.failed;
      result.messages.push_back(why);
      kept += w.part + "|";
      if (!w.entry.empty()) keptEntries += w.entry + "|";
      continue;
    }
    ++result.applied;
    if (!inPlace && FileExists(w.source)) std::remove(w.source.c_str());
  }

  if (kept.empty()) {
    removeReset();
  } else if (attempts + 1 >= kResetAttempts) {
    giveUp("replacements given up: " + kept, keptEntries);
  } else if (!writeBack(kept, attempts + 1, keptEntries)) {
    result.messages.push_back("reset.ini not rewritten");
  }
  startMain();
  return result;
}

}  // namespace updater
