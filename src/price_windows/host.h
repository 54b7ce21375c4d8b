#pragma once
// What the price windows see of the window they are attached to: its three
// navigator grids (categories, products, manufacturers), the product grid's
// view, the outer toolbar with the search field, the client area the band
// stands in, the open library and the program folder's libraries, the
// navigator session, the service base and the page view. The program
// implements it on its main window; the tests drive a small fake.
//
// Nothing here owns anything: the host hands out its own controls, which live
// as long as the host's widget.
#include <string>
#include <vector>

class QWidget;

namespace data {
class NavigatorSession;
struct PageTarget;
}  // namespace data
namespace platform {
class ActiveBar;
class GridView;
class VSFlexGrid;
}  // namespace platform

namespace price_windows {

// The navigator grids' header rows above their first data row.
inline constexpr int kNavigatorHeaderRows = 3;

class Host {
 public:
  virtual ~Host() = default;

  // The window itself: parent of the price windows and of the band, where
  // the band looks for a window it opened before.
  virtual QWidget& widget() = 0;

  virtual platform::VSFlexGrid& categoryGrid() = 0;
  virtual platform::VSFlexGrid& productGrid() = 0;
  virtual platform::VSFlexGrid& factoryGrid() = 0;
  // The product grid's view; null while the window has none.
  virtual platform::GridView* productView() = 0;

  // The toolbar with the search field combo "comfind"; null when there is none.
  virtual platform::ActiveBar* outerToolbar() = 0;
  // The area the band is put into, at the top of its box layout.
  virtual QWidget* clientArea() = 0;

  // The open library (its name without extension) and every library of the
  // program folder, in the order of the window's library list.
  virtual const std::string& currentLibrary() const = 0;
  virtual const std::vector<std::string>& libraryList() const = 0;

  // The session behind the grids: what the product grid shows.
  virtual data::NavigatorSession& navigator() = 0;
  // The service base address pages are found under.
  virtual const std::string& serviceBase() const = 0;
  // Shows a product's page in the window's page view, as the window shows it.
  virtual void showPage(const data::PageTarget& target) = 0;
};

}  // namespace price_windows
