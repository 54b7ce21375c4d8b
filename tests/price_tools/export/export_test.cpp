// Exports of a grid, read back as a user's program would read them: the .xlsx
// unzipped and its sheet XML looked at, the CSV bytes, the PDF's text.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "common/atomic_file.h"
#include "export_fixture.h"
#include "platform/grid/vsflexgrid.h"
#include "price_tools/export/csv_export.h"
#include "price_tools/export/grid_pages.h"
#include "price_tools/export/xlsx_export.h"

using namespace price_tools::exporting;
using platform::VSFlexGrid;
using namespace export_fixture;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

// A product grid laid out as the layout routine lays it out: three header
// rows (row 2 hidden), the row-header column 0, columns 名称 | 规格 | 价格-含税
// 价格-除税 | 在售 (check) | 分类 (0 wide), and the two hidden id columns.
void layOut(VSFlexGrid& g) {
  g.setFixedRows(3);
  g.setFixedCols(1);
  g.setRows(3);
  g.setCols(9);
  const char* upper[] = {" ", "名称", "规格", "价格", "价格", "在售", "分类", "", ""};
  const char* lower[] = {" ", "名称", "规格", "含税", "除税", "在售", "分类", "", ""};
  for (int c = 0; c < 9; ++c) {
    g.setTextMatrix(0, c, upper[c]);
    g.setTextMatrix(1, c, lower[c]);
    g.setMergeCol(c, true);
  }
  g.setMergeRow(0, true);
  g.setMergeRow(1, true);
  g.setRowHidden(2, true);
  g.setColWidth(1, 2400);
  g.setColWidth(2, 1500);
  g.setColWidth(3, 1200);
  g.setColWidth(4, 1200);
  g.setColWidth(5, 600);
  g.setColWidth(6, 0);
  g.setColFormat(3, "0.00");
  g.setColFormat(4, "#,##0.00元");
  g.setColDataType(5, platform::flexDTBoolean);
  g.setCell(platform::flexcpBackColor, 0, 3, 0, 4, 0xFFC0C0u);
  g.setColHidden(7, true);
  g.setColHidden(8, true);
}

void addRow(VSFlexGrid& g, const std::string& name, const std::string& model, const std::string& tax,
            const std::string& noTax, bool onSale) {
  const int r = g.Rows();
  g.setRows(r + 1);
  g.setTextMatrix(r, 1, name);
  g.setTextMatrix(r, 2, model);
  g.setTextMatrix(r, 3, tax);
  g.setTextMatrix(r, 4, noTax);
  g.setTextMatrix(r, 5, onSale ? "True" : "False");
  g.setCell(platform::flexcpChecked, r, 5, onSale ? platform::flexChecked : platform::flexUnchecked);
  g.setTextMatrix(r, 6, "7");
  g.setTextMatrix(r, 8, std::to_string(r));
}

// The number format a cell of the sheet shows with: its style's numFmtId
// looked up in the styles part.
std::string numberFormatOf(const std::string& sheet, const std::string& styles, const std::string& ref) {
  std::smatch m;
  if (!std::regex_search(sheet, m, std::regex("<c r=\"" + ref + "\" s=\"(\\d+)\"><v>"))) return "no number cell";
  const size_t style = std::stoul(m[1]);
  const size_t xfs = styles.find("<cellXfs");
  std::vector<std::string> ids;
  const std::regex xf("<xf numFmtId=\"(\\d+)\"");
  for (auto it = std::sregex_iterator(styles.begin() + static_cast<long>(xfs), styles.end(), xf);
       it != std::sregex_iterator(); ++it)
    ids.push_back((*it)[1]);
  if (style >= ids.size()) return "no style";
  if (!std::regex_search(styles, m, std::regex("numFmtId=\"" + ids[style] + "\" formatCode=\"([^\"]*)\"")))
    return "built-in " + ids[style];
  return m[1];
}

const ExportTitle kTitle{"2026年12月[信息价]", "钢材 > 螺纹钢", "2026-12-08"};

}  // namespace

