#pragma once
#include <string>
#include <string_view>

namespace common {

// Replaces the file at path with bytes: written to a temporary file in the same
// folder, flushed to disk, then renamed over the old file. A crash or a full
// disk never leaves a half-written file. Returns false (and leaves any old file
// untouched) when the write failed; error, when given, receives the reason.
[[nodiscard]] bool writeFileAtomic(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Why a file the user named for an export must not be put at `path`, "" when
// it may. An export writes a new file or replaces a regular file of its own
// kind, never
//   - anything but a regular file (a folder, a device, a FIFO, a socket),
//     also when `path` is a symbolic link to it;
//   - a library or a project database: a name ending in ".zdj" or ".mdb" in
//     any letter case, or a file that holds a Jet or ACE database, whatever
//     its name;
//   - a file this program has open (the library cache's entries, the log,
//     anything held by a descriptor).
// Looked at without opening anything that could block.
std::string exportTargetRefusal(const std::string& path);

// The same for a writer that streams (the spreadsheet library, the CSV and PDF
// writers): it writes to tempPath(), a fresh file beside the target, and
// commit() renames it over the target. A pending file that is not committed
// (cancelled, failed, an exception) is removed when it goes out of scope, so
// no half file is left under either name.
//
// The target is held to exportTargetRefusal when the pending file is made and
// again at commit(). Bytes may also be written through write() (the PDF
// writer's device does): a write that failed once is remembered, and commit()
// then refuses. commit() flushes the file to disk before the rename, so an
// error the system reports only then (a full disk) is a failed export too.
class PendingFile {
 public:
  // Reserves a new temporary file in the target's folder ("NAME.part-XXXXXX").
  // ok() is false (and error() says why) when the target is refused or the
  // folder is not writable.
  explicit PendingFile(std::string target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool ok() const { return !temp_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& tempPath() const { return temp_; }
  const std::string& target() const { return target_; }

  // Appends bytes to the temporary file. False (and remembered) when they
  // could not all be written.
  [[nodiscard]] bool write(const char* data, std::size_t size);
  bool writeFailed() const { return writeFailed_; }

  // Renames the temporary file over the target. False (the temporary file
  // removed, the target untouched) when that fails or a write failed.
  [[nodiscard]] bool commit();

 private:
  void discard();

  std::string target_;
  std::string temp_;
  std::string error_;
  int fd_ = -1;  // the temporary file, for write()
  bool writeFailed_ = false;
  bool committed_ = false;
};


}  // namespace common
