#pragma once
#include <string>
#include <string_view>

namespace common {

// Replaces the file at path with bytes: written to a temporary file in the same
// folder, flushed to disk, then renamed over the old file. A crash or a full
// disk never leaves a half-written file. Returns false (and leaves any old file
// untouched) when the write failed; error, when given, receives the reason.
bool writeFileAtomic(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The same for a writer that streams (the spreadsheet library, the CSV and PDF
// writers): it writes to tempPath(), a fresh file beside the target, and
// commit() renames it over the target. A pending file that is not committed
// (cancelled, failed, an exception) is removed when it goes out of scope, so
// no half file is left under either name.
class PendingFile {
 public:
  // Reserves a new temporary file in the target's folder ("NAME.part-XXXXXX").
  // ok() is false (and error() says why) when the folder is not writable.
  explicit PendingFile(std::string target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool ok() const { return !temp_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& tempPath() const { return temp_; }

  // Renames the temporary file over the target. False (the temporary file
  // removed, the target untouched) when that fails.
  bool commit();

 private:
  std::string target_;
  std::string temp_;
  std::string error_;
  bool committed_ = false;
};


}  // namespace common
