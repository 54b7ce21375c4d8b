#pragma once
// The updater's local files in the program folder, all in the delimited-item
// format (GBK, written atomically): upset.ini, Quennar.log, reset.ini, and the
// start-up marker 更新.ini written by the main program.
#include <string>

#include "updater/updater_state.h"

namespace updater {

inline constexpr const char* kSettingsFile = "upset.ini";
inline constexpr const char* kLogFile = "Quennar.log";
inline constexpr const char* kResetFile = "reset.ini";
inline constexpr const char* kMarkerFile = "更新.ini";
inline constexpr const char* kRawListFile = "up.ini";
inline constexpr const char* kListFile = "Quennar.ini";
// Held in the program folder while a run is under way: a second updater that
// finds it held ends at once. A lock left by a process that died is taken over.
inline constexpr const char* kLockFile = "Quennar.lock";

// True when the file can be opened for reading; any failure gives false.
bool FileExists(const std::string& filename);

// The updater's own program (its bare name; common::executableName gives the
// file's name).
inline constexpr const char* kUpdaterProgram = "Quennar";

// True when path (native, resolved) is one of the updater's own files above or
// its program, in any letter case, directly in the program folder (also
// through a link to the folder). Nothing from a list, from reset.ini or from an
// archive goes over them.
bool isUpdaterFile(const std::string& path);

// True when text can be stored in the updater's files and read back as it is:
// every character has a GBK code, and it holds no double quote (the item
// writer's delimiter), no "|" (which ends the entries of the installed and
// pending lists) and no NUL. A path stored in reset.ini must not hold a ";"
// either (inPendingList).
bool fitsLocalFiles(const std::string& text, bool inPendingList = false);

// The attempts counted in reset.ini: digits only, at most three of them; ""
// is none made yet. Anything else (a sign, a forged number) counts as every
// attempt made.
int parseAttempts(const std::string& text, int exhausted);

// Program folder + name.
std::string localPath(const std::string& name);

// Missing items read as empty. False when the file could not be read.
bool readset(UpdaterState& state);
[[nodiscard]] bool writeset(const UpdaterState& state);
bool readlog(UpdaterState& state);
// version and date: what the window shows (Label2(1), Label2(5)).
[[nodiscard]] bool writelog(const UpdaterState& state, const std::string& version, const std::string& date);
// reset.ini: mainTitle, mainExe, pendingList, the number of attempts made so
// far (empty: none), and pendingInstalled.
[[nodiscard]] bool writereset(const UpdaterState& state);

// Takes entries ("name\date|" run together) out of state.installedList and out
// of the installed list in Quennar.log, so that the next run offers those
// items again. Each entry is taken out once, only where a whole entry starts.
// False when the log could not be rewritten.
[[nodiscard]] bool forgetInstalled(UpdaterState& state, const std::string& entries);

// The save step. shownVersion/shownDate are the texts of the window; listRead
// says whether this run read an update list at all: a run that read none keeps
// the version and date the log had, so that later runs still compare versions.
// Stops at the first file that cannot be written; false then.
[[nodiscard]] bool savestate(const UpdaterState& state, const std::string& shownVersion, const std::string& shownDate,
               bool listRead);

}  // namespace updater
