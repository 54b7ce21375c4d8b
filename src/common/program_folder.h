#pragma once
// The program folder: every file either program touches lies in the folder of
// its executable. The system names files Windows-style ("\web\Orvanta.htm",
// "\图标\", "pro.mdb"); nativePath() is the one place where such names meet the
// platform's separator.
#include <string>
#include <string_view>

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

// An executable's file name from its bare name: "Quennar" -> "Quennar.exe" on
// Windows, unchanged elsewhere.
std::string executableName(std::string_view bareName);

}  // namespace common
