#include "common/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

// POSIX file calls: a Windows port replaces this file (MoveFileEx with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH in place of rename).
#include <dirent.h>
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

namespace {

bool endsWithIgnoringCase(const std::string& s, std::string_view ending) {
  if (s.size() < ending.size()) return false;
  for (size_t i = 0; i < ending.size(); ++i) {
    char c = s[s.size() - ending.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ending[i]) return false;
  }
  return true;
}

bool databaseName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  return endsWithIgnoringCase(name, ".zdj") || endsWithIgnoringCase(name, ".mdb");
}

// Whether one of this process's descriptors is open on the file `st` names.
// (Linux: /proc/self/fd; a port lists its handles or keeps a table of the
// files the program opened.)
bool openHere(const struct stat& st) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return false;
  const int own = dirfd(dir);
  bool found = false;
  while (const dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end || fd == own) continue;
    struct stat o {};
    if (fstat(static_cast<int>(fd), &o) == 0 && o.st_dev == st.st_dev && o.st_ino == st.st_ino) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

// A Jet 3/4 or ACE database begins with 00 01 00 00 and its kind.
bool holdsDatabase(const std::string& path, const struct stat& st) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat o {};
  char head[19] = {};
  const bool same = fstat(fd, &o) == 0 && S_ISREG(o.st_mode) && o.st_dev == st.st_dev && o.st_ino == st.st_ino;
  const bool read = same && pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head);
  close(fd);
  if (!read || std::memcmp(head, "\x00\x01\x00\x00", 4) != 0) return false;
  return std::memcmp(head + 4, "Standard Jet DB", 15) == 0 || std::memcmp(head + 4, "Standard ACE DB", 15) == 0;
}

std::string errnoText() { return std::strerror(errno); }

}  // namespace

std::string exportTargetRefusal(const std::string& path) {
  if (databaseName(path)) return path + " is a library or a project database; an export never replaces one";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "";  // a new file (or one the write will fail on)
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    if (!ec && databaseName(real.string()))
      return path + " leads to a library or a project database; an export never replaces one";
  }
  if (!S_ISREG(st.st_mode)) return path + " is not a regular file; an export writes only regular files";
  if (openHere(st)) return path + " is open in this program; an export never replaces it";
  if (holdsDatabase(path, st)) return path + " is a database; an export never replaces one";
  return "";
}

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  error_ = exportTargetRefusal(target_);
  if (!error_.empty()) return;
  std::string tmpl = target_ + ".part-XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    error_ = "cannot create a file beside " + target_ + ": " + errnoText();
    return;
  }
  // mkstemp makes the file private; an export is an ordinary file of the user.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  fd_ = fd;
  temp_ = tmpl;
}

PendingFile::~PendingFile() {
  if (!committed_) discard();
}

void PendingFile::discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

bool PendingFile::write(const char* data, std::size_t size) {
  if (fd_ < 0 || writeFailed_) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeFailed_ = true;
      error_ = "cannot write " + temp_ + ": " + (n < 0 ? errnoText() : std::string("nothing written"));
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool PendingFile::commit() {
  if (temp_.empty()) return false;
  auto fail = [&](const std::string& why) {
    error_ = why;
    discard();
    return false;
  };
  if (writeFailed_) return fail(error_);
  // The writers have closed their own streams; what the system still holds
  // is flushed here, and an error it reports now fails the export.
  if (fsync(fd_) != 0) return fail("cannot write " + target_ + ": " + errnoText());
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return fail("cannot write " + target_ + ": " + errnoText());
  // The target may have changed since the export began.
  if (const std::string refused = exportTargetRefusal(target_); !refused.empty()) return fail(refused);
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) return fail("cannot write " + target_ + ": " + errnoText());
  committed_ = true;
  return true;
}

}  // namespace common
