// Column formats: values from the provider (Currency exact, Double as its
// shortest decimal) shown through the grid with decimal rounding.
#include "platform/grid/format.h"

#include <gtest/gtest.h>

#include "platform/database/adodb.h"
#include "platform/grid/vsflexgrid.h"

using platform::formatCellText;

namespace {

struct Case {
  const char* format;
  const char* value;  // as written in the library
  const char* shown;
};

// The cell as the grid fill leaves it: the provider's text of the value.
std::string throughGrid(const std::string& format, const ado::Variant& value) {
  platform::VSFlexGrid g;
  g.setCols(2);
  g.setRows(4);
  g.setColFormat(1, format);
  g.setTextMatrix(3, 1, value.toText());
  return g.displayText(3, 1);
}

ado::Variant currency(const std::string& text) {
  // Exact units from the decimal text, as the Jet reader delivers them.
  const bool neg = text[0] == '-';
  const std::string t = neg ? text.substr(1) : text;
  const size_t dot = t.find('.');
  std::string frac = dot == std::string::npos ? "" : t.substr(dot + 1);
  frac.resize(4, '0');
  const int64_t units = std::stoll(t.substr(0, dot)) * 10000 + std::stoll(frac);
  return ado::Variant::currency(neg ? -units : units);
}

// Halfway values, large values, many decimals: a Currency column and a
// Double column holding the same written value show the same text.
const Case kHalfway[] = {
    {"0.00", "1420.885", "1420.89"},
    {"0.00", "9.885", "9.89"},
    {"0.00", "48.885", "48.89"},
    {"0.00", "3804.885", "3804.89"},
    {"0.00", "1.005", "1.01"},
    {"0.00", "2.675", "2.68"},
    {"0.00", "0.125", "0.13"},
    {"0.00", "-0.005", "-0.01"},
    {"0.00", "-1420.885", "-1420.89"},
    {"0.00", "0.0049", "0.00"},
    {"0.00", "-0.0049", "0.00"},
    {"0.00", "99.995", "100.00"},
    {"0", "2.5", "3"},
    {"0", "-2.5", "-3"},
    {"0", "0.5", "1"},
    {"0", "1.4999", "1"},
    {"0.000", "0.0005", "0.001"},
    {"0.0000", "0.0001", "0.0001"},
    {"#,##0.00", "1234567.125", "1,234,567.13"},
    {"#,##0.00", "999999.995", "1,000,000.00"},
    {"#,##0.00", "-1234.5", "-1,234.50"},
    {"#,##0", "999.5", "1,000"},
    {"0.00", "123456789012.345", "123456789012.35"},
    {"0.00000000", "3.1416", "3.14160000"},
};

TEST(ColumnFormat, HalfwayValuesRoundAwayFromZeroInCurrencyAndDoubleColumns) {
  for (const Case& c : kHalfway) {
    EXPECT_EQ(throughGrid(c.format, currency(c.value)), c.shown) << "Currency " << c.value << " as " << c.format;
    EXPECT_EQ(throughGrid(c.format, ado::Variant::dbl(std::stod(c.value))), c.shown)
        << "Double " << c.value << " as " << c.format;
  }
}

TEST(ColumnFormat, LargeCurrencyKeepsEveryDigit) {
  // The largest and smallest Currency: 19 digits, more than a double holds.
  const auto max = ado::Variant::currency(INT64_MAX);
  const auto min = ado::Variant::currency(INT64_MIN);
  EXPECT_EQ(throughGrid("0.00", max), "922337203685477.58");
  EXPECT_EQ(throughGrid("#,##0.000", max), "922,337,203,685,477.581");
  EXPECT_EQ(throughGrid("#,##0.00", min), "-922,337,203,685,477.58");
  EXPECT_EQ(throughGrid("0", max), "922337203685478");
  EXPECT_EQ(throughGrid("0.0000", currency("90071992547409.9995")), "90071992547409.9995");
  EXPECT_EQ(throughGrid("0.000", currency("90071992547409.9995")), "90071992547410.000");
}

TEST(ColumnFormat, DoublesAreTakenAsTheirShortestFifteenDigitText) {
  // 0.1 + 0.2 is 0.30000000000000004 in binary: shown as 0.3.
  EXPECT_EQ(throughGrid("0.0000000000000000", ado::Variant::dbl(0.1 + 0.2)), "0.3000000000000000");
  // 2/3 has 17 significant digits; 15 of them are shown, the rest are zeros.
  EXPECT_EQ(throughGrid("0.00000000000000000", ado::Variant::dbl(2.0 / 3.0)), "0.66666666666666700");
  EXPECT_EQ(throughGrid("0", ado::Variant::dbl(1e20)), "100000000000000000000");
  EXPECT_EQ(throughGrid("#,##0", ado::Variant::dbl(-1.5e16)), "-15,000,000,000,000,000");
  EXPECT_EQ(throughGrid("0.0000000", ado::Variant::dbl(1.5e-7)), "0.0000002");
  EXPECT_EQ(throughGrid("0.00", ado::Variant::dbl(1e-300)), "0.00");
  EXPECT_EQ(throughGrid("0.00", ado::Variant::single(9.885f)), "9.89");
}

TEST(ColumnFormat, SectionsChooseByTheStoredValue) {
  const Case cases[] = {
      {"0.00;(0.00)", "-3", "(3.00)"},
      {"0.00;(0.00)", "3", "3.00"},
      {"0.00;(0.00)", "0", "0.00"},
      {"0.00;(0.00);\"-\"", "0", "-"},
      {"0.00;(0.00);零", "-0", "零"},
      {"0.00;(0.00);零", "-0.001", "(0.00)"},
      {"0.00;(0.00);零", "0.001", "0.00"},
      {"0.00;;零", "-3", "-3.00"},
      {"0.00;;零", "0", "零"},
      {"0.00;减0.00", "-1420.885", "减1420.89"},
      {"0.00;\\-0.00", "-0.005", "-0.01"},
      {"0.00", "-0.001", "0.00"},
      {"0.00;(0.00);零;空", "", ""},
      {"\"a;b\"0;\\;0", "-5", ";5"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatCellText(c.format, c.value), c.shown) << c.format << " " << c.value;
}

TEST(ColumnFormat, PlaceholdersPercentScalingAndLiterals) {
  const Case cases[] = {
      {"0%", "0.125", "13%"},
      {"0.00%", "0.123456", "12.35%"},
      {"0.0%", "-0.0005", "-0.1%"},
      {"0.0%", "0", "0.0%"},
      {"#,##0,", "0", "0"},
      {"Percent", "0.125", "12.50%"},
      {"0.##", "2.5", "2.5"},
      {"0.##", "2", "2."},
      {"0.0#", "2.50", "2.5"},
      {"#.##", "0.5", ".5"},
      {"#", "0", ""},
      {".00", "12.5", "12.50"},
      {"000", "7", "007"},
      {"00-00", "1234", "12-34"},
      {"0-0", "12345", "1234-5"},
      {"#,##0", "1234567", "1,234,567"},
      {"#,##0,", "1234567", "1,235"},
      {"0,,.0", "1250000", "1.3"},
      {",0", "5", ",5"},
      {"0.00元", "12", "12.00元"},
      {"\"约\"0.00\"元/吨\"", "3.456", "约3.46元/吨"},
      {"\\¥0.00", "-4", "-¥4.00"},
      {"\\#0", "5", "#5"},
      {"\"0.00\"0", "5", "0.005"},
      {"Currency", "-1234.5", "-¥1,234.50"},
      {"Standard", "1234.5", "1,234.50"},
      {"Fixed", "7", "7.00"},
      {"0.00E+00", "1234.5", "1.23E+03"},
      {"0.00E+00", "9.995", "1.00E+01"},
      {"0.0E-0", "0.000123", "1.2E-4"},
      {"0.0E-0", "5", "5.0E0"},
      {"Scientific", "-0.5", "-5.00E-01"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatCellText(c.format, c.value), c.shown) << c.format << " " << c.value;
}

TEST(ColumnFormat, TextsThatAreNoNumberAreShownUnchanged) {
  for (const char* text : {"abc", "", " ", "1,234", "12abc", "inf", "nan", "0x10", "1e", "1e+", "--1", "1.2.3",
                           "1e401", "-", "."})
    EXPECT_EQ(formatCellText("0.00", text), text) << text;
  EXPECT_EQ(formatCellText("0.00", " 12 "), "12.00");
  EXPECT_EQ(formatCellText("0.00", "+1.5e2"), "150.00");
  EXPECT_EQ(formatCellText("yyyy-mm-dd", "12"), "12") << "no digit placeholder: unchanged";
  EXPECT_EQ(formatCellText("", "1.005"), "1.005");
}

}  // namespace
