// Printed and PDF pages read back: the text layer gives every character as
// itself, and every cell is shown whole (columns fitted to the page, texts
// wrapped inside their cells, the page turned when the columns do not fit).
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include "export_fixture.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/grid_pages.h"

using namespace price_tools::exporting;
using platform::VSFlexGrid;
using namespace export_fixture;

namespace {

// Text without its blanks and line ends: a wrapped cell reads on.
std::string squeezed(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t' && c != '\f') out += c;
  return out;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string part; std::getline(in, part, sep);) out.push_back(part);
  return out;
}

void copyShot(const std::string& pdf, const std::string& name) {
  if (const char* shots = std::getenv("VELMORA_SCREENSHOT_DIR"))
    std::filesystem::copy_file(pdf, std::string(shots) + "/" + name, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

#ifdef DEMO_FOLDER
// The demo's largest grid (every product, by a search for "%"), as the
// command line writes it: the library name, every header title and every
// cell read back exactly, 月 as 月 (not the radical ⽉), 生产厂家 as itself, and
// no cell cut ("Φ16-Φ25 定…").
TEST(PrintedPages, DemoGridReadsBackWholeAndExactly) {
  TempDir dir;
  const std::string cli = std::string(VELMORA_CLI) + " browse '" DEMO_FOLDER "' ";
  const std::string grid = run(cli + "search 产品名称 % 2>/dev/null");
  std::vector<std::string> lines = split(grid, '\n');
  ASSERT_GT(lines.size(), 400u) << grid.substr(0, 500);
  const std::string pdf = dir.file("all.pdf");
  run(cli + "search 产品名称 % --format pdf --output '" + pdf + "' 2>&1");
  const std::string text = run("pdftotext -raw '" + pdf + "' -");
  const std::string all = squeezed(text);
  ASSERT_FALSE(all.empty());
  EXPECT_NE(all.find("2026年12月信息价"), std::string::npos) << text.substr(0, 300);
  for (const char* radical : {"⽉", "⽣", "⼚", "⻚", "⽔", "⻆"}) EXPECT_EQ(text.find(radical), std::string::npos) << radical;
  EXPECT_EQ(text.find("…"), std::string::npos) << "no cell is cut";
  // The header: "产品名称", "价格-含税" (价格 over 含税 …).
  for (const std::string& title : split(lines[0], '\t')) {
    if (title == "level") continue;
    for (const std::string& part : split(title, '-')) EXPECT_NE(all.find(squeezed(part)), std::string::npos) << part;
  }
  size_t cells = 0;
  for (size_t k = 1; k < lines.size(); ++k) {
    const std::vector<std::string> row = split(lines[k], '\t');
    for (size_t i = 1; i < row.size(); ++i) {
      if (row[i].empty()) continue;
      ++cells;
      EXPECT_NE(all.find(squeezed(row[i])), std::string::npos) << "row " << k << ": " << row[i];
    }
  }
  EXPECT_GT(cells, 3000u);
  // Cells that are not wrapped read on one line, as they are.
  const std::string layout = run("pdftotext -layout '" + pdf + "' -");
  for (const char* whole : {"Φ16-Φ25 定尺9m", "Φ16-Φ25 定尺12m", "东岚钢铁集团有限公司", "生产厂家"})
    EXPECT_NE(layout.find(whole), std::string::npos) << whole;
  copyShot(pdf, "print-demo-all.pdf");
}
#endif

namespace {

// A grid of `cols` text columns of 1000 twips and one header row.
void layOut(VSFlexGrid& g, int cols) {
  g.setFixedRows(1);
  g.setFixedCols(0);
  g.setRows(1);
  g.setCols(cols);
  for (int c = 0; c < cols; ++c) {
    g.setColWidth(c, 1000);
    g.setTextMatrix(0, c, "列" + std::to_string(c));
  }
}

void addRow(VSFlexGrid& g, const std::vector<std::string>& cells) {
  const int r = g.Rows();
  g.setRows(r + 1);
  for (size_t c = 0; c < cells.size(); ++c) g.setTextMatrix(r, static_cast<int>(c), cells[c]);
}

}  // namespace

// Long texts wrap inside their cells and read back whole; a grid whose words
// do not fit a portrait page turns to landscape; one too wide for that is
// scaled down; a grid whose columns the screen made wide but whose texts are
// short stays portrait.
TEST(PrintedPages, ColumnsFitThePageTextsWrapWidePagesTurn) {
  app();
  TempDir dir;
  const std::string memo = "执行标准见产品页；价格随市场波动，以供货当日为准。大宗采购另议，运费按实际里程另计，含税到场价不含卸车费。";
  VSFlexGrid g;
  layOut(g, 4);
  for (int i = 0; i < 40; ++i) addRow(g, {"螺纹钢 HRB400", i % 2 ? "Φ16-Φ25 定尺9m" : "Φ16-Φ25 定尺12m", "东岚钢铁集团有限公司", memo});
  GridPages pages(g, {"2026年12月信息价", "钢材", "2026-12-08"});
  EXPECT_EQ(pages.pageLayout().orientation(), QPageLayout::Portrait);
  EXPECT_DOUBLE_EQ(pages.scale(pages.pageLayout()), 1.0);
  double sum = 0;
  for (double w : pages.columnWidths(pages.pageLayout())) sum += w;
  EXPECT_LE(sum, pages.pageLayout().paintRect(QPageLayout::Point).width() + 0.01);
  ASSERT_TRUE(writePdf(g, {"2026年12月信息价", "钢材", "2026-12-08"}, dir.file("wrap.pdf")).ok());
  const std::string all = squeezed(run("pdftotext -raw '" + dir.file("wrap.pdf") + "' -"));
  size_t n = 0;
  for (size_t p = all.find(squeezed(memo)); p != std::string::npos; p = all.find(squeezed(memo), p + 1)) ++n;
  EXPECT_EQ(n, 40u) << "the memo wraps and reads back whole in every row";
  const std::string layout = run("pdftotext -layout '" + dir.file("wrap.pdf") + "' -");
  for (const char* whole : {"Φ16-Φ25 定尺9m", "Φ16-Φ25 定尺12m", "东岚钢铁集团有限公司"})
    EXPECT_NE(layout.find(whole), std::string::npos) << whole;
  // No word lies beyond the page's right margin (a cut or overflowing cell).
  const std::string bbox = run("pdftotext -bbox '" + dir.file("wrap.pdf") + "' -");
  size_t words = 0;
  for (size_t p = bbox.find("xMax=\""); p != std::string::npos; p = bbox.find("xMax=\"", p + 1)) {
    ++words;
    EXPECT_LE(std::stod(bbox.substr(p + 6)), 595 - 34 + 1) << bbox.substr(p, 80);
  }
  EXPECT_GT(words, 100u);
  copyShot(dir.file("wrap.pdf"), "print-wrap.pdf");

  // Screen-wide columns of short texts stay portrait.
  VSFlexGrid screen;
  layOut(screen, 3);
  screen.setColWidth(1, 9000);
  addRow(screen, {"a", "b", "c"});
  GridPages narrow(screen, {"x", "", ""});
  EXPECT_EQ(narrow.pageLayout().orientation(), QPageLayout::Portrait);

  // Five words of 20 letters do not fit portrait: landscape, unscaled.
  VSFlexGrid wide;
  layOut(wide, 5);
  addRow(wide, std::vector<std::string>(5, "ABCDEFGHIJKLMNOPQRST"));
  GridPages turned(wide, {"x", "", ""});
  EXPECT_EQ(turned.pageLayout().orientation(), QPageLayout::Landscape);
  EXPECT_DOUBLE_EQ(turned.scale(turned.pageLayout()), 1.0);
  ASSERT_TRUE(writePdf(wide, {"x", "", ""}, dir.file("wide.pdf")).ok());
  EXPECT_NE(run("pdfinfo '" + dir.file("wide.pdf") + "'").find("Page size:       842 x 595 pts"), std::string::npos);
  EXPECT_NE(run("pdftotext -layout '" + dir.file("wide.pdf") + "' -").find("ABCDEFGHIJKLMNOPQRST"),
            std::string::npos);
  // Fourteen of them are scaled down on landscape.
  VSFlexGrid wider;
  layOut(wider, 14);
  addRow(wider, std::vector<std::string>(14, "ABCDEFGHIJKLMNOPQRST"));
  GridPages scaled(wider, {"x", "", ""});
  EXPECT_EQ(scaled.pageLayout().orientation(), QPageLayout::Landscape);
  EXPECT_LT(scaled.scale(scaled.pageLayout()), 0.6);
}
