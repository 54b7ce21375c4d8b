#include "platform/zip/unzip.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

ArchivePtr openZip(const std::string& path) {
  ArchivePtr a(archive_read_new());
  archive_read_support_format_zip(a.get());
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

}  // namespace

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

UnzipResult unzipArchive(const std::string& archivePath, const std::string& destFolder) {
  UnzipResult result;
  std::error_code ec;
  const fs::path dest = fs::weakly_canonical(fs::path(destFolder), ec);
  if (ec || !fs::is_directory(dest)) {
    result.code = kUnzipWriteFailed;
    result.message = "destination folder missing: " + destFolder;
    return result;
  }

  // First pass: every entry must be a file or a folder with a safe name, and the
  // archive must read to its end.
  {
    ArchivePtr a = openZip(archivePath);
    if (!a) {
      result.code = kUnzipCannotOpen;
      result.message = "cannot open archive";
      return result;
    }
    archive_entry* entry = nullptr;
    int r;
    while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
      const std::string name = entryName(entry);
      const auto type = archive_entry_filetype(entry);
      const bool isLink = archive_entry_hardlink(entry) != nullptr || archive_entry_symlink(entry) != nullptr;
      if (!isSafeEntryName(name) || isLink || (type != AE_IFREG && type != AE_IFDIR)) {
        result.code = kUnzipUnsafeEntry;
        result.refused = true;
        result.message = "unsafe entry refused: " + name;
        return result;
      }
      ++result.entries;
      if (archive_read_data_skip(a.get()) != ARCHIVE_OK) {
        r = ARCHIVE_FATAL;
        break;
      }
    }
    if (r != ARCHIVE_EOF) {
      result.code = kUnzipCorrupt;
      result.message = std::string("archive unreadable: ") + (archive_error_string(a.get()) ? archive_error_string(a.get()) : "");
      return result;
    }
  }

  // Second pass: extract.
  ArchivePtr a = openZip(archivePath);
  if (!a) {
    result.code = kUnzipCannotOpen;
    result.message = "cannot open archive";
    return result;
  }
  archive_entry* entry = nullptr;
  int r;
  std::vector<char> block(64 * 1024);
  while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
    const std::string name = normalised(entryName(entry));
    const fs::path target = dest / fs::u8path(name);
    // An existing link inside the folder must not carry the entry outside it.
    const fs::path parent = fs::weakly_canonical(target.parent_path(), ec);
    const std::string destText = dest.string();
    const std::string parentText = parent.string();
    if (ec || parentText.compare(0, destText.size(), destText) != 0 ||
        (parentText.size() > destText.size() && parentText[destText.size()] != '/')) {
      result.code = kUnzipUnsafeEntry;
      result.refused = true;
      result.message = "entry leaves the folder: " + name;
      return result;
    }
    if (archive_entry_filetype(entry) == AE_IFDIR || isDirectoryName(name)) {
      fs::create_directories(target, ec);
      if (ec) {
        result.code = kUnzipWriteFailed;
        result.message = "cannot create folder " + target.string();
        return result;
      }
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    if (fs::is_symlink(target, ec)) fs::remove(target, ec);
    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (!out) {
      result.code = kUnzipWriteFailed;
      result.message = "cannot write " + target.string();
      return result;
    }
    bool ok = true;
    for (;;) {
      const la_ssize_t n = archive_read_data(a.get(), block.data(), block.size());
      if (n == 0) break;
      if (n < 0 || std::fwrite(block.data(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
        ok = false;
        break;
      }
    }
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
      result.code = kUnzipCorrupt;
      result.message = "cannot extract " + name;
      return result;
    }
  }
  if (r != ARCHIVE_EOF) {
    result.code = kUnzipCorrupt;
    result.message = "archive unreadable";
  }
  return result;
}

}  // namespace platform
