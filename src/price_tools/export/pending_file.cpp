#include "price_tools/export/pending_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace price_tools::exporting {

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

}  // namespace price_tools::exporting
