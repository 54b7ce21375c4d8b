#pragma once
// The module's error policy. Most handlers and routines run each step under
// skip-on-error: a step that fails is abandoned, silently, and the next step
// runs. The routines without a policy of their own (fillgrid, loadtableset,
// addfilerows, setcellicon) simply throw; their caller's step is the one
// abandoned, and whatever they had written stays written.
//
//   data::skipOnError([&] { data::layoutgrid(grid, "Category"); });
//   data::skipOnError([&] { data::fillgrid(slot, grid, condition, 1); });
#include <exception>
#include <utility>

namespace data {

// Runs one step; a failure (any exception) ends that step only. Returns whether
// the step ran to its end.
template <class Step>
bool skipOnError(Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace data