TEST(XlsxExport, HeaderMergesNumbersFormatsTextsAndTitle) {
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  addRow(g, "螺纹钢 HRB400", "0012", "4136.13", "3660.2921", true);
  addRow(g, "镀锌钢管 <DN20> & \"精品\"", "Φ25", "-0.004", "1234567.5", false);
  addRow(g, "", "", "", "", false);
  const std::string path = dir.file("out.xlsx");
  const ExportResult result = writeXlsx(g, kTitle, path);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(result.rows, 3);
  EXPECT_EQ(dir.count(), 1u) << "the temporary file is renamed, not left beside";

  const std::string sheet = run("unzip -p '" + path + "' xl/worksheets/sheet1.xml");
  const std::string styles = run("unzip -p '" + path + "' xl/styles.xml");
  const std::string book = run("unzip -p '" + path + "' xl/workbook.xml");
  ASSERT_FALSE(sheet.empty());
  // The sheet named after the library, without the signs a sheet name may not hold.
  EXPECT_NE(book.find("<sheet name=\"2026年12月_信息价_\""), std::string::npos) << book;
  // Title row, merged across the four shown columns (the 0-wide one and the
  // hidden ones are left out); the two-level header with its merges.
  EXPECT_NE(sheet.find("<t>2026年12月[信息价]  钢材 &gt; 螺纹钢  2026-12-08</t>"), std::string::npos) << sheet;
  for (const char* merge : {"A1:E1", "C2:D2", "A2:A3", "B2:B3", "E2:E3"})
    EXPECT_NE(sheet.find(std::string("<mergeCell ref=\"") + merge + "\"/>"), std::string::npos) << merge << sheet;
  EXPECT_EQ(occurrences(sheet, "<mergeCell "), 5u);
  EXPECT_NE(sheet.find("<c r=\"C3\" s=\"3\" t=\"inlineStr\"><is><t>含税</t>"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("ySplit=\"3\""), std::string::npos) << "title and header rows frozen";
  // Numbers as numbers, from their decimal text; texts as texts (a model
  // 0012 keeps its zeros); escapes; check boxes as booleans; empty cells absent.
  EXPECT_EQ(numberFormatOf(sheet, styles, "C4"), "0.00");
  EXPECT_EQ(numberFormatOf(sheet, styles, "D5"), "#,##0.00&quot;元&quot;");
  EXPECT_NE(sheet.find("<v>4136.13</v>"), std::string::npos);
  EXPECT_NE(sheet.find("<v>3660.2921</v>"), std::string::npos);
  EXPECT_NE(sheet.find("<v>-0.004</v>"), std::string::npos);
  EXPECT_NE(sheet.find("<v>1234567.5</v>"), std::string::npos);
  EXPECT_NE(sheet.find("<t>0012</t>"), std::string::npos);
  EXPECT_NE(sheet.find("<t>镀锌钢管 &lt;DN20&gt; &amp; \"精品\"</t>"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("<c r=\"E4\" t=\"b\"><v>1</v></c>"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("<row r=\"6\""), std::string::npos);
  EXPECT_EQ(sheet.find("<c r=\"A6\""), std::string::npos);
  // The grid's formats as the cells' number formats; the header colour.
  EXPECT_NE(styles.find("formatCode=\"0.00\""), std::string::npos) << styles;
  EXPECT_NE(styles.find("formatCode=\"#,##0.00&quot;元&quot;\""), std::string::npos) << styles;
  EXPECT_NE(styles.find("rgb=\"FFC0C0FF\""), std::string::npos) << styles;
  // Column widths from the grid's twips.
  // (2400 twips, 160 pixels: 22.14 characters, which the writer stores with
  // the cell padding added.)
  EXPECT_NE(sheet.find("<col min=\"1\" max=\"1\" width=\"22.85"), std::string::npos) << sheet;
}

TEST(XlsxExport, TwoHundredThousandRowsAndCancelLeavesNoFile) {
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  {
    platform::GridBatch batch(g);
    for (int i = 0; i < 200000; ++i)
      addRow(g, "产品" + std::to_string(i), "M" + std::to_string(i), std::to_string(i) + ".25", "1.5", i % 2);
  }
  const std::string path = dir.file("big.xlsx");
  long calls = 0;
  const ExportResult result = writeXlsx(g, kTitle, path, [&](long, long total) {
    EXPECT_EQ(total, 200000);
    ++calls;
    return true;
  });
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_GT(calls, 50);
  const std::string sheet = run("unzip -p '" + path + "' xl/worksheets/sheet1.xml");
  EXPECT_EQ(occurrences(sheet, "<row "), 200003u);
  EXPECT_NE(sheet.find("<c r=\"A200003\" t=\"inlineStr\"><is><t>产品199999</t>"), std::string::npos);
  EXPECT_NE(sheet.find("<v>199999.25</v>"), std::string::npos);

  // A cancelled export over an existing file leaves that file as it was and
  // nothing beside it.
  std::ofstream(dir.file("old.xlsx")) << "old";
  const ExportResult cancelled =
      writeXlsx(g, kTitle, dir.file("old.xlsx"), [](long done, long) { return done < 10000; });
  EXPECT_EQ(cancelled.status, ExportResult::Cancelled);
  EXPECT_EQ(slurp(dir.file("old.xlsx")), "old");
  EXPECT_EQ(dir.count(), 2u);
  // A folder that cannot be written gives an error, not a success.
  const ExportResult failed = writeXlsx(g, kTitle, dir.file("no/such/folder.xlsx"));
  EXPECT_EQ(failed.status, ExportResult::Failed);
  EXPECT_FALSE(failed.error.empty());
}

TEST(CsvExport, BomGbkNumbersRawOrShownAndQuoting) {
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  addRow(g, "螺纹钢, HRB400", "0012", "4136.1", "1234.5", true);
  addRow(g, "镀锌\"钢管\"", "", "7", "", false);
  const std::string path = dir.file("a.csv");
  ASSERT_TRUE(writeCsv(g, {}, path).ok());
  EXPECT_EQ(slurp(path),
            "\xEF\xBB\xBF名称,规格,价格-含税,价格-除税,在售\r\n"
            "\"螺纹钢, HRB400\",0012,4136.10,\"1,234.50元\",√\r\n"
            "\"镀锌\"\"钢管\"\"\",,7.00,,\r\n");
  CsvOptions raw;
  raw.numbersAsShown = false;
  raw.encoding = CsvOptions::Gbk;
  ASSERT_TRUE(writeCsv(g, raw, path).ok());
  const std::string gbk = slurp(path);
  EXPECT_EQ(gbk.substr(0, 4), "\xC3\xFB\xB3\xC6") << "名称 in code page 936, no byte-order mark";
  EXPECT_NE(gbk.find(",0012,4136.1,1234.5,"), std::string::npos);
  EXPECT_EQ(dir.count(), 1u);
}

TEST(ExportTexts, NumberFormatsSheetNamesFileNames) {
  EXPECT_EQ(spreadsheetNumberFormat("0.00"), "0.00");
  EXPECT_EQ(spreadsheetNumberFormat("#,##0.00元"), "#,##0.00\"元\"");
  EXPECT_EQ(spreadsheetNumberFormat("¥#,##0.0"), "\"¥\"#,##0.0");
  EXPECT_EQ(spreadsheetNumberFormat("0.0%"), "0.0%");
  EXPECT_EQ(spreadsheetNumberFormat("Currency"), "\"¥\"#,##0.00");
  EXPECT_EQ(spreadsheetNumberFormat("Percent"), "0.00%");
  EXPECT_EQ(spreadsheetNumberFormat("Scientific"), "0.00E+00");
  EXPECT_EQ(spreadsheetNumberFormat("0.0E+0 t"), "0.0E+0\" t\"");
  EXPECT_EQ(spreadsheetNumberFormat("check"), "");
  EXPECT_EQ(sheetName("a/b:c*d?e[f]g\\h"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(sheetName("'x'"), "x");
  EXPECT_EQ(sheetName("''"), "Sheet1");
  EXPECT_EQ(sheetName(std::string(40, 'a')), std::string(31, 'a'));
  EXPECT_EQ(sheetName("二零二六年十二月建设工程材料信息价格与市场行情参考及说明附录表格"),
            "二零二六年十二月建设工程材料信息价格与市场行情参考及说明附录表");
  EXPECT_EQ(proposedFileName({"2026年12月信息价", "查询 产品名称：a/b", "2026-12-08"}, "xlsx"),
            "2026年12月信息价 查询 产品名称：a_b.xlsx");
}

// Every column format as a spreadsheet program reads it back (openpyxl), side
// by side with what the grid shows for the same cell: the named formats mean
// the same pattern to both.
TEST(XlsxExport, NumberFormatsReadBackAsTheGridShowsThem) {
  TempDir dir;
  struct Column {
    const char* format;
    const char* sheetFormat;
    const char* shown;
  } columns[] = {
      {"Fixed", "0.00", "1234.57"},
      {"Standard", "#,##0.00", "1,234.57"},
      {"Currency", "\"¥\"#,##0.00", "¥1,234.57"},
      {"Percent", "0.00%", "123456.70%"},
      {"Scientific", "0.00E+00", "1.23E+03"},
      {"0.000E-00", "0.000E-00", "1.235E03"},
      {"#,##0.0元", "#,##0.0\"元\"", "1,234.6元"},
  };
  const int n = static_cast<int>(std::size(columns));
  VSFlexGrid g;
  g.setFixedRows(1);
  g.setFixedCols(0);
  g.setRows(2);
  g.setCols(n);
  for (int c = 0; c < n; ++c) {
    g.setTextMatrix(0, c, "c" + std::to_string(c));
    g.setColFormat(c, columns[c].format);
    g.setTextMatrix(1, c, "1234.567");
  }
  for (int c = 0; c < n; ++c) EXPECT_EQ(g.displayText(1, c), columns[c].shown) << columns[c].format;
  const std::string path = dir.file("formats.xlsx");
  ASSERT_TRUE(writeXlsx(g, kTitle, path).ok());
  const std::string script = dir.file("read.py");
  std::ofstream(script) << "import openpyxl, sys\n"
                           "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
                           "for cell in ws[3]:\n"
                           "    print(cell.number_format + '\\t' + repr(cell.value))\n";
  std::stringstream lines(run(std::string(VELMORA_PYTHON3) + " '" + script + "' '" + path + "' 2>&1"));
  std::vector<std::string> read;
  for (std::string line; std::getline(lines, line);) read.push_back(line);
  ASSERT_EQ(read.size(), static_cast<size_t>(n)) << lines.str();
  for (int c = 0; c < n; ++c)
    EXPECT_EQ(read[static_cast<size_t>(c)], std::string(columns[c].sheetFormat) + "\t1234.567") << columns[c].format;
}

TEST(PdfExport, TitleHeaderOnEveryPageEveryRowOncePageNumbers) {
  app();
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  for (int i = 0; i < 150; ++i)
    addRow(g, "螺纹钢HRB" + std::to_string(1000 + i), "Φ16-Φ25", std::to_string(4000 + i) + ".5", "3.25", i % 2);
  const std::string path = dir.file("out.pdf");
  const ExportResult result = writePdf(g, kTitle, path);
  ASSERT_TRUE(result.ok()) << result.error;
  EXPECT_EQ(dir.count(), 1u);
  const std::string text = run("pdftotext -layout '" + path + "' -");
  std::vector<std::string> pages;
  std::stringstream in(text);
  for (std::string page; std::getline(in, page, '\f');)
    if (!page.empty()) pages.push_back(page);
  ASSERT_GE(pages.size(), 3u) << text;
  EXPECT_NE(pages[0].find("2026-12-08"), std::string::npos) << pages[0];
  EXPECT_NE(pages[0].find("螺纹钢"), std::string::npos) << pages[0];
  for (size_t i = 0; i < pages.size(); ++i) {
    for (const char* head : {"名称", "规格", "含税", "除税"})
      EXPECT_NE(pages[i].find(head), std::string::npos) << "page " << i + 1 << " lacks " << head;
    // (pdftotext reads the CJK font's 页 glyph as the radical ⻚ at times.)
    const std::string number = "第 ?" + std::to_string(i + 1) + " ?(页|⻚) ?/ ?共 ?" + std::to_string(pages.size()) + " ?(页|⻚)";
    EXPECT_TRUE(std::regex_search(pages[i], std::regex(number))) << pages[i];
  }
  for (int i = 0; i < 150; ++i)
    EXPECT_EQ(occurrences(text, "螺纹钢HRB" + std::to_string(1000 + i)), 1u) << i;
  EXPECT_EQ(occurrences(text, "Φ16-Φ25"), 150u) << "digits beside signs come out as text";
  EXPECT_NE(text.find("4149.50"), std::string::npos) << "prices as shown";
}

// What an export may replace: a regular file or nothing. Libraries (by name or
// by content), the project database, files this program holds open, devices,
// FIFOs and folders are refused by every writer, left as they were, and no
// temporary file is left beside them.
TEST(ExportTargets, NeverOverALibraryTheProjectDatabaseAnOpenFileADeviceOrAFifo) {
  app();
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  addRow(g, "螺纹钢", "Φ16", "4180.64", "3700", true);
  const std::string jet = std::string("\x00\x01\x00\x00Standard Jet DB\x00", 20) + std::string(2028, 'j');
  std::ofstream(dir.file("2026年12月信息价.zdj"), std::ios::binary) << jet;
  std::ofstream(dir.file("pro.mdb"), std::ios::binary) << jet;
  std::ofstream(dir.file("library copy.csv"), std::ios::binary) << jet;  // a library under another name
  std::ofstream(dir.file("held.csv")) << "held";
  std::filesystem::create_symlink(dir.file("pro.mdb"), dir.file("project.csv"));
  std::filesystem::create_symlink("/dev/null", dir.file("device.csv"));
  ASSERT_EQ(mkfifo(dir.file("pipe.csv").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder.csv"));
  std::FILE* held = std::fopen(dir.file("held.csv").c_str(), "rb");
  ASSERT_NE(held, nullptr);

  using Writer = std::function<ExportResult(const std::string&)>;
  const std::vector<std::pair<const char*, Writer>> writers = {
      {"csv", [&](const std::string& p) { return writeCsv(g, {}, p); }},
      {"xlsx", [&](const std::string& p) { return writeXlsx(g, kTitle, p); }},
      {"pdf", [&](const std::string& p) { return writePdf(g, kTitle, p); }},
  };
  const size_t files = dir.count();
  for (const auto& [kind, write] : writers) {
    for (const char* name : {"2026年12月信息价.zdj", "pro.mdb", "PRO.MDB", "new.ZDJ", "library copy.csv", "held.csv",
                             "project.csv", "device.csv", "pipe.csv", "folder.csv"}) {
      const ExportResult r = write(dir.file(name));
      EXPECT_EQ(r.status, ExportResult::Failed) << kind << " over " << name;
      EXPECT_FALSE(r.error.empty()) << kind << " over " << name;
    }
    EXPECT_EQ(slurp(dir.file("2026年12月信息价.zdj")), jet) << kind;
    EXPECT_EQ(slurp(dir.file("pro.mdb")), jet) << kind;
    EXPECT_EQ(slurp(dir.file("library copy.csv")), jet) << kind;
    EXPECT_EQ(slurp(dir.file("held.csv")), "held") << kind;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("project.csv"))) << kind;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("device.csv"))) << kind;
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.csv"))) << kind;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.csv"))) << kind;
    EXPECT_EQ(dir.count(), files) << kind << ": nothing new, no temporary left";
  }
  // Closed, the file is an export like any other; so is an existing export.
  std::fclose(held);
  EXPECT_TRUE(writeCsv(g, {}, dir.file("held.csv")).ok());
  EXPECT_NE(slurp(dir.file("held.csv")).find("4180.64"), std::string::npos);
  ASSERT_TRUE(writeCsv(g, {}, dir.file("held.csv")).ok());
  EXPECT_EQ(common::exportTargetRefusal(dir.file("held.csv")), "");
  EXPECT_EQ(common::exportTargetRefusal(dir.file("not there.pdf")), "");
}

