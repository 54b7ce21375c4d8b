#pragma once
// The program folder: every file either program touches lies in the folder of
// its executable. The system names files Windows-style ("\web\Orvanta.htm",
// "\图标\", "pro.mdb"); nativePath() is the one place where such names meet the
// platform's separator.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace common {

// Folder of the running executable, without a trailing separator.
// setProgramFolder() overrides it (tests, tools pointed at another folder).
std::string programFolder();
void setProgramFolder(const std::string& folder);

// A Windows-style name ("a\b.txt", "\web\x.htm") with the platform's separator.
std::string nativePath(std::string_view name);

// programFolder() + separator + name, name given Windows-style or native;
// leading separators of name are dropped so that "\pro.mdb" and "pro.mdb" agree.
std::string inProgramFolder(std::string_view name);

// The path of name inside folder, as a file system that ignores letter case
// would find it. Names from lists, tables and ini files were written for such
// a file system; here every component is looked up one at a time:
// - an existing file or folder whose name differs only in letter case is used
//   under its real name; when several do, the exact spelling comes first, and
//   a spelling under which the rest of the path exists wins over one under
//   which it does not;
// - a component that does not exist (and everything below it) keeps the
//   spelling given, so a file written there is created under that name.
// name is Windows-style or native; leading, doubled and trailing separators and
// "." components are passed over, so "" gives folder itself. Nothing when the
// name could leave the folder: a ".." component, a colon (drive letter or
// stream) or a NUL. The result is native, without a trailing separator.
std::optional<std::string> resolveIn(const std::string& folder, std::string_view name);

// The listings of folders that resolveIn looks names up in, each read once.
// For many names resolved in the same folders (the entries of an archive):
// without it every name lists its folder again. Whoever creates a file or
// folder while the listings are used says so with added(), so that later names
// find it; nothing else may change the folders meanwhile.
class FolderListings {
 public:
  // path (native, as resolveIn returned it) now exists.
  void added(const std::string& path);

 private:
  friend struct FolderListingsAccess;
  // folder -> lower-case name -> the real names with that lower case
  std::unordered_map<std::string, std::unordered_map<std::string, std::vector<std::string>>> folders_;
};

// resolveIn with the listings read through (and kept in) listings.
std::optional<std::string> resolveIn(const std::string& folder, std::string_view name, FolderListings& listings);

// resolveIn(programFolder(), name): the one place where names from data meet
// the files of the program folder.
std::optional<std::string> resolveInProgramFolder(std::string_view name);

// An executable's file name from its bare name: unchanged here ("Quennar"); a
// Windows port adds ".exe".
std::string executableName(std::string_view bareName);

}  // namespace common
