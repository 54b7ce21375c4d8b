#include "platform/zip/unzip.h"

#include <archive.h>
#include <archive_entry.h>
// POSIX per-thread locale (uselocale): a Windows port gives Utf8Names an empty body.
#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/program_folder.h"
#include "common/text_case.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr const char* kUnpackPrefix = ".unzip-";

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

ArchivePtr openZip(const std::string& path) {
  ArchivePtr a(archive_read_new());
  // The central directory must be there: an archive cut short is damaged,
  // even where the entries before the cut read well.
  archive_read_support_format_zip_seekable(a.get());
  // Names without the UTF-8 flag come from Chinese Windows tools.
  archive_read_set_format_option(a.get(), "zip", "hdrcharset", "CP936");
  if (archive_read_open_filename(a.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) return nullptr;
  return a;
}

std::string entryName(archive_entry* entry) {
  const char* utf8 = archive_entry_pathname_utf8(entry);
  if (utf8) return utf8;
  const char* raw = archive_entry_pathname(entry);
  return raw ? raw : "";
}

std::string normalised(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool isDirectoryName(const std::string& name) { return !name.empty() && normalised(name).back() == '/'; }

UnzipResult failure(UnzipResult r, int code, std::string message) {
  r.code = code;
  r.refused = code == kUnzipUnsafeEntry;
  r.message = std::move(message);
  return r;
}

std::string archiveError(archive* a) {
  const char* text = archive_error_string(a);
  return text ? text : "unknown error";
}

// What the reading loop hands each entry to. begin returns false (and sets
// why) when the entry cannot be taken; data and end return false on a write error.
struct EntrySink {
  std::function<bool(const std::string& name, bool folder, std::string& why)> begin;
  std::function<bool(const char* bytes, size_t size)> data;
  std::function<bool()> end;
};

// Entry names come out of libarchive in the character set of the current
// locale; a program started with no locale (C) would refuse every Chinese
// name. While it lives, this thread reads names as UTF-8, the file names of
// the program folder.
class Utf8Names {
 public:
  Utf8Names() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
    if (utf8_) previous_ = uselocale(utf8_);
  }
  ~Utf8Names() {
    if (!utf8_) return;
    uselocale(previous_);
    freelocale(utf8_);
  }

 private:
  locale_t utf8_ = nullptr;
  locale_t previous_ = nullptr;
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;
};

uint64_t expansionBound(const std::string& archivePath, const UnzipLimits& limits) {
  std::error_code ec;
  const uint64_t size = fs::file_size(archivePath, ec);
  uint64_t bound = limits.minAllowance;
  if (!ec) {
    const uint64_t cap = UINT64_MAX / std::max<uint64_t>(limits.maxExpansion, 1);
    bound = std::max(bound, std::min(size, cap) * limits.maxExpansion);
  }
  return limits.maxTotalBytes ? std::min(bound, limits.maxTotalBytes) : bound;
}

// Reads every entry of the archive to its end, checking names, kinds, sizes,
// checksums and the bound on the unpacked bytes.
UnzipResult readEntries(const std::string& archivePath, uint64_t bound, const EntrySink& sink,
                        const UnzipLimits& limits, const std::string& dest, common::FolderListings& destListings) {
  UnzipResult result;
  const Utf8Names names;
  ArchivePtr a = openZip(archivePath);
  if (!a) return failure(result, kUnzipCannotOpen, "cannot open archive");
  archive_entry* entry = nullptr;
  std::vector<char> block(64 * 1024);
  int r;
  while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
    const std::string name = entryName(entry);
    const auto type = archive_entry_filetype(entry);
    const bool isLink = archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
    if (!isSafeEntryName(name) || isLink || (type != AE_IFREG && type != AE_IFDIR))
      return failure(result, kUnzipUnsafeEntry, "unsafe entry refused: " + name);
    if (limits.refusedTarget && !dest.empty()) {
      const auto target = common::resolveIn(dest, normalised(name), destListings);
      if (!target || limits.refusedTarget(*target))
        return failure(result, kUnzipUnsafeEntry, "entry refused: " + name);
    }
    if (limits.keepGoing && !limits.keepGoing(result.bytes)) return failure(result, kUnzipCancelled, "unpacking stopped");
    ++result.entries;
    if (limits.maxEntries && static_cast<uint64_t>(result.entries) > limits.maxEntries)
      return failure(result, kUnzipTooLarge, "archive holds more than " + std::to_string(limits.maxEntries) + " entries");
    const uint64_t entryBound = limits.maxEntryBytes ? limits.maxEntryBytes : UINT64_MAX;
    const bool folder = type == AE_IFDIR || isDirectoryName(name);
    const bool sized = archive_entry_size_is_set(entry);
    const la_int64_t declared = archive_entry_size(entry);
    if (sized && (declared < 0 || static_cast<uint64_t>(declared) > bound - result.bytes))
      return failure(result, kUnzipTooLarge, "archive unpacks to more than " + std::to_string(bound) + " bytes");
    if (sized && static_cast<uint64_t>(declared) > entryBound)
      return failure(result, kUnzipTooLarge, "entry " + name + " unpacks to more than " + std::to_string(entryBound) + " bytes");
    std::string why;
    if (!sink.begin(name, folder, why)) return failure(result, kUnzipWriteFailed, why);
    uint64_t read = 0;
    for (;;) {
      const la_ssize_t n = archive_read_data(a.get(), block.data(), block.size());
      if (n == 0) break;
      if (n < 0) return failure(result, kUnzipCorrupt, "damaged entry " + name + ": " + archiveError(a.get()));
      read += static_cast<uint64_t>(n);
      result.bytes += static_cast<uint64_t>(n);
      if (result.bytes > bound)
        return failure(result, kUnzipTooLarge, "archive unpacks to more than " + std::to_string(bound) + " bytes");
      if (read > entryBound)
        return failure(result, kUnzipTooLarge, "entry " + name + " unpacks to more than " + std::to_string(entryBound) + " bytes");
      if (!sink.data(block.data(), static_cast<size_t>(n))) return failure(result, kUnzipWriteFailed, "cannot write " + name);
      if (limits.keepGoing && !limits.keepGoing(result.bytes))
        return failure(result, kUnzipCancelled, "unpacking stopped");
    }
    if (!sink.end()) return failure(result, kUnzipWriteFailed, "cannot write " + name);
    if (sized && read != static_cast<uint64_t>(declared))
      return failure(result, kUnzipCorrupt,
                     "damaged entry " + name + ": " + std::to_string(read) + " bytes instead of " + std::to_string(declared));
  }
  if (r != ARCHIVE_EOF) return failure(result, kUnzipCorrupt, "archive unreadable: " + archiveError(a.get()));
  return result;
}