// A full disk, made real by the file size limit: the kernel refuses the
// writes past it (EFBIG) as it refuses them on a full disk (ENOSPC). Every
// writer reports the failure, and no file is left, neither the target nor a
// temporary.
TEST(ExportTargets, AWriteThatFailsIsAFailedExportForEveryWriter) {
  app();
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  for (int i = 0; i < 3000; ++i)
    addRow(g, "螺纹钢HRB" + std::to_string(i), "Φ16-Φ25", std::to_string(4000 + i) + ".5", "3.25", i % 2);
  struct Limit {
    rlimit old{};
    void (*oldSignal)(int) = nullptr;
    explicit Limit(rlim_t bytes) {
      getrlimit(RLIMIT_FSIZE, &old);
      oldSignal = std::signal(SIGXFSZ, SIG_IGN);
      rlimit small = old;
      small.rlim_cur = bytes;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    ~Limit() {
      setrlimit(RLIMIT_FSIZE, &old);
      std::signal(SIGXFSZ, oldSignal);
    }
  };
  {
    const Limit full(16 * 1024);
    const ExportResult pdf = writePdf(g, kTitle, dir.file("out.pdf"));
    EXPECT_EQ(pdf.status, ExportResult::Failed);
    EXPECT_NE(pdf.error.find("cannot write"), std::string::npos) << pdf.error;
    const ExportResult csv = writeCsv(g, {}, dir.file("out.csv"));
    EXPECT_EQ(csv.status, ExportResult::Failed);
    const ExportResult xlsx = writeXlsx(g, kTitle, dir.file("out.xlsx"));
    EXPECT_EQ(xlsx.status, ExportResult::Failed);
  }
  EXPECT_EQ(dir.count(), 0u);
  // With room, the same files are written, each larger than the limit.
  ASSERT_TRUE(writePdf(g, kTitle, dir.file("out.pdf")).ok());
  EXPECT_EQ(slurp(dir.file("out.pdf")).substr(0, 5), "%PDF-");
  ASSERT_TRUE(writeXlsx(g, kTitle, dir.file("out.xlsx")).ok());
  ASSERT_TRUE(writeCsv(g, {}, dir.file("out.csv")).ok());
  for (const char* name : {"out.pdf", "out.xlsx", "out.csv"})
    EXPECT_GT(std::filesystem::file_size(dir.file(name)), 16u * 1024) << name;
}

// A line break inside a cell is quoted like a comma or a quote, so that the
// cell stays one field of one record.
TEST(CsvExport, LineBreaksInsideACellAreQuoted) {
  EXPECT_EQ(csvField("两行\n文本"), "\"两行\n文本\"");
  EXPECT_EQ(csvField("回车\r"), "\"回车\r\"");
  EXPECT_EQ(csvField("plain"), "plain");
  TempDir dir;
  VSFlexGrid g;
  layOut(g);
  addRow(g, "螺纹钢\nHRB400", "Φ16\r\nΦ25", "1", "", false);
  ASSERT_TRUE(writeCsv(g, {}, dir.file("a.csv")).ok());
  EXPECT_EQ(slurp(dir.file("a.csv")),
            "\xEF\xBB\xBF名称,规格,价格-含税,价格-除税,在售\r\n\"螺纹钢\nHRB400\",\"Φ16\r\nΦ25\",1.00,,\r\n");
}
