#pragma once
// The navigation flow without a window: the three grids of the main window
// (category navigator Grid1(0), product grid Grid1(1), manufacturer navigator
// Grid1(2)), laid out and filled through layoutgrid and fillgrid, the fills a
// navigator click or a search makes, and the page a product row has.
//
// The main window drives its grids through one NavigatorSession (its grids
// are the views' models), and velmora-cli browse drives three headless grids
// through another, so both run the very same steps. The session shows nothing
// itself: the window sends its browser to page() and shows its messages.
#include <string>
#include <vector>

#include "data/navigation.h"
#include "platform/grid/vsflexgrid.h"

namespace data {

// The window-design settings of the three grids: three header rows (rows 0
// and 1 show, row 2 is the hidden row of column data, so the last header row
// is 2) and the row-header column 0.
void prepareNavigatorGrid(platform::VSFlexGrid& grid);

class NavigatorSession {
 public:
  enum GridIndex { Categories = 0, Products = 1, Factories = 2 };

  NavigatorSession(platform::VSFlexGrid& categories, platform::VSFlexGrid& products,
                   platform::VSFlexGrid& factories);

  platform::VSFlexGrid& grid(int index);

  // The grid steps of loadnav, each under skip-on-error: lay out the category
  // grid and fill it with "ID=0", lay out the product grid (left empty), lay
  // out and fill the manufacturer grid (no condition). The window then shows
  // its default page and empties its Tag.
  void loadnav();

  // The fill of a navigator click (index 0 or 2; 1 fills nothing): the id of
  // the clicked grid's current row, through idText, selects the products.
  // Returns false when the fill failed (the product grid keeps the rows written
  // before the failure). The window runs showpage after it in every case.
  bool click(int index);
  bool fillByCategory(const std::string& id);
  bool fillByFactory(const std::string& id);

  enum class SearchOutcome { Filled, Failed, EmptyText, NoSuchField };
  // The toolbar's search: an empty text asks for one (the window shows
  // "请录入查询内容!"), an unknown field does nothing.
  SearchOutcome search(const std::string& field, const std::string& text);

  // The page the page display shows for the product grid's page row; the
  // default page when the lookup cannot run at all.
  PageTarget page(const std::string& serviceBase) const;
  // The page of a given pair.
  static PageTarget pageOf(const PageKey& key, const std::string& serviceBase);

  // What the product grid was last filled with: the id (through idText) of a
  // category or manufacturer fill, or the field and text of a search that
  // built a condition. Recorded whether the fill succeeded or not (the grid
  // shows what it wrote); None until the first fill and again after loadnav,
  // which leaves the product grid empty. Searches that fill nothing (empty
  // text, unknown field) leave it as it was.
  struct ShownProducts {
    enum Kind { None, Category, Factory, Search } kind = None;
    std::string id;
    std::string field;
    std::string text;
  };
  const ShownProducts& shown() const { return shown_; }

 private:
  bool fillProducts(std::string condition);

  platform::VSFlexGrid* grids_[3];
  ShownProducts shown_;
};

// The files of a folder whose names end in `extension` (".zdj", ".swf") in any
// letter case, as the system's hidden file list showed them on a Chinese
// system: ascending by common::collateText (pinyin, digits one by one, ASCII
// case ignored), names equal but for letter case by their bytes. Folders are
// not listed; a folder that cannot be read lists nothing.
std::vector<std::string> folderFiles(const std::string& folder, const std::string& extension);

// The libraries of a program folder: the names, without the last four
// characters, of its files matching "*.zdj" in any case, in ascending order of
// name as a Chinese system's file list has them (common::collateText: pinyin,
// digits one by one, ASCII case ignored). The last one is the one a start opens.
std::vector<std::string> libraryNames(const std::string& folder);

// What a start says when libraryNames finds none.
inline constexpr const char* kNoLibraryText = "没有找到相关材料库！请重新安装本软件！";

// Opens a program folder's library (NAME.zdj, NAME given without extension)
// and its pro.mdb, as the main window does: the program folder becomes
// `folder`, and opendatabases reports a failure itself (message box). Returns
// opendatabases' result.
int openFolder(const std::string& folder, const std::string& libraryName);

}  // namespace data
