#pragma once
// Unpacking a zip archive into a folder (the zip control's unzip operation).
//
// The archive comes from a server the program does not control, so every entry
// is checked before anything is written: an entry whose name is absolute, has a
// drive letter or a ".." step, or that is a link or a device, would land outside
// the folder or make it reach outside; such an archive is refused as a whole and
// nothing of it is extracted. Entry names with backslashes are taken as
// Windows-style paths.
#include <string>

namespace platform {

struct UnzipResult {
  // 0 exactly when every entry was extracted into the folder.
  int code = 0;
  // What went wrong, for the record ("" on success).
  std::string message;
  // The archive was refused for an unsafe entry (nothing was written).
  bool refused = false;
  int entries = 0;
};

// The result codes: 0 success; the others say why not.
enum UnzipCode { kUnzipOk = 0, kUnzipCannotOpen = 1, kUnzipCorrupt = 2, kUnzipUnsafeEntry = 3, kUnzipWriteFailed = 4 };

// Extracts archivePath into destFolder (which must exist). Existing files of the
// same names are replaced.
UnzipResult unzipArchive(const std::string& archivePath, const std::string& destFolder);

// True when name (an entry name of an archive) stays below the folder it is
// extracted into.
bool isSafeEntryName(const std::string& name);

}  // namespace platform
