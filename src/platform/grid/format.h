#pragma once
// Display formats of grid columns (ColFormat), read the way the platform's
// Format function reads a number format.
//
// The cell text is the value as the database provider wrote it: a Currency as
// its exact decimal (at most four decimals), a Double as its shortest decimal
// of at most 15 significant digits ("1420.885", "1E+20"). The text is taken
// digit for digit; all arithmetic (rounding, %, scaling) is decimal, so a value
// never passes through a binary double. Rounding is half away from zero:
// "0.00" shows 1420.885 as "1420.89" and -0.005 as "-0.01"; "0" shows 2.5 as
// "3".
//
// A format is up to three sections separated by ";": positive;negative;zero.
//   - One section: every value; a negative value gets a leading "-".
//   - Two or more: a negative value uses the second section and gets no sign
//     but what that section writes ("0.00;(0.00)" shows -3 as "(3.00)"); a
//     value that is exactly zero uses the third. An empty or missing section
//     is the first one (a negative value then gets its "-").
//   - The section is chosen by the value as stored: -0.001 under
//     "0.00;(0.00);零" shows "(0.00)", not "零". Where the "-" is added by the
//     formatter (one section, or an empty negative section) and the rounded
//     result holds no digit other than 0, no "-" is added: -0.001 under "0.00"
//     shows "0.00", never "-0.00".
//   - A fourth section (the platform's one for Null) is ignored: a cell has no
//     Null, and an empty text is shown unchanged.
// Inside a section:
//   0  a digit, or 0 where the value has none (leading and trailing zeros);
//   #  a digit, or nothing;
//      integer digits fill the placeholders from the right, the leftmost one
//      takes every digit left over; decimals are as many as the placeholders
//      after the point, rounded there, and trailing zeros in "#" places drop.
//   .  the decimal point (the first one; it is shown even when no decimal
//      follows, "0.##" shows 2 as "2."); later ones are literal text;
//   ,  between integer placeholders: thousands grouping ("#,##0.00");
//      right after the last integer placeholder: divides by 1000 for each
//      ("0,," shows 5000000 as "5"); before any placeholder: literal text;
//   %  multiplies the value by 100 (for each "%") and is shown;
//   E+ E- e+ e-  followed by placeholders: scientific notation, one integer
//      digit ("0.00E+00" shows 1234.5 as "1.23E+03"; "E-" shows the exponent's
//      sign only when negative);
//   "text" and \c  literal text; any other character is shown as it is
//      (¥, 元, spaces, brackets, signs).
// The named formats: "Fixed" ("0.00"), "Standard" ("#,##0.00"), "Percent"
// ("0.00%"), "Scientific" ("0.00E+00"), "Currency" ("¥#,##0.00").
//
// Shown unchanged: an empty format; a text that is not a plain decimal number
// (blanks around it allowed, an exponent allowed, at most 400 places either
// side); a one-section format without any digit placeholder (a date format on
// a number, say). A section of a longer format without placeholders shows
// only its literal text ("0.00;-0.00;\-" shows 0 as "-").
#include <string>

namespace platform {

std::string formatCellText(const std::string& format, const std::string& text);

// The pattern a named format stands for (the list above); any other format is
// its own pattern. Every reader of a column format (the grid's display, the
// spreadsheet export) takes the names from here.
std::string namedFormatPattern(const std::string& format);

}  // namespace platform
