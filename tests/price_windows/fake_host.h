#pragma once
// A small host for the price windows' tests: the three navigator grids and
// the session over them, the product grid's view in a client area with a box
// layout, the program folder's libraries with the last one open, and the
// pages it is asked to show, recorded. No main window, no page engine, no
// toolbar (outerToolbar() is null).
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QVBoxLayout>
#include <QWidget>

#include "common/program_folder.h"
#include "data/browse.h"
#include "data/connections.h"
#include "data/navigation.h"
#include "platform/grid/gridview.h"
#include "platform/grid/vsflexgrid.h"
#include "price_windows/host.h"
#include "support/widgets_app.h"

namespace price_windows_test {

class FakeHost : public price_windows::Host {
 public:
  FakeHost()
      : categories_(std::make_unique<platform::VSFlexGrid>()),
        products_(std::make_unique<platform::VSFlexGrid>()),
        factories_(std::make_unique<platform::VSFlexGrid>()),
        navigator_(*categories_, *products_, *factories_) {
    testsupport::widgetsApp();
    window_ = std::make_unique<QWidget>();
    client_ = new QWidget(window_.get());
    auto* outer = new QVBoxLayout(window_.get());
    outer->addWidget(client_);
    auto* box = new QVBoxLayout(client_);
    view_ = new platform::GridView(products_.get(), client_);
    box->addWidget(view_);
  }
  ~FakeHost() override {
    window_.reset();  // the windows opened on it, before the grids they read
    data::resetDataModule();
  }

  // The libraries of the program folder, the last one opened and the grids
  // laid out as a start does. False when there is none or it did not open.
  bool load() {
    libraries_ = data::libraryNames(common::programFolder());
    if (libraries_.empty()) return false;
    current_ = libraries_.back();
    if (!data::openFolder(common::programFolder(), current_)) return false;
    navigator_.loadnav();
    return true;
  }

  // A navigator click on the row of the category / manufacturer with this id.
  void clickCategory(const std::string& id) { click(*categories_, id); }
  void clickFactory(const std::string& id) { click(*factories_, id); }

  const std::vector<data::PageTarget>& pages() const { return pages_; }

  QWidget& widget() override { return *window_; }
  platform::VSFlexGrid& categoryGrid() override { return *categories_; }
  platform::VSFlexGrid& productGrid() override { return *products_; }
  platform::VSFlexGrid& factoryGrid() override { return *factories_; }
  platform::GridView* productView() override { return view_; }
  platform::ActiveBar* outerToolbar() override { return nullptr; }
  QWidget* clientArea() override { return client_; }
  const std::string& currentLibrary() const override { return current_; }
  const std::vector<std::string>& libraryList() const override { return libraries_; }
  data::NavigatorSession& navigator() override { return navigator_; }
  const std::string& serviceBase() const override { return serviceBase_; }
  void showPage(const data::PageTarget& target) override { pages_.push_back(target); }

 private:
  void click(platform::VSFlexGrid& g, const std::string& id) {
    for (int r = g.FixedRows(); r < g.Rows(); ++r)
      if (g.TextMatrix(r, g.Cols() - 1) == id) {
        g.setRow(r);
        navigator_.click(&g == categories_.get() ? data::NavigatorSession::Categories
                                                 : data::NavigatorSession::Factories);
        return;
      }
    ADD_FAILURE() << "no navigator row " << id;
  }

  std::unique_ptr<platform::VSFlexGrid> categories_, products_, factories_;
  data::NavigatorSession navigator_;
  std::unique_ptr<QWidget> window_;
  QWidget* client_ = nullptr;
  platform::GridView* view_ = nullptr;
  std::vector<std::string> libraries_;
  std::string current_;
  std::string serviceBase_ = "http://price.example.test";
  std::vector<data::PageTarget> pages_;
};

}  // namespace price_windows_test
