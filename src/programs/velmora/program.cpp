#include "programs/velmora/program.h"

#include "platform/messagebox/messagebox_qt.h"
#include "price_tools/pinyin/pinyin_search.h"
#include "price_windows/band/command_band.h"
#include "price_windows/progress/import_progress.h"
#include "programs/velmora/frmeq_host.h"

namespace velmora {

void registerStartUp() {
  platform::installQtMessageBoxes();
  price_windows::installImportProgress();
  price_tools::pinyin::registerInitialsSearch();
}

MainWindow assembleMainWindow(main_window::FrmeqHooks hooks) {
  MainWindow assembled;
  assembled.window = std::make_unique<main_window::frmeq>(std::move(hooks));
  assembled.host = &FrmeqHost::of(*assembled.window);
  assembled.band = price_windows::attachCommandBand(*assembled.host);
  return assembled;
}

}  // namespace velmora
