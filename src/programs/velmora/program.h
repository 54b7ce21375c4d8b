#pragma once
// The one place Velmora is put together: what the process registers at its
// start, and the main window with the band of price commands on it. The
// program's main() and the window drivers of the tests build it from here.
#include "main_window/frmeq.h"

#include <memory>

namespace price_windows {
class CommandBand;
}

namespace velmora {

class FrmeqHost;

// The start-up registrations, once per process, before any window: the
// message boxes as Qt dialogs, the import-progress dialog of library opens,
// and the search field "拼音简码" among the data module's search fields.
void registerStartUp();

// The main window (not loaded yet) over `hooks`, its price-windows host and
// the band attached to it. The window owns the host and the band.
struct MainWindow {
  std::unique_ptr<main_window::frmeq> window;
  FrmeqHost* host = nullptr;
  price_windows::CommandBand* band = nullptr;
};
MainWindow assembleMainWindow(main_window::FrmeqHooks hooks);

}  // namespace velmora
