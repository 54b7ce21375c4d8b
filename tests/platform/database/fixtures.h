#pragma once
// Test libraries written by the project's Jet writer into a fresh folder.
#include <filesystem>
#include <random>
#include <string>

#include "jetwrite/jetwriter.h"

namespace fixtures {

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("velmora-db-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

using jetwrite::ColumnType;

// A small material library: categories in a tree, products, manufacturers.
inline jetwrite::Database library(const std::string& password = "4917") {
  jetwrite::Database db;
  db.password = password;
  db.tables.push_back({"Category",
                       {{"ID", ColumnType::Long},
                        {"ParentID", ColumnType::Long},
                        {"Name", ColumnType::Text, 50},
                        {"ico", ColumnType::Text, 50}},
                       {{"0", "-1", "全部材料", "材料"},
                        {"1", "0", "钢材", "钢"},
                        {"2", "0", "Cement", std::nullopt},
                        {"3", "1", "螺纹钢", std::nullopt},
                        {"4", "1", "Steel_Plate", std::nullopt}}});
  db.tables.push_back({"Factory",
                       {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 100}},
                       {{"1", "杭州钢铁有限公司"}, {"2", "Acme 50% Cement"}, {"3", "acme plates"}}});
  db.tables.push_back({"CLProduct",
                       {{"ID", ColumnType::Long},
                        {"CategoryID", ColumnType::Long},
                        {"FactoryID", ColumnType::Long},
                        {"Name", ColumnType::Text, 100},
                        {"Price", ColumnType::Currency},
                        {"Weight", ColumnType::Double},
                        {"Ratio", ColumnType::Single},
                        {"Pieces", ColumnType::Integer},
                        {"Grade", ColumnType::Byte},
                        {"Listed", ColumnType::YesNo},
                        {"Updated", ColumnType::DateTime},
                        {"Remark", ColumnType::Memo}},
                       {{"1", "3", "1", "螺纹钢 HRB400", "3.5000", "12.5", "0.25", "-7", "200", "true",
                         "2026-12-01 08:30:00", "长文本" + std::string(3000, 'x')},
                        {"2", "3", "1", "螺纹钢 HRB500", "1234567.8912", "0", "1", "0", "0", "false",
                         "2026-12-01", std::nullopt},
                        {"3", "4", "3", "STEEL plate 10mm", "-0.0001", std::nullopt, std::nullopt,
                         std::nullopt, std::nullopt, "false", std::nullopt, ""},
                        {"4", "2", "2", "Cement P.O 42.5", "0.0000", "50", "2.5", "32767", "1", "true",
                         "1999-12-31 23:59:59", "x"}}});
  return db;
}

inline std::string writeLibrary(const TempDir& dir, const std::string& name,
                                const jetwrite::Database& db = library()) {
  std::string path = dir.file(name);
  jetwrite::writeDatabase(db, path);
  return path;
}

inline std::string connectionString(const std::string& path, const std::string& password) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
         ";Persist Security Info=False;Jet OLEDB:Database Password=" + password;
}

}  // namespace fixtures
