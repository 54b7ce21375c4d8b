#pragma once
// The install step of a downloaded item (run it, unpack it, or record it as a
// deferred replacement) and applyreset, which carries out reset.ini.
//
// The list decides where files go, and it comes from a server the program does
// not control: every name it gives (the local name, a deferred target, the
// unpack folder) must stay inside the program folder, and nothing is started
// from outside it. Refused items are not recorded as installed.
#include <optional>
#include <string>
#include <vector>

#include "updater/updater_state.h"

namespace updater {

// A name from the list relative to the program folder, Windows-style or native,
// as a native path inside the folder, resolved in any letter case
// (common::resolveInProgramFolder: an existing file or folder is used under its
// real name, a missing part keeps the list's spelling). Nothing when it would
// leave the folder ("..", an absolute path, a drive letter, a UNC path), names
// no file, or names one of the updater's own files (upset.ini, Quennar.log, Quennar.lock,
// reset.ini, up.ini, Quennar.ini in any letter case). allowEmpty: "" names the
// program folder itself (the unpack folder may be empty).
std::optional<std::string> pathInProgramFolder(const std::string& name, bool allowEmpty = false);

// True when path lies inside the program folder (links resolved), not the
// folder itself.
bool insideProgramFolder(const std::string& path);

// Starts a file of the program folder as a program (a program file is made
// executable first; any other file goes to the desktop's opener). False when the
// file lies outside the folder or could not be started.
bool startFromProgramFolder(const std::string& path);

// A deferred source is taken for an archive when its path below the program
// folder contains "zip" in any letter case.
bool isDeferredArchive(const std::string& source);

struct InstallOutcome {
  bool installed = false;  // recorded in installedList
  std::string refusal;     // why the item was refused ("" when it was not)
};

// Installs the current item of state (itemName, itemDate, itemLocalName,
// itemMode, itemFolder); the downloaded file is the local name in the program
// folder. Refused, with its download removed and not recorded as installed:
// an unpack folder or deferred target outside the folder, a deferred target
// that is an existing folder, an archive that is damaged, unsafe or too large
// (unpacked: nothing changed; deferred: checked before it is recorded). A
// deferred item is recorded in pendingList and pendingInstalled.
InstallOutcome installitem(UpdaterState& state);

struct CopyfileResult {
  int code = -1;  // 0: every entry extracted and the archive deleted
  bool refused = false;
  std::string message;
};
// Unpacks the archive filename into the folder strsys; deletes the archive
// when every entry was extracted.
CopyfileResult copyfile(const std::string& strsys, const std::string& filename);

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
// program again (mainExe found in any letter case). Clears state.resetPending.
// A source that is its own target is left in place. Entries still failing
// after kResetAttempts starts are given up and their items taken out of the
// installed list (state and Quennar.log), so the next run offers them again.
ApplyResult applyreset(UpdaterState& state, int waitMs = 5000);

}  // namespace updater
