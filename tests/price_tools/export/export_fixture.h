#pragma once
// What the export tests share: the program's QGuiApplication, a scratch
// folder of their own, and the output of a command (unzip, pdftotext, the
// command-line tool).
#include <QGuiApplication>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>

namespace export_fixture {

inline void app() {
  static int argc = 1;
  static char name[] = "price_export_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* a = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
  (void)a;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::random_device rd;
    path = std::filesystem::temp_directory_path() / ("velmora-export-" + std::to_string(rd()));
    std::filesystem::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return (path / name).string(); }
  size_t count() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path), {}));
  }
};

inline std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace export_fixture
