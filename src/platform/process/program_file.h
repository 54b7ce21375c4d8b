#pragma once
// What counts as a program: a file the system may start as one, never a
// document to hand to the desktop's opener.
#include <string>

namespace platform {

// True when path is a regular file that is an ELF executable or a script
// starting with "#!". Read without blocking (a FIFO is no program).
bool isProgramFile(const std::string& path);

// Starts path detached when it is a program (isProgramFile), giving it the
// owner's execute bit first when it lacks one (an unpacked or downloaded
// program has none). Anything else is refused: false, nothing started.
// hidden as for startProgram.
bool startOnlyProgram(const std::string& path, bool hidden = false);

}  // namespace platform
