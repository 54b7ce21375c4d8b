#pragma once
// The band of price commands beside the main window's own toolbars: a strip
// "价格工具" above the product grid, whose buttons open the windows of
// src/price_windows/, and the product grid's context menu, which offers the
// same commands for one product row. The main window's toolbars, grids and
// click handlers are not changed by it: the band only adds buttons, menu
// entries and a double-click listener, and reads the grids.
//
// The program attaches it once, after the main window is built, through the
// window's host (price_windows/host.h):
//
//   price_windows::attachCommandBand(host);
//
// which installs every command through the installer functions listed in
// command_band.cpp (installPriceCommands, ...).
#include <QToolBar>

#include "price_tools/export/export_title.h"

#include <functional>
#include <vector>

class QAction;
class QIcon;

namespace price_windows {

class Host;

inline constexpr const char* kBandTitle = "价格工具";

class CommandBand : public QToolBar {
  Q_OBJECT
 public:
  explicit CommandBand(Host& host);

  Host& host() { return host_; }

  // A button on the band that runs `run` when clicked. The action belongs to
  // the band; it may also be handed to addToProductMenu.
  QAction* addCommand(const QString& text, const QIcon& icon, std::function<void()> run);

  // Puts an action into the context menu of the host's product grid.
  void addToProductMenu(QAction* action);

  // Runs `run` when a product row is double-clicked. The grid's own handling
  // of the click (current row, Click event, page) happens first and unchanged;
  // the double click only adds this call.
  void addProductDoubleClick(std::function<void()> run);

  // The product row a command acts on: the row under the mouse while the
  // product grid's context menu or a double click runs, otherwise the product
  // grid's current row. -1 when there is no data row.
  int productRow() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showProductMenu(const QPoint& pos);

  Host& host_;
  std::vector<QAction*> productMenu_;
  std::vector<std::function<void()>> doubleClicks_;
  int pointedRow_ = -1;
};

// Adds the band to the host's window, once: a second call returns the band
// already there. The band stands at the top of the host's client area (above
// the product grid). The host outlives the band.
CommandBand* attachCommandBand(Host& host);

// The installers of the band's commands, each in its own part.
void installPriceCommands(CommandBand& band);  // 价格对比, 价格走势
void installExportCommands(CommandBand& band);  // 导出Excel, 打印预览, 导出PDF, 复制, 拼音简码
void installPriceListCommands(CommandBand& band);  // 材料清单载价
void installLibraryPreparation(CommandBand& band);  // 正在准备材料库 (prep/prep_indicator.cpp)

// What the host's product grid shows, as an export title: the open library,
// the category path / manufacturer / search, today's date.
price_tools::exporting::ExportTitle productTitle(Host& host);

}  // namespace price_windows