// A new folder inside parent, removed with everything in it when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const fs::path& parent) {
    std::random_device random;
    for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
      const fs::path candidate = parent / (kUnpackPrefix + std::to_string(random() % 1000000000u));
      std::error_code ec;
      if (fs::create_directory(candidate, ec) && !ec) path_ = candidate;
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool isBelow(const fs::path& path, const fs::path& folder) {
  const std::string p = path.string();
  const std::string f = folder.string();
  return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && (p[f.size()] == '/' || p[f.size()] == '\\');
}

struct Move {
  std::string from;  // in the scratch folder
  std::string to;    // in the destination
  bool folder = false;
  bool whole = false;  // a folder dest lacks: moved with everything in it by one rename
};

// Where each extracted file and folder goes in dest, checked before anything
// moves: no file over a folder or folder over a file, nothing through a link
// that leads out of dest. Entries share a few folders: where each folder of
// dest really leads is found once for all of them.
bool planMoves(const fs::path& scratch, const fs::path& dest, common::FolderListings& destListings,
               std::vector<Move>& moves, std::string& why) {
  std::error_code ec;
  const std::string scratchName = common::lowerText(scratch.filename().string());
  const size_t prefix = scratch.native().size() + 1;
  std::unordered_map<std::string, bool> insideDest;  // a folder of dest as resolved -> it leads into dest
  for (fs::recursive_directory_iterator it(scratch, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string& from = it->path().native();
    const std::string rel = from.substr(prefix);
    if (common::lowerText(rel.substr(0, rel.find('/'))) == scratchName) {
      why = "entry named like the unpack folder: " + rel;
      return false;
    }
    auto target = common::resolveIn(dest.string(), rel, destListings);
    if (!target) {
      why = "entry leaves the folder: " + rel;
      return false;
    }
    std::error_code e2;
    Move m{from, std::move(*target), it->is_directory(e2)};
    const std::string parentName = fs::path(m.to).parent_path().native();
    auto [known, fresh] = insideDest.try_emplace(parentName, false);
    if (fresh) {
      const fs::path parent = fs::weakly_canonical(parentName, e2);
      known->second = !e2 && (parent == dest || isBelow(parent, dest));
    }
    if (!known->second) {
      why = "entry leaves the folder: " + rel;
      return false;
    }
    const auto status = fs::symlink_status(m.to, e2);
    if (fs::exists(status) && fs::is_directory(status) != m.folder) {
      why = (m.folder ? "a file is in the way of folder " : "a folder is in the way of file ") + m.to;
      return false;
    }
    // What lies below a folder that dest does not have yet meets nothing of
    // dest: no file, no link, no other letter case. It goes in one piece.
    if (m.folder && !fs::exists(status)) {
      m.whole = true;
      it.disable_recursion_pending();
    }
    moves.push_back(std::move(m));
  }
  if (ec) {
    why = "cannot read the unpack folder: " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

bool isUnpackFolderName(const std::string& name) {
  const std::string prefix = kUnpackPrefix;
  return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

bool isSafeEntryName(const std::string& name) {
  const std::string n = normalised(name);
  if (n.empty() || n.front() == '/') return false;
  if (n.find(':') != std::string::npos) return false;  // drive letters, alternate streams
  if (n.find('\0') != std::string::npos) return false;
  size_t start = 0;
  bool any = false;
  while (start <= n.size()) {
    size_t end = n.find('/', start);
    if (end == std::string::npos) end = n.size();
    const std::string part = n.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") any = true;
    start = end + 1;
  }
  return any;
}

UnzipResult checkArchive(const std::string& archivePath, const UnzipLimits& limits, const std::string& destFolder) {
  EntrySink sink;
  sink.begin = [](const std::string&, bool, std::string&) { return true; };
  sink.data = [](const char*, size_t) { return true; };
  sink.end = [] { return true; };
  common::FolderListings listings;
  return readEntries(archivePath, expansionBound(archivePath, limits), sink, limits, destFolder, listings);
}

UnzipResult readArchiveEntries(const std::string& archivePath, const UnzipLimits& limits,
                               const std::function<bool(const std::string& name)>& wanted,
                               std::map<std::string, std::string>& contents) {
  contents.clear();
  const uint64_t bound = expansionBound(archivePath, limits);
  std::string* current = nullptr;
  EntrySink sink;
  sink.begin = [&](const std::string& name, bool folder, std::string&) {
    current = !folder && wanted(normalised(name)) ? &contents[normalised(name)] : nullptr;
    if (current) current->clear();
    return true;
  };
  sink.data = [&](const char* bytes, size_t size) {
    if (current) current->append(bytes, size);
    return true;
  };
  sink.end = [&] {
    current = nullptr;
    return true;
  };
  common::FolderListings listings;
  UnzipResult result = readEntries(archivePath, bound, sink, limits, std::string(), listings);
  if (result.code != kUnzipOk) contents.clear();
  return result;
}

UnzipResult unzipArchive(const std::string& archivePath, const std::string& destFolder, const UnzipLimits& limits) {
  UnzipResult result;
  std::error_code ec;
  const fs::path dest = fs::weakly_canonical(fs::path(destFolder), ec);
  if (ec || !fs::is_directory(dest)) return failure(result, kUnzipWriteFailed, "destination folder missing: " + destFolder);
  if (!fs::exists(archivePath, ec)) return failure(result, kUnzipCannotOpen, "cannot open archive");

  uint64_t bound = expansionBound(archivePath, limits);
  uint64_t available = limits.availableBytes ? *limits.availableBytes : 0;
  if (!limits.availableBytes) {
    const fs::space_info space = fs::space(dest, ec);
    available = ec ? 0 : space.available;
  }
  bound = std::min(bound, available > limits.freeMargin ? available - limits.freeMargin : 0);

  ScratchFolder scratch(dest);
  if (scratch.path().empty()) return failure(result, kUnzipWriteFailed, "cannot make an unpack folder in " + dest.string());

  FilePtr out;
  EntrySink sink;
  common::FolderListings scratchListings, destListings;
  const fs::path scratchRoot = scratch.path();
  // Folders made in the scratch folder so far: most entries share their folder.
  std::unordered_set<std::string> scratchFolders;
  // Every folder and file made in the scratch folder, for the listings.
  auto made = [&](const fs::path& path) {
    std::vector<fs::path> chain;
    for (fs::path p = path; p != scratchRoot && isBelow(p, scratchRoot); p = p.parent_path()) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) scratchListings.added(it->string());
  };
  sink.begin = [&](const std::string& name, bool folder, std::string& why) {
    // Resolved inside the scratch folder too: two entries whose names differ
    // only in letter case are one file, as where the archive was made.
    const auto target = common::resolveIn(scratchRoot.string(), normalised(name), scratchListings);
    std::error_code e;
    if (!target) {
      why = "entry leaves the folder: " + name;
      return false;
    }
    const fs::path t(*target);
    const fs::path where = folder ? t : t.parent_path();
    if (!scratchFolders.count(where.native())) {
      fs::create_directories(where, e);
      if (e) {
        why = "cannot create folder for " + name + ": " + e.message();
        return false;
      }
      made(where);
      scratchFolders.insert(where.native());
    }
    if (folder) return true;
    out.reset(std::fopen(t.c_str(), "wb"));
    if (!out) why = "cannot write " + name;
    else made(t);
    return out != nullptr;
  };
  sink.data = [&](const char* bytes, size_t size) { return !out || std::fwrite(bytes, 1, size, out.get()) == size; };
  sink.end = [&] {
    if (!out) return true;
    return std::fclose(out.release()) == 0;
  };
  result = readEntries(archivePath, bound, sink, limits, dest.string(), destListings);
  out.reset();
  if (result.code != kUnzipOk) return result;

  std::vector<Move> moves;
  std::string why;
  if (!planMoves(scratch.path(), dest, destListings, moves, why)) return failure(result, kUnzipWriteFailed, why);
  std::unordered_set<std::string> destFolders;  // made or found in dest by the moves so far
  auto ensureFolder = [&](const std::string& f) {
    if (destFolders.count(f)) return;
    fs::create_directories(f, ec);
    if (!ec) destFolders.insert(f);
  };
  for (const Move& m : moves) {
    ec.clear();
    if (m.whole) {
      ensureFolder(fs::path(m.to).parent_path().native());
      if (!ec) fs::rename(m.from, m.to, ec);
      if (!ec) destFolders.insert(m.to);
    } else if (m.folder) {
      ensureFolder(m.to);
    } else {
      ensureFolder(fs::path(m.to).parent_path().native());
      if (!ec) fs::rename(m.from, m.to, ec);
    }
    if (ec) return failure(result, kUnzipWriteFailed, "cannot put " + m.to + " in place: " + ec.message());
  }
  return result;
}

}  // namespace platform
