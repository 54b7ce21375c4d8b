// The month commands on the band: the comparison of two libraries (a button)
// and the price history of a product (a button, the product grid's context
// menu and a double click on a product row).
#include "price_windows/band/command_band.h"

#include "platform/grid/vsflexgrid.h"
#include "platform/messagebox/messagebox.h"
#include "price_windows/compare/compare_window.h"
#include "price_windows/history/history_window.h"
#include "price_windows/host.h"

#include <QAction>
#include <QPointer>
#include <QStyle>

namespace price_windows {

inline constexpr const char* kChooseProductText = "请先选择一个产品!";

namespace {

// One comparison window per main window, read again each time it is asked for.
void openComparison(CommandBand& band) {
  Host& host = band.host();
  auto* existing = host.widget().findChild<CompareWindow*>();
  if (existing) {
    existing->reload();
  } else {
    existing = new CompareWindow(host, &host.widget());
    existing->setAttribute(Qt::WA_DeleteOnClose);
  }
  existing->show();
  existing->raise();
  existing->activateWindow();
}

// The history of the product row the command acts on, from the open library.
void openHistory(CommandBand& band) {
  Host& host = band.host();
  const int row = band.productRow();
  const platform::VSFlexGrid& g = host.productGrid();
  if (row < 0 || g.Cols() < 1 || g.TextMatrix(row, g.Cols() - 1).empty()) {
    platform::MsgBox(kChooseProductText);
    return;
  }
  auto* history =
      new HistoryWindow(g.TextMatrix(row, g.Cols() - 1), host.currentLibrary(), host.libraryList(), &host.widget());
  history->setAttribute(Qt::WA_DeleteOnClose);
  history->show();
  history->raise();
}

}  // namespace

void installPriceCommands(CommandBand& band) {
  QStyle* style = band.style();
  band.addCommand(QString::fromUtf8(kCompareTitle), style->standardIcon(QStyle::SP_FileDialogDetailedView),
                  [&band] { openComparison(band); });
  QAction* history = band.addCommand(QString::fromUtf8(kHistoryTitle), style->standardIcon(QStyle::SP_ArrowUp),
                                     [&band] { openHistory(band); });
  band.addToProductMenu(history);
  band.addProductDoubleClick([&band] { openHistory(band); });
}

}  // namespace price_windows
