#pragma once
// The main window as the price windows' tests drive it: its page views record
// the addresses they are sent (no page engine), it listens for no close
// request and runs as "Velmora".
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "data/connections.h"
#include "fixture.h"
#include "main_window/frmeq.h"
#include "platform/browser/recording_browser.h"
#include "platform/grid/vsflexgrid.h"
#include "support/widgets_app.h"

namespace price_windows_test {

inline main_window::FrmeqHooks recordingHooks() {
  main_window::FrmeqHooks hooks;
  hooks.browsers = platform::recordingBrowserFactory();
  hooks.listenForClose = false;
  hooks.exeName = "Velmora";
  return hooks;
}

// A main window (not loaded yet) over a program folder with the main window
// tests' standard library as 2026年12月信息价.
struct StandardWindow {
  fixture::Folder folder;
  std::unique_ptr<main_window::frmeq> w;
  StandardWindow() {
    testsupport::widgetsApp();
    data::resetDataModule();
    folder.writeProMdb();
    folder.writeLibrary("2026年12月信息价.zdj", fixture::standardLibrary());
    w = std::make_unique<main_window::frmeq>(recordingHooks());
  }
  ~StandardWindow() {
    w.reset();
    data::resetDataModule();
  }
  // Clicks the category with this id in the category navigator.
  void clickCategory(const std::string& id) {
    platform::VSFlexGrid& g = w->Grid1(0);
    for (int r = 3; r < g.Rows(); ++r)
      if (g.TextMatrix(r, g.Cols() - 1) == id) {
        g.setRow(r);
        g.fireClick();
        return;
      }
    ADD_FAILURE() << "no category " << id;
  }
};

}  // namespace price_windows_test
