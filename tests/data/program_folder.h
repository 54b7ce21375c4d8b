#pragma once
// A throw-away program folder: a material library (password 4917) and a
// pro.mdb (password tqwmzhpbnk3) written by the project's Jet writer from the
// readable tables below, the icon folder, and the data module pointed at it.
#include <QImage>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/program_folder.h"
#include "data/connections.h"
#include "jetwrite/jetwriter.h"
#include "platform/messagebox/messagebox.h"
#include "support/pro_mdb.h"

namespace fixture {

using jetwrite::ColumnType;
using jetwrite::Value;
using testsupport::col;
using testsupport::null;
using testsupport::Rows;
using testsupport::standardSettings;

// The layouts of the three navigator tables.
inline Rows standardLayout() {
  return {
      col("Category", 1, "分类名称", "Name", "900"),
      col("Category", 2, "图", "ico", "0"),
      col("CLProduct", 1, "产品-名称", "Name", "1200"),
      col("CLProduct", 2, "产品-厂家", "Factory.Name", "1000"),
      col("CLProduct", 3, "价格", "Price", "500", "0.00"),
      col("CLProduct", 4, "分类", "CategoryID", "0"),
      col("Factory", 1, "生产厂家", "Name", "-1"),
  };
}

// The material library: a category tree seven levels deep on one branch.
inline jetwrite::Database library() {
  jetwrite::Database db;
  db.password = "4917";
  db.tables.push_back({"Category",
                       {{"ID", ColumnType::Long},
                        {"ParentID", ColumnType::Long},
                        {"Name", ColumnType::Text, 50},
                        {"ico", ColumnType::Text, 50}},
                       {{"0", "-1", "全部", "root"},
                        {"1", "0", "钢材", "steel"},
                        {"2", "0", "水泥", null},
                        {"3", "1", "螺纹钢", "steel"},
                        {"10", "2", "L3", "steel"},
                        {"11", "10", "L4", "steel"},
                        {"12", "11", "L5", "steel"},
                        {"13", "12", "L6", "steel"},
                        {"14", "13", "L7", "steel"}}});
  db.tables.push_back({"Factory",
                       {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 100}},
                       {{"1", "杭州钢铁"}, {"2", "O'Brien 50% Cement"}, {"3", "宁波水泥"}}});
  db.tables.push_back({"CLProduct",
                       {{"ID", ColumnType::Long},
                        {"Name", ColumnType::Text, 100},
                        {"CategoryID", ColumnType::Long},
                        {"FactoryID", ColumnType::Long},
                        {"Price", ColumnType::Currency}},
                       {{"1", "螺纹钢 HRB400", "3", "1", "3.5000"},
                        {"2", "螺纹钢 HRB500", "3", "1", "4.2500"},
                        {"3", "普通硅酸盐水泥", "2", "3", "0.3500"},
                        {"4", "O'Brien 白水泥", "2", "2", "1.0000"},
                        {"5", "钢板", "1", "1", "5.0000"}}});
  db.tables.push_back({"HtmlRelational",
                       {{"CategoryID", ColumnType::Long},
                        {"FactoryID", ColumnType::Long},
                        {"HtmlFileName", ColumnType::Text, 200}},
                       {{"3", "1", "\\web\\a.htm"}, {"2", "3", "\\web\\b.htm"}}});
  db.tables.push_back({"Unit", {{"Name", ColumnType::Text, 20}}, {{"吨"}, {"米"}}});
  db.tables.push_back({"NoUnit", {{"Name", ColumnType::Text, 20}}, {}});
  return db;
}

class ProgramFolder {
 public:
  explicit ProgramFolder(Rows layout = standardLayout(), Rows settings = standardSettings(), Rows files = {},
                         jetwrite::Database lib = library()) {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("velmora-data-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_ / "web");
    std::filesystem::create_directories(path_ / "图标");
    jetwrite::writeDatabase(testsupport::proMdb(std::move(layout), std::move(settings), std::move(files)),
                            (path_ / "pro.mdb").string());
    jetwrite::writeDatabase(lib, (path_ / "lib.zdj").string());
    QImage icon(8, 8, QImage::Format_RGB32);
    icon.fill(Qt::red);
    icon.save(QString::fromStdString((path_ / "图标" / "steel.bmp").string()), "BMP");
    icon.save(QString::fromStdString((path_ / "图标" / "doc.bmp").string()), "BMP");
    // An icon name that is there but is no bitmap.
    std::ofstream((path_ / "图标" / "broken.bmp").string()) << "not a picture";
    data::resetDataModule();
    common::setProgramFolder(path_.string());
  }
  ~ProgramFolder() {
    data::resetDataModule();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // Opens lib.zdj and pro.mdb; fails the test on a message.
  void open() {
    platform::MessageBoxRecorder rec;
    data::opendatabases("lib.zdj");
    if (!rec.boxes().empty()) throw std::runtime_error(rec.boxes().front().text);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace fixture
