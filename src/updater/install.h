#pragma once
// The install step of a downloaded item (run it, unpack it, or record it as a
// deferred replacement) and applyreset, which carries out reset.ini.
//
// The list decides where files go, and it comes from a server the program does
// not control: every name it gives (the local name, a deferred target, the
// unpack folder) must stay inside the program folder, and nothing is started
// from outside it. Refused items are not recorded as installed.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/zip/unzip.h"
#include "updater/updater_state.h"

namespace updater {

// A name from the list relative to the program folder, Windows-style or native,
// as a native path inside the folder, resolved in any letter case
// (common::resolveInProgramFolder: an existing file or folder is used under its
// real name, a missing part keeps the list's spelling). Nothing when it would
// leave the folder ("..", an absolute path, a drive letter, a UNC path), names
// no file, names one of the updater's own files or its program (isUpdaterFile),
// or is a path that reset.ini could not carry (fitsLocalFiles). allowEmpty: ""
// names the program folder itself (the unpack folder may be empty).
std::optional<std::string> pathInProgramFolder(const std::string& name, bool allowEmpty = false);

// The one rule for the items of a list: "" when the updater takes the item,
// else why not. The name and date must fit Quennar.log, the local name, a
// deferred target and the unpack folder must pass pathInProgramFolder. Applied
// when the list is read (a refused item is not listed) and again when the item
// is installed.
std::string itemRefusal(const std::string& name, const std::string& date, const std::string& localName,
                        const std::string& mode, const std::string& folder);

// A path read back from reset.ini (source or target): true when it lies inside
// the program folder, is none of the updater's own files and fits the file.
bool acceptedPendingPath(const std::string& path);

// The source;target pairs of a pending list ("source;target|" run together);
// parts without ";" are passed over.
std::vector<std::pair<std::string, std::string>> splitPending(const std::string& pending);

// True when path (resolved, native) is already the source of an entry of the
// pending list: a second item of that local name would overwrite the first
// one's download before it is applied.
bool isPendingSource(const std::string& pendingList, const std::string& path);

// The unpack limits of the updater: no entry over its own files, and keepGoing.
platform::UnzipLimits unzipLimits(std::function<bool(uint64_t)> keepGoing = {});

// True when path lies inside the program folder (links resolved), not the
// folder itself.
bool insideProgramFolder(const std::string& path);

// Starts a file of the program folder as a program: only an ELF executable or
// a "#!" script (platform::startProgramFile, which gives it its execute bit).
// Anything else is never started nor handed to the desktop's opener. False when
// the file lies outside the folder, is no program or could not be started.
[[nodiscard]] bool startFromProgramFolder(const std::string& path);

// A deferred source is taken for an archive when its path below the program
// folder contains "zip" in any letter case.
bool isDeferredArchive(const std::string& source);

struct InstallOutcome {
  bool installed = false;  // recorded in installedList
  std::string refusal;     // why the item was refused ("" when it was not)
  std::string problem;     // what went wrong with an item installed all the same ("" when nothing)
};

// keepGoing: called while an archive is unpacked (see platform::UnzipLimits);
// false stops it, and the item is refused.
//
// Installs the current item of state (itemName, itemDate, itemLocalName,
// itemMode, itemFolder); the downloaded file is the local name in the program
// folder. Refused, with its download removed and not recorded as installed:
// an unpack folder or deferred target outside the folder, a deferred target
// that is an existing folder, an archive that is damaged, unsafe or too large
// (unpacked: nothing changed; deferred: checked before it is recorded). A
// deferred item is recorded in pendingList and pendingInstalled.
InstallOutcome installitem(UpdaterState& state, const std::function<bool(uint64_t)>& keepGoing = {});

struct CopyfileResult {
  int code = -1;  // 0: every entry extracted and the archive deleted
  bool refused = false;
  std::string message;
};
// Unpacks the archive filename into the folder strsys; deletes the archive
// when every entry was extracted.
CopyfileResult copyfile(const std::string& strsys, const std::string& filename,
                        const std::function<bool(uint64_t)>& keepGoing = {});

// How many times a replacement that cannot be carried out is tried again.
inline constexpr int kResetAttempts = 3;

struct ApplyResult {
  int applied = 0;
  int failed = 0;   // kept in reset.ini for the next start
  int refused = 0;  // paths outside the program folder, dropped
  bool mainWasRunning = false;
  bool mainEnded = false;
  bool mainStarted = false;
  std::vector<std::string> messages;
};

// Carries out reset.ini: asks the main program (caption mainTitle) to close
// and waits up to waitMs for it to end, replaces the targets, removes reset.ini
// (or keeps the entries that failed, for the next start), and starts the main
// program again (mainExe found in any letter case) unless it is still
// running. Clears state.resetPending. A source that is its own target is left
// in place. Every path read back passes acceptedPendingPath.
//
// Bounded whatever the files allow: the attempt is counted in reset.ini
// before the main program is asked to close, and a reset.ini that cannot be
// rewritten is given up at once, without closing anything. A main program
// that does not end within waitMs keeps its files: nothing is replaced, the
// entries stay for the next start, and it is not started a second time.
// Entries still failing after kResetAttempts starts are given up and their
// items taken out of the installed list (state and Quennar.log), so the next
// run offers them again.
ApplyResult applyreset(UpdaterState& state, int waitMs = 5000);

}  // namespace updater
