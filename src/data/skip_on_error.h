#pragma once
// The module's error policy. Most handlers and routines run each step under
// skip-on-error: a step that fails is abandoned and the next step runs. The
// routines without a policy of their own (fillgrid, loadtableset, addfilerows,
// setcellicon) simply throw; their caller's step is the one abandoned, and
// whatever they had written stays written.
//
//   data::skipOnError("loadnav: category layout", [&] { data::layoutgrid(grid, "Category"); });
//   data::skipOnError("fill: products", [&] { data::fillgrid(slot, grid, condition, 1); });
//
// The user is never told. A dropped step is written, with its name and the
// failure's text, to the logging category velmora.skip (common/log.h), which
// is off unless switched on (QT_LOGGING_RULES="velmora.skip=true"); while it
// is off nothing is formatted.
#include <utility>

#include "common/log.h"

namespace data {

// Runs one step; a failure (any exception) ends that step only. Returns whether
// the step ran to its end. step names the step in the log: "routine: what",
// a text that lives for the whole run (a literal).
template <class Step>
bool skipOnError(const char* step, Step&& run) noexcept {
  try {
    std::forward<Step>(run)();
    return true;
  } catch (...) {
    if (common::logSkip().isInfoEnabled()) common::logDroppedStep(step);
    return false;
  }
}

}  // namespace data
