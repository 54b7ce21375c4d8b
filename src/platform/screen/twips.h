#pragma once
// Lengths of windows, grids and columns are kept in twips (1/1440 inch), as the
// system's forms and layout tables give them. This is the one place where they
// meet the screen's pixels.

namespace platform {

// Logical dots per inch of the primary screen (96 without a screen).
double screenDpi();
int twipsToPixels(double twips);
double pixelsToTwips(int pixels);

}  // namespace platform
