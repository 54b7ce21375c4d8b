#pragma once
// The price windows' host on Velmora's main window: each call hands out the
// frmeq control or state it names. It is a child of the window and lives as
// long as the window.
#include "price_windows/host.h"

#include <QObject>

namespace main_window {
class frmeq;
}

namespace velmora {

class FrmeqHost : public QObject, public price_windows::Host {
  Q_OBJECT
 public:
  explicit FrmeqHost(main_window::frmeq& window);

  // The host of a window, made on the first call.
  static FrmeqHost& of(main_window::frmeq& window);

  main_window::frmeq& window() { return window_; }

  QWidget& widget() override;
  platform::VSFlexGrid& categoryGrid() override;
  platform::VSFlexGrid& productGrid() override;
  platform::VSFlexGrid& factoryGrid() override;
  platform::GridView* productView() override;
  platform::ActiveBar* outerToolbar() override;
  QWidget* clientArea() override;
  const std::string& currentLibrary() const override;
  const std::vector<std::string>& libraryList() const override;
  data::NavigatorSession& navigator() override;
  const std::string& serviceBase() const override;
  void showPage(const data::PageTarget& target) override;

 private:
  main_window::frmeq& window_;
};

}  // namespace velmora
