#pragma once
// The window "价格对比": two libraries of the program folder side by side.
// The user picks the older and the newer library (default: the two latest in
// month order), the price column, the scope (the whole library, or what the
// product grid shows: the current category with its subcategories, the
// current manufacturer, the current search) and a filter; the grid lists the
// products with their old and new price, the change and the change in per
// cent, largest change first, rises on red and falls on green, and a summary
// line counts them. Clicking a row shows that product's page in the main
// window's page view, found as the main window finds it.
#include <QWidget>

#include <memory>
#include <vector>

#include "price_tools/months/comparison.h"

class QComboBox;
class QLabel;

namespace platform {
class GridView;
class VSFlexGrid;
}  // namespace platform

namespace price_windows {

class Host;

inline constexpr const char* kCompareTitle = "价格对比";

// Scope choices, in the order of the scope combo.
inline constexpr const char* kScopeLibrary = "整个材料库";
inline constexpr const char* kScopeCategory = "当前分类及子分类";
inline constexpr const char* kScopeFactory = "当前厂家";
inline constexpr const char* kScopeSearch = "当前查询";

class CompareWindow : public QWidget {
  Q_OBJECT
 public:
  explicit CompareWindow(Host& host, QWidget* parent = nullptr);
  ~CompareWindow() override;

  // Reads the libraries, columns and scope of the main window again and
  // compares with the defaults.
  void reload();
  // Compares with the current choices and fills the grid.
  void compare();

  // Controls and results, for the band and for tests.
  QComboBox* fromBox() const { return from_; }
  QComboBox* toBox() const { return to_; }
  QComboBox* priceBox() const { return price_; }
  QComboBox* scopeBox() const { return scope_; }
  QComboBox* filterBox() const { return filter_; }
  QString summaryText() const;
  platform::VSFlexGrid& grid() { return *grid_; }
  platform::GridView* gridView() const { return view_; }
  const price_tools::Comparison& comparison() const { return comparison_; }

  // The grid's columns.
  enum Column { ColName = 1, ColModel, ColUnit, ColFactory, ColOld, ColNew, ColChange, ColPercent, ColRow, ColCount };

 private:
  price_tools::Scope scope() const;
  void fill();
  void showPage();

  Host& host_;
  std::unique_ptr<platform::VSFlexGrid> grid_;
  platform::GridView* view_ = nullptr;
  QComboBox* from_ = nullptr;
  QComboBox* to_ = nullptr;
  QComboBox* price_ = nullptr;
  QComboBox* scope_ = nullptr;
  QComboBox* filter_ = nullptr;
  QLabel* summary_ = nullptr;
  price_tools::Comparison comparison_;
  bool loading_ = false;
};

// Background colours of rising and falling prices (red in the low byte).
constexpr unsigned kRiseColour = 0xD8D8FF;  // pale red
constexpr unsigned kFallColour = 0xD8F0D8;  // pale green

}  // namespace price_windows
