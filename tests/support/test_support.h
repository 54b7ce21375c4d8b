#pragma once
// Helpers of the updater tests: a scratch program folder, files, and zip
// archives built with libarchive's writer.
#include <archive.h>
#include <archive_entry.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/cp936.h"
#include "common/program_folder.h"

namespace testsupport {

namespace fs = std::filesystem;

// The test program's application, made at the first call as a
// QCoreApplication unless the program has made one already (a program with
// windows makes its QApplication first).
inline QCoreApplication& coreApp() {
  static int argc = 1;
  static char name[] = "velmora-test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  return *QCoreApplication::instance();
}

// Runs the event loop of the test's application until done() or the time is up.
inline bool spinUntil(const std::function<bool()>& done, int ms) {
  coreApp();
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A fresh folder that serves as the program folder while the object lives.
class ProgramFolder {
 public:
  ProgramFolder() {
    std::string pattern = (fs::temp_directory_path() / "quennar-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
    common::setProgramFolder(path_);
  }
  ~ProgramFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (fs::path(path_) / fs::u8path(name)).string(); }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A list or settings text (UTF-8 in the test) as the GBK bytes of the files.
// The lines of a text file (none when it cannot be read).
inline std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline std::string gbk(const std::string& utf8) { return common::toCp936(utf8); }

// An update list as a server sends it: GBK, a CR LF after every line.
inline std::string listText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return gbk(text);
}

inline bool exists(const std::string& path) { return fs::exists(path); }

struct ZipEntry {
  enum Kind { File, Folder, Symlink, Hardlink } kind = File;
  std::string name;
  std::string content;  // file content, or link target
};

inline void makeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) throw std::runtime_error("zip open");
  for (const ZipEntry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_perm(entry, 0644);
    switch (e.kind) {
      case ZipEntry::File:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
        break;
      case ZipEntry::Folder:
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, 0755);
        break;
      case ZipEntry::Symlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, e.content.c_str());
        break;
      case ZipEntry::Hardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink(entry, e.content.c_str());
        break;
    }
    archive_write_header(a, entry);
    if (e.kind == ZipEntry::File && !e.content.empty()) archive_write_data(a, e.content.data(), e.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
}

inline std::string zipBytes(const std::vector<ZipEntry>& entries, const std::string& scratchFolder) {
  const std::string p = (fs::path(scratchFolder) / ".scratch.zip").string();
  makeZip(p, entries);
  std::string bytes = readFile(p);
  fs::remove(p);
  return bytes;
}

}  // namespace testsupport
