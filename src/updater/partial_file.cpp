#include "updater/partial_file.h"

#include <filesystem>

#include "platform/zip/unzip.h"

namespace fs = std::filesystem;

namespace updater {

namespace {
constexpr const char* kDownloadSuffix = ".download";
}  // namespace

std::string downloadName(const std::string& target) {
  const fs::path t(target);
  return (t.parent_path() / ("." + t.filename().string() + kDownloadSuffix)).string();
}

std::vector<std::string> leftoversIn(const std::string& folder) {
  std::vector<std::string> found;
  const std::string suffix = kDownloadSuffix;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e;
    const bool isFolder = it->is_directory(e) && !it->is_symlink(e);
    const bool download = !isFolder && name.size() > suffix.size() + 1 && name.front() == '.' &&
                          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    const bool unpack = isFolder && platform::isUnpackFolderName(name);
    if (download || unpack) found.push_back(it->path().string());
    if (unpack) it.disable_recursion_pending();
  }
  return found;
}

bool PartialFile::open(const std::string& path) {
  discard();
  path_ = path;
  size_ = 0;
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_) path_.clear();  // nothing was created
  return file_ != nullptr;
}

bool PartialFile::write(std::string_view bytes) {
  if (!file_) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) return false;
  size_ += static_cast<int64_t>(bytes.size());
  return true;
}

bool PartialFile::close() {
  if (!file_) return !path_.empty();
  const bool ok = std::fclose(file_.release()) == 0;
  if (!ok) discard();
  return ok;
}

std::string PartialFile::keep() {
  // A file whose last bytes could not be written is already gone.
  if (!close()) return std::string();
  std::string path;
  path.swap(path_);
  return path;
}

std::error_code PartialFile::keepAs(const std::string& target) {
  std::error_code ec;
  if (!close()) return std::make_error_code(std::errc::io_error);
  fs::rename(path_, target, ec);
  if (ec) discard();
  else path_.clear();
  return ec;
}

void PartialFile::discard() {
  file_.reset();
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove(path_, ec);
  path_.clear();
}

}  // namespace updater
