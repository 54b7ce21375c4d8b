#include "data/files.h"

#include <QFileInfo>
#include <QImage>
#include <QString>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "common/file_test.h"
#include "common/program_folder.h"
#include "common/text_case.h"

namespace data {

bool fileexists(const std::string& path) { return common::canOpenForReading(path); }

std::string findProgramFile(const std::string& name) {
  const auto path = common::resolveInProgramFolder(name);
  if (!path || !fileexists(*path)) return "";
  return *path;
}

std::string storedFileName(const std::string& file) {
  const std::string found = findProgramFile(file);
  if (found.empty()) return file;
  return std::filesystem::path(found).filename().string();
}

std::string libraryFileName(const std::string& name) {
  const std::string file = name + ".zdj";
  const bool wholeName = name.size() > 4 && common::asciiLower(name.substr(name.size() - 4)) == ".zdj";
  if (wholeName && findProgramFile(file).empty() && !findProgramFile(name).empty()) return storedFileName(name);
  return storedFileName(file);
}

std::string iconPath(const std::string& iconName) {
  return common::inProgramFolder("\\图标\\" + iconName + ".bmp");
}

namespace {

// Loaded icons, kept while the file is unchanged: an outline of thousands of
// rows shows a handful of different icons.
struct CachedIcon {
  qint64 size = -1;
  qint64 modified = 0;
  platform::Picture picture;
};

platform::Picture loadIcon(const std::string& path) {
  static std::map<std::string, CachedIcon> cache;
  QFileInfo info(QString::fromStdString(path));
  const qint64 size = info.size();
  const qint64 modified = info.lastModified().toMSecsSinceEpoch();
  auto it = cache.find(path);
  if (it != cache.end() && it->second.size == size && it->second.modified == modified) return it->second.picture;
  // The picture loader goes by the file's content, so an icon saved as PNG or
  // JPEG under a .bmp name still shows.
  QImage image;
  if (!image.load(QString::fromStdString(path)))
    throw std::runtime_error("Invalid picture: " + path);
  auto picture = std::make_shared<const QImage>(std::move(image));
  if (cache.size() > 256) cache.clear();
  cache[path] = CachedIcon{size, modified, picture};
  return picture;
}

}  // namespace

void setcellicon(platform::VSFlexGrid& grid, int row, int col, const std::string& iconName) {
  if (iconName.empty()) return;
  // Icon names come from the tables, written for a file system that ignores case.
  const std::string path = findProgramFile("\\图标\\" + iconName + ".bmp");
  if (path.empty()) return;
  grid.setCell(platform::flexcpPicture, row, col, loadIcon(path));
}

}  // namespace data
