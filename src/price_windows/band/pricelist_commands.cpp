// The material-list command on the band: 材料清单载价 opens the window (one
// per main window, given the program folder's libraries again when it is
// asked for again). This is the one place the window meets the main window.
#include "price_windows/band/command_band.h"

#include "price_windows/host.h"
#include "price_windows/pricelist/pricelist_window.h"

#include <QAction>
#include <QStyle>

namespace price_windows {

namespace {

void openPriceList(CommandBand& band) {
  Host& host = band.host();
  auto* window = host.widget().findChild<PriceListWindow*>();
  if (window) {
    window->setLibraries(host.libraryList(), host.currentLibrary());
  } else {
    window = new PriceListWindow(host.libraryList(), host.currentLibrary(), &host.widget());
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
