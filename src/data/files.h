#pragma once
// The file test every part of the main program asks before it uses a file, and
// the cell icons drawn from the folder "\图标\" of the program folder.
#include <string>

#include "platform/grid/vsflexgrid.h"

namespace data {

// True when the file can be opened for reading; every failure (missing file or
// folder, a folder, "", a name the file system refuses, no permission) is false.
// Creates, changes and locks nothing.
bool fileexists(const std::string& path);

// A file of the program folder named Windows-style ("\web\a.htm", "ico.ico"):
// the file itself when fileexists says so, otherwise the one whose name
// differs only in letter case in any of its parts (names from the databases
// and from MainPro.ini were written for a file system that ignores case).
// "" when there is none.
std::string findProgramFile(const std::string& name);

// The path of an icon: program folder + "\图标\" + name + ".bmp" (native form).
std::string iconPath(const std::string& iconName);

// Puts the icon named iconName into cell (row, col). An empty name does
// nothing (the icon folder is not consulted); a missing icon file leaves the
// cell unchanged. A bitmap that cannot be loaded, or a cell outside the grid,
// throws.
void setcellicon(platform::VSFlexGrid& grid, int row, int col, const std::string& iconName);

}  // namespace data
