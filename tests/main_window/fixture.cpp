#include "fixture.h"

#include "common/cp936.h"
#include "common/program_folder.h"
#include "jetwrite/jetwriter.h"
#include "support/pro_mdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fstream>
#include <sstream>

namespace fixture {

using jetwrite::Column;
using jetwrite::ColumnType;
using jetwrite::Table;
using jetwrite::Value;

namespace {

std::string num(long long n) { return std::to_string(n); }

}  // namespace

Library standardLibrary() {
  Library l;
  l.categories = {{0, -1, "全部材料"}, {1, 0, "钢材"}, {12, 1, "螺纹钢"}, {13, 1, "角钢"}, {2, 0, "水泥"}};
  l.factories = {{5, "鞍钢股份"}, {7, "首钢集团"}, {9, "海螺水泥50%"}};
  l.products = {{101, "螺纹钢 HRB400", 12, 5}, {102, "螺纹钢 HRB500", 12, 7}, {103, "等边角钢", 13, 7},
                {104, "O'Neil 钢管", 13, 5},     {105, "普通硅酸盐水泥 P.O 42.5", 2, 9}, {106, "白色 水泥", 2, 9}};
  l.pages = {{12, 5, "\\web\\a.htm"}, {13, 7, "\\web\\b.htm"}, {2, 9, "\\web\\c.htm"}};
  return l;
}

Library bigLibrary(int products) {
  Library l = standardLibrary();
  l.products.clear();
  for (int i = 0; i < products; ++i)
    l.products.push_back({1000 + i, "螺纹钢 规格" + num(i), 12, i % 2 == 0 ? 5 : 7});
  return l;
}

Folder::Folder() {
  path_ = dir_.path().toStdString();
  common::setProgramFolder(path_);
}

std::string Folder::file(const std::string& name) const { return path_ + "/" + name; }

void Folder::writeProMdb() {
  using testsupport::col;
  jetwrite::writeDatabase(testsupport::proMdb({
                              col("Category", 1, "类别名称", "Name", "1600"),
                              col("Factory", 1, "厂家名称", "Name", "1600"),
                              col("CLProduct", 1, "产品-名称", "Name", "1400"),
                              col("CLProduct", 2, "产品-生产厂家", "Factory.Name", "1000"),
                              // The category id stands third from the right, the
                              // manufacturer id (the ordering column) second from
                              // the right, as the page display reads them.
                              col("CLProduct", 3, "类别", "CategoryID", "200"),
                          }),
                          file("pro.mdb"));
}

void Folder::writeLibrary(const std::string& fileName, const Library& l, const std::string& password) {
  jetwrite::Database db;
  db.password = password;
  Table category{"Category",
                 {{"ID", ColumnType::Long}, {"ParentID", ColumnType::Long}, {"Name", ColumnType::Text, 50}},
                 {}};
  for (const auto& [id, parent, name] : l.categories) category.rows.push_back({num(id), num(parent), name});
  Table factory{"Factory", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 50}}, {}};
  for (const auto& [id, name] : l.factories) factory.rows.push_back({num(id), name});
  Table product{"CLProduct",
                {{"ID", ColumnType::Long},
                 {"Name", ColumnType::Text, 100},
                 {"CategoryID", ColumnType::Long},
                 {"FactoryID", ColumnType::Long}},
                {}};
  for (const auto& p : l.products) product.rows.push_back({num(p.id), p.name, num(p.categoryId), num(p.factoryId)});
  Table pages{"HtmlRelational",
              {{"ID", ColumnType::Long},
               {"CategoryID", ColumnType::Long},
               {"FactoryID", ColumnType::Long},
               {"HtmlFileName", ColumnType::Text, 200}},
              {}};
  int n = 0;
  for (const auto& [c, f, html] : l.pages) pages.rows.push_back({num(++n), num(c), num(f), html});
  db.tables = {category, factory, product, pages};
  jetwrite::writeDatabase(db, file(fileName));
}

void Folder::writeBytes(const std::string& name, const std::string& bytes) {
  const std::string p = file(name);
  QDir().mkpath(QFileInfo(QString::fromStdString(p)).absolutePath());
  std::ofstream(p, std::ios::binary) << bytes;
}

void Folder::writeText(const std::string& name, const std::string& utf8) { writeBytes(name, common::toCp936(utf8)); }

void Folder::makeUpdater() {
  const std::string name = common::executableName("Quennar");
  writeBytes(name, "#!/bin/sh\nexit 0\n");
  QFile::setPermissions(QString::fromStdString(file(name)),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::ExeUser);
}

bool Folder::exists(const std::string& name) const { return QFileInfo::exists(QString::fromStdString(file(name))); }

std::string Folder::readBytes(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace fixture
