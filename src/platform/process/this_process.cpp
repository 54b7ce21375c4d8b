#include "platform/process/this_process.h"

#include <cstdlib>

// POSIX calls: a Windows port replaces this file (the user's SID in place of
// getuid, an elevated token in place of geteuid, _putenv_s in place of setenv).
#include <unistd.h>

namespace platform {

std::string userKey() { return std::to_string(static_cast<unsigned long>(::getuid())); }

bool runsAsAdministrator() { return ::geteuid() == 0; }

void setEnvironmentDefault(const char* name, const char* value) {
  if (!std::getenv(name)) ::setenv(name, value, 1);
}

}  // namespace platform
