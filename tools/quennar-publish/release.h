#pragma once
// A release as the vendor describes it (README.md gives the format), and the
// update list Quennar reads made from it.
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct ReleaseFile {
  int line = 0;            // where it starts in the description
  std::string source;      // the local file (relative to the description)
  std::string name, date, description;
  std::string local;       // name in the program folder (default: the source's name)
  std::string mode;        // 运行, 解压, or the target of a deferred replacement
  std::string folder;      // where 解压 unpacks
  bool ticked = true;
  std::string group;       // "" outside every group
  // Filled when the release is published.
  std::string address, sizeText, sha256, servedPath;
};

struct Release {
  std::string version, title, date, runMode, updateMode, prompt, base;
  std::vector<std::string> notes;
  std::vector<std::string> groups;  // in order of appearance
  std::vector<ReleaseFile> files;
  std::string folder;  // the description's folder, for the sources
};

// Reads a description; errors name the line.
std::optional<Release> readRelease(const std::string& path, std::vector<std::string>& errors);

// Every reason Quennar would refuse the release (or misread it); empty when
// none.
std::vector<std::string> checkRelease(const Release& release);

// The update list's items, in order (UTF-8).
std::vector<std::string> listItems(const Release& release);

// The list file: GBK, one quoted item a line, CR LF.
std::string listBytes(const Release& release);

}  // namespace publish
