#pragma once
// The system's one test of a file's presence: both programs ask it before they
// read, start or show a file.
#include <string>

namespace common {

// True when the file at path is a regular file that can be opened for reading,
// tested without blocking. Every failure is false: a missing file or folder, a
// folder, a FIFO, a socket or a device, "", a name with a NUL or one the file
// system refuses, a file the user may not read. Opens the file and closes it
// again; creates, changes and locks nothing.
bool canOpenForReading(const std::string& path);

}  // namespace common
