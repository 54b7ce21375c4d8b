// Helpers of the jetwrite tool: the generated benchmark library, text
// conversion to GBK and icon bitmaps for the demo program folder.
#pragma once

#include "jetwrite/jetwriter.h"

#include <string>

namespace jetwrite {

struct BenchShape {
    int products = 200000;
    int categories = 5000;   // over six levels below the root row (ID 0)
    int factories = 500;
};

// A material library with the tables of the demo library (Category, CLProduct,
// Factory, HtmlRelational), filled with generated rows. Deterministic.
Database makeBenchLibrary(const BenchShape& shape);

// Converts a UTF-8 text file to GBK (code page 936). Throws on unreadable input,
// invalid UTF-8 or characters GBK cannot hold; never leaves a partial file.
void convertToGbk(const std::string& in, const std::string& out);

// Writes a 16x16, 24-bit Windows bitmap: a shape in colour `rrggbb` on white.
void writeIconBitmap(const std::string& out, const std::string& rrggbb, const std::string& shape);

}  // namespace jetwrite
