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

// A file of the program folder named Windows-style ("\web\a.htm", "ico.ico"),
// found in any letter case by common::resolveInProgramFolder (names from the
// databases and from MainPro.ini were written for a file system that ignores
// case): the path when fileexists says so; "" when there is none or the name
// would leave the folder ("..", a drive letter).
std::string findProgramFile(const std::string& name);

// A file of the program folder as its name lies there: `file` found in any
// letter case (findProgramFile), given back as the found file's own name
// ("x.ZDJ" for "x.zdj"); `file` itself when there is none.
std::string storedFileName(const std::string& file);

// The file of a library: NAME.zdj as it lies in the program folder. A name
// that already ends in ".zdj" (the whole file name, where two libraries'
// names differ only in letter case) is its own file when NAME.zdj is not
// there. A library without a file gives NAME.zdj.
std::string libraryFileName(const std::string& name);

// The path of an icon: program folder + "\图标\" + name + ".bmp" (native form).
std::string iconPath(const std::string& iconName);

// Puts the icon named iconName into cell (row, col), its file found in any
// letter case (findProgramFile). An empty name does nothing (the icon folder is
// not consulted); a missing icon file leaves the cell unchanged. A bitmap that cannot be loaded, or a cell outside the grid,
// throws.
void setcellicon(platform::VSFlexGrid& grid, int row, int col, const std::string& iconName);

}  // namespace data
