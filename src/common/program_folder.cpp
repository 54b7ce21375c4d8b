#include "common/program_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/text_case.h"

// POSIX paths: a Windows port replaces kSeparator, nativePath(), the detection in
// programFolder() (GetModuleFileNameW) and executableName() (adds ".exe").

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

constexpr char kSeparator = '/';

std::string joined(const std::string& folder, const std::string& part) {
  if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) return folder + part;
  return folder + kSeparator + part;
}

// The components of a name; false when one of them could leave the folder.
bool nameParts(std::string_view name, std::vector<std::string>& parts) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") return false;
    if (part.find(':') != std::string_view::npos || part.find('\0') != std::string_view::npos) return false;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  return true;
}

}  // namespace

struct FolderListingsAccess {
  // The listing of folder, read on first use.
  static const std::unordered_map<std::string, std::vector<std::string>>& listing(FolderListings& l,
                                                                                 const std::string& folder) {
    auto [it, fresh] = l.folders_.try_emplace(folder);
    if (fresh) {
      std::error_code ec;
      for (std::filesystem::directory_iterator d(folder, ec), end; !ec && d != end; d.increment(ec)) {
        std::string entry = d->path().filename().string();
        it->second[lowerText(entry)].push_back(std::move(entry));
      }
    }
    return it->second;
  }
  static void added(FolderListings& l, const std::string& path) {
    const std::filesystem::path p(path);
    auto it = l.folders_.find(p.parent_path().string());
    if (it == l.folders_.end()) return;  // read when first needed
    const std::string name = p.filename().string();
    std::vector<std::string>& names = it->second[lowerText(name)];
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
};

void FolderListings::added(const std::string& path) { FolderListingsAccess::added(*this, path); }

namespace {

// Entries of folder whose names equal part in another letter case, in byte
// order; from listings when given, else from the folder itself.
std::vector<std::string> caseVariants(const std::string& folder, const std::string& part, FolderListings* listings) {
  std::vector<std::string> found;
  const std::string lowered = lowerText(part);
  if (listings) {
    const auto& listing = FolderListingsAccess::listing(*listings, folder);
    if (const auto it = listing.find(lowered); it != listing.end())
      for (const std::string& entry : it->second)
        if (entry != part) found.push_back(entry);
  } else {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string entry = it->path().filename().string();
      if (entry != part && lowerText(entry) == lowered) found.push_back(std::move(entry));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

struct Walk {
  std::string path;
  bool complete = false;  // every component exists
};

// Follows parts[k...] down from folder: the exact spelling first, then the other
// spellings; the first under which the whole rest exists wins, otherwise the
// first one tried. budget bounds the search in a folder full of case twins.
Walk walk(const std::string& folder, const std::vector<std::string>& parts, size_t k, int& budget,
          FolderListings* listings) {
  if (k == parts.size()) return {folder, true};
  std::optional<Walk> first;
  const std::string exact = joined(folder, parts[k]);
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) {
    Walk w = walk(exact, parts, k + 1, budget, listings);
    if (w.complete) return w;
    first = std::move(w);
  }
  if (--budget >= 0) {
    for (const std::string& other : caseVariants(folder, parts[k], listings)) {
      Walk w = walk(joined(folder, other), parts, k + 1, budget, listings);
      if (w.complete) return w;
      if (!first) first = std::move(w);
      if (budget < 0) break;
    }
  }
  if (first) return *first;
  std::string path = folder;
  for (size_t i = k; i < parts.size(); ++i) path = joined(path, parts[i]);
  return {path, false};
}

}  // namespace

namespace {

std::optional<std::string> resolve(const std::string& folder, std::string_view name, FolderListings* listings) {
  std::vector<std::string> parts;
  if (!nameParts(name, parts)) return std::nullopt;
  int budget = 256;
  return walk(stripTrailingSeparators(nativePath(folder)), parts, 0, budget, listings).path;
}

}  // namespace

std::optional<std::string> resolveIn(const std::string& folder, std::string_view name) {
  return resolve(folder, name, nullptr);
}

std::optional<std::string> resolveIn(const std::string& folder, std::string_view name, FolderListings& listings) {
  return resolve(folder, name, &listings);
}

std::optional<std::string> resolveInProgramFolder(std::string_view name) { return resolveIn(programFolder(), name); }

std::string programFolder() {
  if (!overriddenFolder().empty()) return overriddenFolder();
  static const std::string detected = [] {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return stripTrailingSeparators(std::filesystem::current_path(ec).string());
    return stripTrailingSeparators(exe.parent_path().string());
  }();
  return detected;
}

void setProgramFolder(const std::string& folder) {
  overriddenFolder() = folder.empty() ? std::string() : stripTrailingSeparators(nativePath(folder));
}

std::string nativePath(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string inProgramFolder(std::string_view name) {
  std::string rest = nativePath(name);
  size_t start = rest.find_first_not_of("/\\");
  rest = start == std::string::npos ? std::string() : rest.substr(start);
  return programFolder() + kSeparator + rest;
}

std::string executableName(std::string_view bareName) { return std::string(bareName); }

}  // namespace common
