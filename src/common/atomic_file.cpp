#include "common/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

// POSIX file calls: a Windows port replaces this file (MoveFileEx with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH in place of rename).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

bool writeFileAtomic(const std::string& path, std::string_view bytes, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  std::string tmpl = path + ".XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return fail("cannot create a file beside " + path + ": " + std::strerror(errno));
  auto abandon = [&](const char* what) {
    std::string reason = std::string(what) + " " + tmpl + ": " + std::strerror(errno);
    close(fd);
    unlink(tmpl.c_str());
    return fail(reason);
  };
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return abandon("cannot write");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // Keep the permissions of the file being replaced; new files get the usual 0644.
  struct stat old {};
  mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (fchmod(fd, mode) != 0) return abandon("cannot set permissions of");
  if (fsync(fd) != 0) return abandon("cannot flush");
  if (close(fd) != 0) {
    unlink(tmpl.c_str());
    return fail("cannot close " + tmpl);
  }
  if (std::rename(tmpl.c_str(), path.c_str()) != 0) {
    std::string reason = "cannot replace " + path + ": " + std::strerror(errno);
    unlink(tmpl.c_str());
    return fail(reason);
  }
  return true;
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  std::string tmpl = target_ + ".part-XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    error_ = "cannot create a file beside " + target_ + ": " + std::strerror(errno);
    return;
  }
  // mkstemp makes the file private; an export is an ordinary file of the user.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temp_ = tmpl;
}

PendingFile::~PendingFile() {
  if (!committed_ && !temp_.empty()) std::remove(temp_.c_str());
}

bool PendingFile::commit() {
  if (temp_.empty()) return false;
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    error_ = "cannot write " + target_ + ": " + std::strerror(errno);
    std::remove(temp_.c_str());
    temp_.clear();
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace common
