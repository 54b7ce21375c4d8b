#include "common/file_test.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

bool canOpenForReading(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  // Only a regular file counts: a folder, a FIFO, a socket or a device is no
  // file to read (and opening a FIFO for reading would wait for a writer).
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Opened without waiting, should the name have been replaced meanwhile by
  // something that waits, and tested again on what was opened.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

}  // namespace common
