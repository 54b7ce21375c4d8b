// Whether a file is a program, read without blocking, and its start; the
// rest of process.h is in process.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/process/process.h"

namespace platform {

bool isProgramFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  char head[4] = {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t got = regular ? ::pread(fd, head, sizeof head, 0) : -1;
  ::close(fd);
  if (got >= 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0) return true;
  return got >= 2 && head[0] == '#' && head[1] == '!';
}

bool startProgramFile(const std::string& path, bool hidden) {
  if (!isProgramFile(path)) return false;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (!(st.st_mode & S_IXUSR) && ::chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0) return false;
  return startProgram(path, hidden);
}

}  // namespace platform
