#include "data/files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QImage>
#include <QString>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <sys/stat.h>

#include "common/program_folder.h"

namespace data {

bool fileexists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

namespace {

// Follows parts[k...] down from folder, trying every entry whose name matches
// the part in any letter case (a folder may hold both web and WEB).
std::string findParts(const QString& folder, const QStringList& parts, int k) {
  if (k == parts.size()) return fileexists(folder.toStdString()) ? folder.toStdString() : "";
  const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const QString& e : entries) {
    if (e.compare(parts[k], Qt::CaseInsensitive) != 0) continue;
    std::string found = findParts(folder + '/' + e, parts, k + 1);
    if (!found.empty()) return found;
  }
  return "";
}

}  // namespace

std::string findProgramFile(const std::string& name) {
  const std::string exact = common::inProgramFolder(name);
  if (fileexists(exact)) return exact;
  const QStringList parts =
      QString::fromStdString(name).split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
  if (parts.isEmpty()) return "";
  return findParts(QString::fromStdString(common::programFolder()), parts, 0);
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
  const std::string path = iconPath(iconName);
  if (!fileexists(path)) return;
  grid.setCell(platform::flexcpPicture, row, col, loadIcon(path));
}

}  // namespace data
