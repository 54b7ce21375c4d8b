#pragma once
// The window "价格走势": one product's price over every library of the program
// folder, in month order: a line chart with a point per library (a gap where
// the product is missing, the value shown when the mouse rests on a point)
// and below it the table of the same figures. The price column can be chosen.
#include <QWidget>

#include <memory>
#include <string>

#include "price_tools/months/history.h"

class QChartView;
class QComboBox;
class QLabel;

namespace platform {
class GridView;
class VSFlexGrid;
}  // namespace platform

namespace price_windows {

inline constexpr const char* kHistoryTitle = "价格走势";

class HistoryWindow : public QWidget {
  Q_OBJECT
 public:
  // The product with id `productId` of library `library`; `libraries` are the
  // program folder's libraries (any order).
  HistoryWindow(const std::string& productId, const std::string& library, std::vector<std::string> libraries,
                QWidget* parent = nullptr);
  ~HistoryWindow() override;

  // Reads the history again with the chosen price column.
  void load();

  const price_tools::History& history() const { return history_; }
  QComboBox* priceBox() const { return price_; }
  QChartView* chartView() const { return chart_; }
  platform::VSFlexGrid& table() { return *table_; }
  QString headline() const;
  // The text shown when the mouse rests on point `index` of the history.
  QString pointText(int index) const;

 private:
  void draw();
  void fillTable();

  std::string productId_;
  std::string library_;
  std::vector<std::string> libraries_;
  price_tools::History history_;
  QComboBox* price_ = nullptr;
  QLabel* headline_ = nullptr;
  QChartView* chart_ = nullptr;
  std::unique_ptr<platform::VSFlexGrid> table_;
  platform::GridView* tableView_ = nullptr;
  bool loading_ = false;
};

}  // namespace price_windows
