#pragma once
// The window "材料清单载价": a project's material list (.xlsx or CSV, as the
// estimating program exports it) priced line by line from a library of the
// program folder.
//
//   - The list is opened with 打开清单… (工作表 chooses the sheet of a workbook
//     of several); the library, the price column and the rule for several
//     makers are chosen above the lines, and every change prices the list
//     again (a progress bar and 取消 below the lines while it runs, the other
//     controls off meanwhile).
//   - The tab 载价 lists the lines: status on its colour (匹配 green, 待确认
//     yellow, 未匹配 red), the line as the list writes it, the matched
//     product, its price and the amount (数量 × 单价, two places); 显示 keeps
//     one status. The tab 调差 shows, with 调差 switched on, each line's base
//     price, bid price, current price (one library, or the mean over a period
//     of libraries), risk range, adjustment per unit and amount, and the
//     totals of rises, falls and the net.
//   - Below, the selected line: its ranked candidates with their scores, a
//     search of the library by 产品名称, 生产厂家 or 拼音简码 (the toolbar's own
//     search routines and the pinyin index), a click on a row to choose it,
//     无匹配材料 for a line the library cannot answer, 取消选择, and the line's
//     own risk range.
//   - A choice applies to every line written the same way and is kept in the
//     file beside the list (Choices::besidePath), which reopening restores.
//   - 导出… writes the priced list to .xlsx or CSV through the save question
//     of the export commands.
//
// The window takes from the main window only the names of the program
// folder's libraries and the one it has open (see openPriceList in
// band/pricelist_commands.cpp); the libraries are read on connections of
// their own. Only the library priced from is held (its products, indexed for
// matching); of the base and current months it keeps just the prices of the
// list's answers (PeriodPrices).
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "price_tools/pricelist/priced_list.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace platform {
class GridView;
class VSFlexGrid;
}  // namespace platform

namespace price_windows {

inline constexpr const char* kPriceListTitle = "材料清单载价";

// Status filter choices, in the order of the filter combo.
inline constexpr const char* kShowAll = "全部";

// Background colours of the statuses (red in the low byte).
constexpr unsigned kMatchedColour = 0xD8F0D8;  // pale green
constexpr unsigned kCheckColour = 0xB8F0FF;    // pale yellow
constexpr unsigned kNoneColour = 0xD8D8FF;     // pale red

class PriceListWindow : public QWidget {
  Q_OBJECT
 public:
  // `libraries`: the program folder's libraries (any order); `openLibrary`:
  // the main window's, priced from by default.
  PriceListWindow(std::vector<std::string> libraries, std::string openLibrary, QWidget* parent = nullptr);
  ~PriceListWindow() override;

  // The libraries again (the band's command, when the window is asked for again).
  void setLibraries(std::vector<std::string> libraries, std::string openLibrary);

  // Asks for a list file and opens it.
  void askList();
  // Reads a list (a workbook's sheet by name, its first when empty), restores
  // its choices and prices it; false (with a message box naming the file and
  // the fault) when it cannot be read.
  bool openList(const std::string& path, const std::string& sheet = std::string());
  // Stops a pricing under way (the 取消 button beside the progress bar): the
  // list is left unpriced until the controls change again.
  void cancelPricing() { cancelled_ = true; }
  // Prices the open list again with the current choices of the controls.
  void price();

  // The selected line (index into priced().lines), -1 for none.
  int selectedLine() const { return selected_; }
  void selectLine(int line);
  // Chooses for the selected line (and every line written the same way) the
  // shown candidate `row` (0 = first of the candidate grid), or no product.
  void chooseShown(int row);
  void chooseNone();
  void clearChoice();
  // Searches the library for the selected line with the search box's field and text.
  void search();
  // Sets the selected line's risk range from the line's risk box ("" for the list's).
  void applyLineRisk();
  // Asks for a file and writes the priced list; true when written.
  bool exportList();

