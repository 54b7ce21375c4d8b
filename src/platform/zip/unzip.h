#pragma once
// Unpacking a zip archive into a folder (the zip control's unzip operation).
//
// The archive comes from a server the program does not control, so nothing is
// written into the folder before the whole archive has been read and checked:
// - every entry must be a file or a folder whose name stays below the folder
//   (no absolute name, drive letter, ".." step, link or device); otherwise the
//   archive is refused as a whole;
// - every entry is read to its end into a temporary folder made inside the
//   destination (same disk, inside the program folder), so that libarchive
//   checks its checksum, and the bytes read must match the size the archive
//   states; a damaged or truncated archive changes nothing;
// - the unpacked size is bounded (UnzipLimits), against archives that expand
//   a thousandfold and against filling the disk.
// Only then are the files moved into place, each by a rename. Entry names with
// backslashes are taken as Windows-style paths; archives were made for a file
// system that ignores letter case, so an entry replaces an existing file or
// folder whatever the letter case of its name (common::resolveIn). Each
// folder is listed once for all entries (common::FolderListings) and looked
// at once for where it leads, so the time grows with the number of entries,
// not with its square; a folder the destination does not have yet is moved
// into place whole, by one rename.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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
  uint64_t bytes = 0;  // unpacked bytes read
};

// The result codes: 0 success; the others say why not.
enum UnzipCode {
  kUnzipOk = 0,
  kUnzipCannotOpen = 1,
  kUnzipCorrupt = 2,  // unreadable, checksum or size wrong, truncated
  kUnzipUnsafeEntry = 3,
  kUnzipWriteFailed = 4,
  kUnzipTooLarge = 5,  // past the expansion bound or the free space
  kUnzipCancelled = 6,  // keepGoing said stop; nothing was moved
};

// How much an archive may unpack to: at most maxExpansion bytes for every byte
// of the archive (but minAllowance whatever its size), and never more than
// the free space of the destination's disk less freeMargin. Real update
// archives (pages, libraries, databases with empty pages) expand up to some
// tens of times; 200 leaves room for them and stops a thousandfold bomb early.
struct UnzipLimits {
  uint64_t maxExpansion = 200;
  uint64_t minAllowance = uint64_t{1} << 20;
  uint64_t freeMargin = uint64_t{64} << 20;
  // The destination disk's free space; measured when not given.
  std::optional<uint64_t> availableBytes;
  // Bounds for archives read by a reader rather than unpacked (a workbook),
  // held by every function here alike: at most maxEntries entries, no entry
  // over maxEntryBytes and all of them together not over maxTotalBytes
  // unpacked. 0: no bound of that kind.
  uint64_t maxEntries = 0;
  uint64_t maxEntryBytes = 0;
  uint64_t maxTotalBytes = 0;
  // An entry whose place in the destination (native path, resolved as it
  // would be written) this refuses makes the whole archive unsafe: the files
  // of the program that unpacks it, for instance.
  std::function<bool(const std::string& target)> refusedTarget;
  // Called between entries and between blocks of an entry, with the unpacked
  // bytes so far; false stops the unpacking before anything was moved
  // (kUnzipCancelled). The caller's window can process its events here.
  std::function<bool(uint64_t bytes)> keepGoing;
};

// Extracts archivePath into destFolder (which must exist). Existing files of the
// same names are replaced; nothing changes unless every entry was read whole.
UnzipResult unzipArchive(const std::string& archivePath, const std::string& destFolder,
                         const UnzipLimits& limits = {});

// Reads every entry of the archive to its end with the checks above (names,
// kinds, sizes, checksums, the expansion bound), writing nothing. 0 when
// unzipArchive would find nothing wrong with the archive itself. destFolder,
// when given, is where it would be unpacked (for limits.refusedTarget).
UnzipResult checkArchive(const std::string& archivePath, const UnzipLimits& limits = {},
                         const std::string& destFolder = {});

// True when name (a file name, no folder) is that of the temporary folder an
// unpacking makes in its destination (".unzip-" and digits). One that is
// left over was left by a process that died while it unpacked.
bool isUnpackFolderName(const std::string& name);

// Reads every entry with the same checks, writing nothing, and keeps in
// `contents` the whole bytes of the entries `wanted` accepts (by their names,
// '/'-separated, as stored). On any fault `contents` is left empty.
UnzipResult readArchiveEntries(const std::string& archivePath, const UnzipLimits& limits,
                               const std::function<bool(const std::string& name)>& wanted,
                               std::map<std::string, std::string>& contents);

// True when name (an entry name of an archive) stays below the folder it is
// extracted into.
bool isSafeEntryName(const std::string& name);

}  // namespace platform
