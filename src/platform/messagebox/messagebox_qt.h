#pragma once

namespace platform {
// Shows every message box as a modal Qt message box with the information icon.
void installQtMessageBoxes();
}  // namespace platform