  // Controls and results, for the band and for tests.
  QComboBox* sheetBox() const { return sheet_; }
  QPushButton* cancelButton() const { return cancel_; }
  QComboBox* libraryBox() const { return library_; }
  QComboBox* priceBox() const { return priceColumn_; }
  QComboBox* severalBox() const { return several_; }
  QComboBox* filterBox() const { return filter_; }
  QCheckBox* adjustBox() const { return adjust_; }
  QComboBox* baseBox() const { return base_; }
  QComboBox* fromBox() const { return from_; }
  QComboBox* toBox() const { return to_; }
  QLineEdit* riskEdit() const { return risk_; }
  QLineEdit* lineRiskEdit() const { return lineRisk_; }
  QComboBox* searchFieldBox() const { return searchField_; }
  QLineEdit* searchEdit() const { return searchText_; }
  QTabWidget* tabs() const { return tabs_; }
  QProgressBar* progressBar() const { return progress_; }
  platform::VSFlexGrid& lineGrid() { return *lines_; }
  platform::VSFlexGrid& adjustmentGrid() { return *adjustments_; }
  platform::VSFlexGrid& candidateGrid() { return *candidates_; }
  const std::vector<price_tools::pricelist::Candidate>& shownCandidates() const { return shown_; }
  const price_tools::pricelist::PricedList* priced() const { return priced_ ? &*priced_ : nullptr; }
  const price_tools::pricelist::Choices& choices() const { return choices_; }
  QString summaryText() const;
  // How many libraries the window holds the products of (for tests: one, the
  // library priced from, whatever the months of the adjustment).
  int heldCatalogues() const;
  QString adjustmentSummaryText() const;
  QString lineText() const;

  // The columns of the line grid and of the adjustment grid.
  enum LineColumn {
    LRow = 1, LStatus, LName, LModel, LUnit, LQuantity, LMatch, LMatchModel, LMatchUnit, LFactory, LPrice, LAmount,
    LIndex, LCount
  };
  enum AdjustColumn {
    ARow = 1, AName, AModel, AUnit, AQuantity, ABase, ABid, ACurrent, ARisk, APerUnit, AAmount, AIndex, ACount
  };
  enum CandidateColumn { CChosen = 1, CName, CModel, CUnit, CFactory, CPrice, CScore, CCount };

 private:
  struct Loaded;
  const price_tools::pricelist::Catalogue& catalogue(const std::string& library);
  Loaded& loaded(const std::string& library);
  void fillLibraries();
  void fillPriceColumns();
  void fillSeveral();
  void controlsChanged();
  std::vector<std::string> periodLibraries() const;
  std::optional<price_tools::Decimal> riskOf(const QString& percent) const;
  void fill();
  void fillLine(int line);
  void showCandidates(std::vector<price_tools::pricelist::Candidate> shown, bool searched);
  void lineClicked(platform::VSFlexGrid& grid, int indexColumn);
  void applyChoice(const price_tools::pricelist::Choice& choice,
                   const std::optional<price_tools::pricelist::Candidate>& answer);
  void saveChoices();
  void repriceSameAs(int line);
  void applyPeriodPrices();
  void repriced(const std::function<void()>& change);

  std::vector<std::string> libraries_;  // in month order
  std::string openLibrary_;
  std::optional<price_tools::pricelist::Synonyms> synonyms_;  // the program folder's, read once
  std::string columnsFor_, severalFor_;  // the library the price columns and the makers were listed for
  std::map<std::string, std::unique_ptr<Loaded>> loaded_;

  std::shared_ptr<const price_tools::pricelist::MaterialList> list_;
  price_tools::pricelist::Choices choices_;
  bool choicesKept_ = true;  // false when the file beside the list could not be read: it is left as it is
  std::map<size_t, price_tools::Decimal> lineRisks_;  // the lines' own risk ranges
  std::optional<price_tools::pricelist::PricedList> priced_;
  // The prices of priced_'s answers in the base and current months' libraries:
  // all the window keeps of those libraries.
  std::optional<price_tools::pricelist::PeriodPrices> period_;
  int selected_ = -1;
  std::vector<price_tools::pricelist::Candidate> shown_;
  bool loading_ = false;
  bool cancelled_ = false;  // 取消 was pressed during the pricing under way

  QPushButton* open_ = nullptr;
  QLabel* file_ = nullptr;
  QComboBox* sheet_ = nullptr;  // the workbook's sheets; hidden for CSV and one-sheet workbooks
  QLabel* sheetLabel_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QWidget* body_ = nullptr;  // the lines and the selected line, off while a pricing runs
  QComboBox* library_ = nullptr;
  QComboBox* priceColumn_ = nullptr;
  QComboBox* several_ = nullptr;
  QComboBox* filter_ = nullptr;
  QPushButton* export_ = nullptr;
  QCheckBox* adjust_ = nullptr;
  QComboBox* base_ = nullptr;
  QComboBox* from_ = nullptr;
  QComboBox* to_ = nullptr;
  QLineEdit* risk_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  std::unique_ptr<platform::VSFlexGrid> lines_, adjustments_, candidates_;
  QLabel* summary_ = nullptr;
  QLabel* adjustSummary_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* line_ = nullptr;
  QLabel* candidatesTitle_ = nullptr;
  QComboBox* searchField_ = nullptr;
  QLineEdit* searchText_ = nullptr;
  QLineEdit* lineRisk_ = nullptr;
};

}  // namespace price_windows
