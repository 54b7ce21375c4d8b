// The material-list command on the band: 材料清单载价 opens the window (one
// per main window, given the program folder's libraries again when it is
// asked for again). This is the one place the window meets the main window.
#include "price_windows/band/command_band.h"

#include "main_window/frmeq.h"
#include "price_windows/pricelist/pricelist_window.h"

#include <QAction>
#include <QStyle>

namespace price_windows {

namespace {

void openPriceList(CommandBand& band) {
  main_window::frmeq& w = band.window();
  auto* window = w.findChild<PriceListWindow*>();
  if (window) {
    window->setLibraries(w.libraryList(), w.currentLibrary());
  } else {
    window = new PriceListWindow(w.libraryList(), w.currentLibrary(), &w);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace

void installPriceListCommands(CommandBand& band) {
  band.addCommand(QString::fromUtf8(kPriceListTitle), band.style()->standardIcon(QStyle::SP_FileDialogListView),
                  [&band] { openPriceList(band); });
}

}  // namespace price_windows
