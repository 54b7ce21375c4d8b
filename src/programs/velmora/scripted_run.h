#pragma once
// The options of Velmora's scripted runs (screenshots, benchmarks; not for
// users) and the steps they run on the shown main window:
//   --splash-ms=N          splash time (default 2000; VELMORA_SPLASH_MS too)
//   --click-category=ID    after the load step, click the category with this
//                          id in the category navigator
//   --click-product=N      then click the N-th product row (0 = first)
//   --screenshot=FILE      save a picture of the main window as PNG, then end
//   --screenshot-delay=MS  time from showing the window to the picture (3000)
//   --timing               report the load step's and the click's times on stderr
#include <string>

namespace main_window {
class frmeq;
}

namespace velmora {

struct ScriptedRun {
  int splashMs = 0;
  std::string clickCategory;
  int clickProduct = -1;
  std::string screenshot;
  int screenshotDelay = 3000;
  bool timing = false;
};

// The options of the command line; others are left to Qt.
ScriptedRun parseScriptedRun(int argc, char** argv);

// Clicks the category whose id is `id`, unfolding the nodes above it first;
// false (and a line on stderr) when there is none.
bool clickCategory(main_window::frmeq& window, const std::string& id);

// Schedules the run's clicks and picture on the window just shown. `run`
// outlives the window.
void startScriptedRun(const ScriptedRun& run, main_window::frmeq& window);

}  // namespace velmora
