#include "programs/velmora/frmeq_host.h"

#include "data/browse.h"
#include "main_window/frmeq.h"

namespace velmora {

using Grid = data::NavigatorSession::GridIndex;

FrmeqHost::FrmeqHost(main_window::frmeq& window) : QObject(&window), window_(window) {
  setObjectName("PriceWindowsHost");
}

FrmeqHost& FrmeqHost::of(main_window::frmeq& window) {
  if (auto* host = window.findChild<FrmeqHost*>(QString(), Qt::FindDirectChildrenOnly)) return *host;
  return *new FrmeqHost(window);
}

QWidget& FrmeqHost::widget() { return window_; }
platform::VSFlexGrid& FrmeqHost::categoryGrid() { return window_.Grid1(Grid::Categories); }
platform::VSFlexGrid& FrmeqHost::productGrid() { return window_.Grid1(Grid::Products); }
platform::VSFlexGrid& FrmeqHost::factoryGrid() { return window_.Grid1(Grid::Factories); }
platform::GridView* FrmeqHost::productView() { return window_.Grid1View(Grid::Products); }
platform::ActiveBar* FrmeqHost::outerToolbar() { return window_.ActiveBar31(); }
QWidget* FrmeqHost::clientArea() { return window_.Picture2(); }
const std::string& FrmeqHost::currentLibrary() const { return window_.currentLibrary(); }
const std::vector<std::string>& FrmeqHost::libraryList() const { return window_.libraryList(); }
data::NavigatorSession& FrmeqHost::navigator() { return window_.navigator(); }
const std::string& FrmeqHost::serviceBase() const { return window_.serviceBase(); }
void FrmeqHost::showPage(const data::PageTarget& target) { window_.showPageTarget(target); }

}  // namespace velmora
