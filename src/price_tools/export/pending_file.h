#pragma once
// A file that appears under its name only when it is complete. A writer that
// streams (the spreadsheet library, the CSV and PDF writers) writes to
// tempPath(), a fresh file beside the target; commit() renames it over the
// target. A pending file that is not committed (cancelled, failed, an
// exception) is removed when it goes out of scope, so no half file is left
// under either name.
#include <string>

namespace price_tools::exporting {

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

}  // namespace price_tools::exporting
