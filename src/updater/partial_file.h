#pragma once
// A file being downloaded. It is written under its own (temporary) name and
// removed again unless the download is kept: a failed, cancelled or abandoned
// transfer leaves nothing behind, whoever ends it. The handle closes itself.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace updater {

// The name a download of target is written under until it is complete: a
// hidden file beside it (".NAME.download").
std::string downloadName(const std::string& target);

// What runs killed in the middle of their work left below folder: partial
// downloads (downloadName) and unpack folders (platform::isUnpackFolderName).
// Links are not followed, and nothing inside such a leftover is listed.
std::vector<std::string> leftoversIn(const std::string& folder);

class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile() { discard(); }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // Creates (or empties) the file at path; false when it cannot be written.
  [[nodiscard]] bool open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  int64_t size() const { return size_; }

  // Appends bytes; false when the disk refused them (the file stays open until
  // discarded).
  [[nodiscard]] bool write(std::string_view bytes);
  // Closes the file and flushes it. False when the last bytes could not be
  // written; the file is then removed.
  [[nodiscard]] bool close();
  // Gives the closed file up to the caller: it is no longer removed.
  std::string keep();
  // Moves the closed file to target (replacing a file there); the error, if
  // any. On success the file is the caller's; on failure it is removed.
  std::error_code keepAs(const std::string& target);
  // Closes the file if open and removes it. Nothing to do after keep().
  void discard();

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;  // empty: nothing to remove
  int64_t size_ = 0;
};

}  // namespace updater
