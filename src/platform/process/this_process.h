#pragma once
// The running process itself: who it runs as and the environment it passes on.
// The operating-system calls behind these sit in this_process.cpp alone.
#include <string>

namespace platform {

// A short text that tells the user this process runs as apart from the other
// users of the machine, the same in every process of that user (the decimal
// user id here); safe inside file and socket names.
std::string userKey();

// True when this process runs with the administrator's rights (the root user
// here).
bool runsAsAdministrator();

// Sets the environment variable name to value for this process and the
// programs it starts, unless name is already set (to anything, empty included):
// a value the user gave always wins. Call it before threads or engines that
// read the environment start.
void setEnvironmentDefault(const char* name, const char* value);

}  // namespace platform
