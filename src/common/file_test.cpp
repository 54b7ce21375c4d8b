#include "common/file_test.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace common {

bool canOpenForReading(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::error_code ec;
  // A folder can be opened on some systems, but it is no file.
  if (std::filesystem::is_directory(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

}  // namespace common
