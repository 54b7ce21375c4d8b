#pragma once
// A program folder for the main window's tests, written by the Jet writer from
// the tables below: pro.mdb with the layout and settings of the three grids,
// material libraries, pages, banners and MainPro.ini as a test wants them.
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace fixture {

struct Product {
  int id;
  std::string name;
  int categoryId;
  int factoryId;
};

struct Library {
  // Category tree: (id, parent, name); the root row has id 0, parent -1.
  std::vector<std::tuple<int, int, std::string>> categories;
  std::vector<std::pair<int, std::string>> factories;
  std::vector<Product> products;
  // HtmlRelational: (category, factory, HtmlFileName).
  std::vector<std::tuple<int, int, std::string>> pages;
};

// The library most tests use: categories 0 (root) > 1 钢材 > {12 螺纹钢, 13 角钢},
// 2 水泥; factories 5 鞍钢, 7 首钢, 9 海螺's; products in 12, 13 and 2, one
// named "O'Neil 钢管"; pages for (12, 5) local "\web\a.htm" and (13, 7)
// "\web\b.htm" (no file: online).
Library standardLibrary();

// A library with n products in category 12 (for measurements).
Library bigLibrary(int products);

class Folder {
 public:
  Folder();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const;  // path + "/" + name

  void writeProMdb();
  void writeLibrary(const std::string& fileName, const Library& library, const std::string& password = "4917");
  void writeText(const std::string& name, const std::string& utf8);  // GBK, parent folders made
  void writeBytes(const std::string& name, const std::string& bytes);
  void makeUpdater();  // an executable file named like the updater
  bool exists(const std::string& name) const;
  std::string readBytes(const std::string& name) const;

 private:
  QTemporaryDir dir_;
  std::string path_;
};

}  // namespace fixture
