#pragma once
// While a library is copied from its Jet file (its first open, or the first
// after it changed; later opens come from the library cache at once), a
// progress dialog tells how far the copy has come, so that the program never
// sits frozen without a sign. It shows only when a copy takes longer than
// `showAfterMs`, and goes when the rows are in.
//
// The program installs it once at its start:
//
//   price_windows::installImportProgress();
//
// Copies made on other threads than the window thread are not shown.
namespace price_windows {

inline constexpr int kImportProgressAfterMs = 400;

void installImportProgress(int showAfterMs = kImportProgressAfterMs);

}  // namespace price_windows
