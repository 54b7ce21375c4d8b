#include "common/program_folder.h"

#include <filesystem>
#include <system_error>

namespace common {
namespace {

std::string& overriddenFolder() {
  static std::string folder;
  return folder;
}

std::string stripTrailingSeparators(std::string s) {
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
  return s;
}

}  // namespace

std::string programFolder() {
  if (!overriddenFolder().empty()) return overriddenFolder();
  static const std::string detected = [] {
    std::error_code ec;
#if defined(_WIN32)
    return std::filesystem::current_path(ec).string();
#else
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return stripTrailingSeparators(std::filesystem::current_path(ec).string());
    return stripTrailingSeparators(exe.parent_path().string());
#endif
  }();
  return detected;
}

void setProgramFolder(const std::string& folder) {
  overriddenFolder() = folder.empty() ? std::string() : stripTrailingSeparators(nativePath(folder));
}

std::string nativePath(std::string_view name) {
  std::string out(name);
#if !defined(_WIN32)
  for (char& c : out)
    if (c == '\\') c = '/';
#endif
  return out;
}

std::string inProgramFolder(std::string_view name) {
  std::string rest = nativePath(name);
  size_t start = rest.find_first_not_of("/\\");
  rest = start == std::string::npos ? std::string() : rest.substr(start);
#if defined(_WIN32)
  return programFolder() + "\\" + rest;
#else
  return programFolder() + "/" + rest;
#endif
}

std::string executableName(std::string_view bareName) {
#if defined(_WIN32)
  return std::string(bareName) + ".exe";
#else
  return std::string(bareName);
#endif
}

}  // namespace common
