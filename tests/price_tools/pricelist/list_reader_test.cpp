// Reading a material list: workbooks written by libxlsxwriter and by Python's
// openpyxl, CSV in UTF-8 with and without a byte-order mark and in GBK, the
// header row found among title rows, the cells of every kind, and files that
// are damaged, too large or hostile refused with a message naming the file.
#include <gtest/gtest.h>

#include <xlsxwriter.h>

#include "list_fixture.h"
#include "price_tools/pricelist/material_list.h"
#include "support/test_support.h"

using namespace price_tools::pricelist;
using list_fixture::ZipEntry;
using price_tools::Decimal;

namespace {

Decimal dec(const char* s) { return *Decimal::parse(s); }

std::string errorOf(const std::string& path, const std::string& sheet = std::string()) {
  try {
    readMaterialList(path, sheet);
  } catch (const ListError& e) {
    return e.what();
  }
  return "(read without error)";
}

// A list as an estimating program exports it: a merged title row, an empty
// row, the header on row 3 in its own column order, then lines of every kind.
void writeEstimateWorkbook(const std::string& path, bool constantMemory) {
  lxw_workbook_options options{};
  options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
  lxw_worksheet* ws = workbook_add_worksheet(wb, "材料汇总");
  lxw_format* qty = workbook_add_format(wb);
  format_set_num_format(qty, "#,##0.000");
  lxw_format* price = workbook_add_format(wb);
  format_set_num_format(price, "0.00");
  worksheet_merge_range(ws, 0, 0, 0, 5, "某某住宅楼工程 主要材料表", nullptr);
  const char* header[] = {"序号", "数量", "材料（设备）名称", "规格型号", "计量单位", "单价(元)"};
  for (int c = 0; c < 6; ++c) worksheet_write_string(ws, 2, static_cast<lxw_col_t>(c), header[c], nullptr);
  // Row 4: numbers as numbers.
  worksheet_write_number(ws, 3, 0, 1, nullptr);
  worksheet_write_number(ws, 3, 1, 12.5, qty);
  worksheet_write_string(ws, 3, 2, "热轧带肋钢筋", nullptr);
  worksheet_write_string(ws, 3, 3, "HRB400 Φ20", nullptr);
  worksheet_write_string(ws, 3, 4, "t", nullptr);
  worksheet_write_number(ws, 3, 5, 4150.35, price);
  // Row 5: numeric text, an empty model.
  worksheet_write_number(ws, 4, 0, 2, nullptr);
  worksheet_write_string(ws, 4, 1, "1,234.5", nullptr);
  worksheet_write_string(ws, 4, 2, "普通硅酸盐水泥", nullptr);
  worksheet_write_string(ws, 4, 4, "t", nullptr);
  worksheet_write_string(ws, 4, 5, " 520 ", nullptr);
  // Row 6: a subtotal without a name; row 7 empty.
  worksheet_write_string(ws, 5, 0, "小计", nullptr);
  worksheet_write_number(ws, 5, 1, 1247, nullptr);
  // Rows 8 and 9: one name merged over two lines of two sizes.
  worksheet_merge_range(ws, 7, 2, 8, 2, "镀锌钢管", nullptr);
  worksheet_write_string(ws, 7, 3, "DN25", nullptr);
  worksheet_write_string(ws, 7, 4, "m", nullptr);
  worksheet_write_number(ws, 7, 1, 100, qty);
  worksheet_write_string(ws, 8, 3, "DN32", nullptr);
  worksheet_write_string(ws, 8, 4, "m", nullptr);
  worksheet_write_number(ws, 8, 1, 0.1 + 0.2, qty);
  lxw_worksheet* second = workbook_add_worksheet(wb, "甲供材料");
  worksheet_write_string(second, 0, 0, "名称", nullptr);
  worksheet_write_string(second, 0, 1, "数量", nullptr);
  worksheet_write_string(second, 1, 0, "中砂", nullptr);
  worksheet_write_number(second, 1, 1, 30, nullptr);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
}

void expectEstimateList(const MaterialList& list) {
  EXPECT_EQ(list.sheet, "材料汇总");
  EXPECT_EQ(list.headerRow, 3);
  ASSERT_EQ(list.titleRows.size(), 2u);
  EXPECT_EQ(list.titleRows[0], "某某住宅楼工程 主要材料表");
  EXPECT_EQ(list.titleRows[1], "");
  ASSERT_EQ(list.headers.size(), 6u);
  EXPECT_EQ(list.headers[2], "材料（设备）名称");
  EXPECT_EQ(list.columns.at(ListColumn::Name), 2);
  EXPECT_EQ(list.columns.at(ListColumn::Model), 3);
  EXPECT_EQ(list.columns.at(ListColumn::Unit), 4);
  EXPECT_EQ(list.columns.at(ListColumn::Quantity), 1);
  EXPECT_EQ(list.columns.at(ListColumn::Bid), 5);  // "单价(元)": the unit in brackets after the title
  EXPECT_FALSE(list.has(ListColumn::Base));
  // The subtotal and the empty row are skipped; the merged name names both lines.
  ASSERT_EQ(list.lines.size(), 4u);
  const ListLine& steel = list.lines[0];
  EXPECT_EQ(steel.row, 4);
  EXPECT_EQ(steel.name, "热轧带肋钢筋");
  EXPECT_EQ(steel.model, "HRB400 Φ20");
  EXPECT_EQ(steel.unit, "t");
  EXPECT_EQ(*steel.quantity, dec("12.5"));
  EXPECT_EQ(*steel.bid, dec("4150.35"));
  EXPECT_EQ(steel.cells[0], "1");
  const ListLine& cement = list.lines[1];
  EXPECT_EQ(cement.row, 5);
  EXPECT_EQ(cement.model, "");
  EXPECT_EQ(*cement.quantity, dec("1234.5"));
  EXPECT_EQ(*cement.bid, dec("520"));
  EXPECT_EQ(list.lines[2].row, 8);
  EXPECT_EQ(list.lines[2].name, "镀锌钢管");
  EXPECT_EQ(list.lines[3].row, 9);
  EXPECT_EQ(list.lines[3].name, "镀锌钢管");
  EXPECT_EQ(list.lines[3].model, "DN32");
  // 0.1 + 0.2 is stored as 0.30000000000000004: read as the 0.3 a spreadsheet shows.
  EXPECT_EQ(list.lines[3].quantity->text(), "0.3");
  // The number formats of the columns, from the first line.
  ASSERT_EQ(list.numberFormats.size(), 6u);
  EXPECT_EQ(list.numberFormats[1], "#,##0.000");
  EXPECT_EQ(list.numberFormats[5], "0.00");
  EXPECT_EQ(list.numberFormats[2], "");
}

}  // namespace

TEST(ListReader, ReadsWorkbooksOfSharedAndInlineStrings) {
  testsupport::ProgramFolder folder;
  // libxlsxwriter writes shared strings normally and inline strings in its constant-memory mode.
  for (bool constantMemory : {false, true}) {
    SCOPED_TRACE(constantMemory ? "inline strings" : "shared strings");
    const std::string path = folder / (constantMemory ? "inline.xlsx" : "shared.xlsx");
    writeEstimateWorkbook(path, constantMemory);
    const MaterialList list = readMaterialList(path);
    expectEstimateList(list);
    EXPECT_EQ(list.path, path);
  }
}

TEST(ListReader, ChoosesASheetByNameAndNamesOneItLacks) {
  testsupport::ProgramFolder folder;
  const std::string path = folder / "清单.xlsx";
  writeEstimateWorkbook(path, false);
  const MaterialList second = readMaterialList(path, "甲供材料");
  EXPECT_EQ(second.sheet, "甲供材料");
  EXPECT_EQ(second.headerRow, 1);
  ASSERT_EQ(second.lines.size(), 1u);
  EXPECT_EQ(second.lines[0].name, "中砂");
  EXPECT_EQ(*second.lines[0].quantity, dec("30"));
  const std::string error = errorOf(path, "安装材料");
  EXPECT_NE(error.find("清单.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("安装材料"), std::string::npos) << error;
}

TEST(ListReader, ReadsAWorkbookWrittenByOpenpyxl) {
  testsupport::ProgramFolder folder;
  const std::string path = folder / "openpyxl.xlsx";
  const std::string script = R"(
import sys
from openpyxl import Workbook
wb = Workbook()
ws = wb.active
ws.title = "Sheet"
other = wb.create_sheet("材料表")
other["A1"] = "工程名称：某某道路工程"
other.merge_cells("A1:G1")
other["A2"] = "编制日期：2026-12"
other.append(["材料编码", "名称", "规格", "单位", "消耗量", "基期价", "投标单价"])
other.append(["C0101", "碎石", "5-25mm", "m³", 320.75, 98.5, "101.00"])
other.append(["C0102", "中砂", None, "m3", "2,500", None, 88])
other.append([None, "  ", None, None, 5])
other.append(["C0103", "PP-R给水管", "dn25×2.8", "m", 1e3, 12.34, 12.5])
other["E6"].number_format = "0.0"
other.cell(row=8, column=2, value="BV铜芯线")
other.cell(row=8, column=5, value=0.1 + 0.2)
wb.save(r")" + path + R"(")
)";
  std::string output;
  ASSERT_TRUE(list_fixture::runPython(folder.path(), script, output))
      << "python3 with openpyxl (Debian python3-openpyxl, scripts/install-deps.sh) failed:\n" << output;
  // The first sheet is empty: no header row, and the message says so.
  const std::string error = errorOf(path);
  EXPECT_NE(error.find("openpyxl.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("表头"), std::string::npos) << error;

  const MaterialList list = readMaterialList(path, "材料表");
  EXPECT_EQ(list.headerRow, 3);
  ASSERT_EQ(list.titleRows.size(), 2u);
  EXPECT_EQ(list.titleRows[0], "工程名称：某某道路工程");
  EXPECT_EQ(list.titleRows[1], "编制日期：2026-12");
  EXPECT_EQ(list.columns.at(ListColumn::Code), 0);
  EXPECT_EQ(list.columns.at(ListColumn::Quantity), 4);
  EXPECT_EQ(list.columns.at(ListColumn::Base), 5);
  EXPECT_EQ(list.columns.at(ListColumn::Bid), 6);
  ASSERT_EQ(list.lines.size(), 4u);  // the line of blanks for a name is skipped
  EXPECT_EQ(list.lines[0].code, "C0101");
  EXPECT_EQ(list.lines[0].unit, "m³");
  EXPECT_EQ(*list.lines[0].quantity, dec("320.75"));
  EXPECT_EQ(*list.lines[0].base, dec("98.5"));
  EXPECT_EQ(*list.lines[0].bid, dec("101"));
  EXPECT_EQ(*list.lines[1].quantity, dec("2500"));
  EXPECT_FALSE(list.lines[1].base);
  EXPECT_EQ(list.lines[2].row, 7);
  EXPECT_EQ(list.lines[2].model, "dn25×2.8");
  EXPECT_EQ(*list.lines[2].quantity, dec("1000"));
  EXPECT_EQ(list.lines[3].name, "BV铜芯线");
  EXPECT_EQ(list.lines[3].quantity->text(), "0.3");
  EXPECT_EQ(list.numberFormats[4], "");  // the first line's quantity has no format of its own
}

TEST(ListReader, ReadsCsvInUtf8WithAndWithoutAMarkAndInGbk) {
  testsupport::ProgramFolder folder;
  const std::string text =
      "材料价格表,,,\r\n"
      "名称,规格型号,单位,数量,备注\r\n"
      "螺纹钢 HRB400,Φ16-Φ25,吨,\"1,234.5\",\"含运费,到场\"\r\n"
      ",,,,\r\n"
      "\"普通硅酸盐水泥\",P.O42.5,t, 20 ,\"两行\n的备注\"\r\n"
      "中砂,,m3,abc,\r\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"utf8-bom.csv", "\xEF\xBB\xBF" + text}, {"utf8.csv", text}, {"gbk.csv", testsupport::gbk(text)}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = folder / name;
    testsupport::writeFile(path, bytes);
    const MaterialList list = readMaterialList(path);
    EXPECT_EQ(list.sheet, "");
    EXPECT_EQ(list.headerRow, 2);
    ASSERT_EQ(list.titleRows.size(), 1u);
    EXPECT_EQ(list.titleRows[0], "材料价格表");
    ASSERT_EQ(list.headers.size(), 5u);
    EXPECT_EQ(list.headers[0], "名称");
    ASSERT_EQ(list.lines.size(), 3u);
    EXPECT_EQ(list.lines[0].name, "螺纹钢 HRB400");
    EXPECT_EQ(list.lines[0].model, "Φ16-Φ25");
    EXPECT_EQ(*list.lines[0].quantity, dec("1234.5"));
    EXPECT_EQ(list.lines[0].cells[4], "含运费,到场");
    EXPECT_EQ(list.lines[1].row, 5);
    EXPECT_EQ(list.lines[1].name, "普通硅酸盐水泥");
    EXPECT_EQ(*list.lines[1].quantity, dec("20"));
    EXPECT_EQ(list.lines[1].cells[4], "两行\n的备注");
    EXPECT_EQ(list.lines[2].row, 6);
    EXPECT_FALSE(list.lines[2].quantity);  // "abc" is not a number
  }
  // A CSV file has no sheets to choose from.
  EXPECT_NE(errorOf(folder / "utf8.csv", "Sheet1").find("Sheet1"), std::string::npos);
}

// The lines a list sums itself up with are not materials: whatever way the
// label is written, on a line without a unit, they are left out and counted.
TEST(ListReader, LeavesOutTheListsOwnSubtotals) {
  testsupport::ProgramFolder folder;
  testsupport::writeFile(folder / "sums.csv",
                         "名称,规格型号,单位,数量,合价\n"
                         "螺纹钢,HRB400 Φ20,t,12,48000\n"      // row 2
                         "钢材小计,,,12,48000\n"              // 3
                         "中砂,,m3,30,3600\n"                 // 4
                         "小 计,,,,3600\n"                    // 5
                         "本页合计：,,,,51600\n"              // 6
                         "合计（元）,,,,51600\n"              // 7
                         "ＰＶＣ管 总计,,,,1\n"               // 8
                         "累计,,,,51600\n"                    // 9
                         "电表 合计,DDS,只,2,\n"              // 10: a unit, so a material
                         "计数器,,,3,\n"                      // 11: no label at its end
                         "合计仪,,,,\n");                     // 12
  const MaterialList list = readMaterialList(folder / "sums.csv");
  std::vector<int> rows;
  for (const ListLine& l : list.lines) rows.push_back(l.row);
  EXPECT_EQ(rows, (std::vector<int>{2, 4, 10, 11, 12}));
  EXPECT_EQ(list.subtotalRows, (std::vector<int>{3, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(isSubtotalLine("合　计", ""));
  EXPECT_FALSE(isSubtotalLine("合计", "元"));
  EXPECT_FALSE(isSubtotalLine("计", ""));
}

TEST(ListReader, FindsTheHeaderOnlyInTheFirstTwentyRows) {
  testsupport::ProgramFolder folder;
  std::string above;
  for (int i = 0; i < 19; ++i) above += "说明第" + std::to_string(i + 1) + "行\n";
  testsupport::writeFile(folder / "row20.csv", above + "名称,数量\n中砂,3\n");
  const MaterialList list = readMaterialList(folder / "row20.csv");
  EXPECT_EQ(list.headerRow, 20);
  EXPECT_EQ(list.lines.size(), 1u);
  testsupport::writeFile(folder / "row21.csv", above + "另一行\n名称,数量\n中砂,3\n");
  const std::string error = errorOf(folder / "row21.csv");
  EXPECT_NE(error.find("row21.csv"), std::string::npos) << error;
  EXPECT_NE(error.find("找不到表头"), std::string::npos) << error;
  // A name column alone is not a header: 名称 also titles other tables.
  testsupport::writeFile(folder / "name-only.csv", "名称,备注\n中砂,3\n");
  EXPECT_NE(errorOf(folder / "name-only.csv").find("找不到表头"), std::string::npos);
  // Titles in full-width forms and with blanks are titles.
  testsupport::writeFile(folder / "wide.csv", "材料 名称,计量单位,工程量\n中砂,m3,3\n");
  EXPECT_EQ(readMaterialList(folder / "wide.csv").columns.at(ListColumn::Quantity), 2);
  testsupport::writeFile(folder / "brackets.csv", "名称,单位,数量,材料(设备)名称\n中砂,m3,3,x\n");
  EXPECT_EQ(readMaterialList(folder / "brackets.csv").columns.at(ListColumn::Name), 0);
}

TEST(ListReader, RefusesFilesThatAreMissingUnreadableOrDamaged) {
  testsupport::ProgramFolder folder;
  EXPECT_NE(errorOf(folder / "无此文件.xlsx").find("无此文件.xlsx"), std::string::npos);

  // A workbook cut short, and one that is no zip at all.
  const std::string good = folder / "good.xlsx";
  writeEstimateWorkbook(good, false);
  const std::string bytes = testsupport::readFile(good);
  testsupport::writeFile(folder / "cut.xlsx", bytes.substr(0, bytes.size() / 2));
  std::string error = errorOf(folder / "cut.xlsx");
  EXPECT_NE(error.find("cut.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("损坏"), std::string::npos) << error;
  testsupport::writeFile(folder / "text.xlsx", "名称,数量\n中砂,3\n");
  EXPECT_NE(errorOf(folder / "text.xlsx").find("text.xlsx"), std::string::npos);
  // A flipped byte inside a compressed part: the checksum finds it.
  std::string flipped = bytes;
  const size_t at = flipped.find("xl/worksheets/sheet1.xml");
  ASSERT_NE(at, std::string::npos);
  flipped[at + 100] = static_cast<char>(flipped[at + 100] ^ 0x55);
  testsupport::writeFile(folder / "flipped.xlsx", flipped);
  EXPECT_NE(errorOf(folder / "flipped.xlsx").find("flipped.xlsx"), std::string::npos);

  // XML that ends in the middle, a missing workbook part, a missing sheet part.
  auto parts = list_fixture::workbookParts({{"Sheet1", list_fixture::sheetXml(list_fixture::smallSheetData())}});
  parts[2].content = parts[2].content.substr(0, parts[2].content.size() - 40);
  testsupport::makeZip(folder / "xml.xlsx", parts);
  error = errorOf(folder / "xml.xlsx");
  EXPECT_NE(error.find("xml.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("xl/worksheets/sheet1.xml"), std::string::npos) << error;
  EXPECT_NE(error.find("损坏"), std::string::npos) << error;

  testsupport::makeZip(folder / "noworkbook.xlsx", {{ZipEntry::File, "a.xml", "<a/>"}});
  EXPECT_NE(errorOf(folder / "noworkbook.xlsx").find("xl/workbook.xml"), std::string::npos);
  parts = list_fixture::workbookParts({{"Sheet1", list_fixture::sheetXml(list_fixture::smallSheetData())}});
  parts.erase(parts.begin() + 2);
  testsupport::makeZip(folder / "nosheet.xlsx", parts);
  error = errorOf(folder / "nosheet.xlsx");
  EXPECT_NE(error.find("Sheet1"), std::string::npos) << error;

  // A shared string that is not in the table.
  parts = list_fixture::workbookParts(
      {{"Sheet1", list_fixture::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row>")}},
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>名称</t></si></sst>");
  testsupport::makeZip(folder / "index.xlsx", parts);
  EXPECT_NE(errorOf(folder / "index.xlsx").find("共享字符串"), std::string::npos);
}

TEST(ListReader, ReadsAHandWrittenWorkbookWithoutCellReferences) {
  testsupport::ProgramFolder folder;
  // Rows and cells without r attributes follow on; rich text runs are joined,
  // their phonetic runs left out; a boolean and a formula's text result.
  const std::string data =
      "<row><c t=\"inlineStr\"><is><t>名称</t></is></c><c t=\"inlineStr\"><is><t>单位</t></is></c>"
      "<c t=\"inlineStr\"><is><t>备注</t></is></c></row>"
      "<row><c t=\"s\"><v>0</v></c><c t=\"str\"><f>\"m\"&amp;\"3\"</f><v>m3</v></c><c t=\"b\"><v>1</v></c></row>";
  const std::string shared =
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<si><r><t>碎</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">石 </t></r><rPh><t>suishi</t></rPh></si></sst>";
  testsupport::makeZip(folder / "hand.xlsx", list_fixture::workbookParts({{"S", list_fixture::sheetXml(data)}}, shared));
  const MaterialList list = readMaterialList(folder / "hand.xlsx");
  ASSERT_EQ(list.lines.size(), 1u);
  EXPECT_EQ(list.lines[0].row, 2);
  EXPECT_EQ(list.lines[0].name, "碎石");
  EXPECT_EQ(list.lines[0].unit, "m3");
  EXPECT_EQ(list.lines[0].cells[2], "TRUE");
}

TEST(ListReader, RefusesHostileWorkbooksWithinBounds) {
  testsupport::ProgramFolder folder;
  const std::string small = list_fixture::sheetXml(list_fixture::smallSheetData());

  // A zip bomb: a sheet part of 30 MB of blanks, some kB packed.
  auto parts = list_fixture::workbookParts({{"Sheet1", small.substr(0, small.size() - 12) + std::string(30 << 20, ' ') + "</worksheet>"}});
  testsupport::makeZip(folder / "bomb.xlsx", parts);
  std::string error = errorOf(folder / "bomb.xlsx");
  EXPECT_NE(error.find("bomb.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("过大"), std::string::npos) << error;

  // Entity expansion ("billion laughs") in the shared strings.
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE sst [<!ENTITY a \"hahahahaha\">";
  for (char c = 'b'; c <= 'k'; ++c) {
    laughs += std::string("<!ENTITY ") + c + " \"";
    for (int i = 0; i < 10; ++i) laughs += std::string("&") + static_cast<char>(c - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>&k;</t></si></sst>";
  parts = list_fixture::workbookParts(
      {{"Sheet1", list_fixture::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")}}, laughs);
  testsupport::makeZip(folder / "laughs.xlsx", parts);
  error = errorOf(folder / "laughs.xlsx");
  EXPECT_NE(error.find("laughs.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("DTD"), std::string::npos) << error;

  // A long shared string repeated by many small cells: 6,000 cells × 30,000
  // characters would be 180 MB of text from a file of a few kB.
  std::string longText;
  for (int i = 0; i < 30000; ++i) longText += static_cast<char>('a' + (i * 7919 % 26));
  std::string rows = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>名称</t></is></c>"
                     "<c r=\"B1\" t=\"inlineStr\"><is><t>数量</t></is></c></row>";
  for (int r = 2; r < 6002; ++r) rows += "<row r=\"" + std::to_string(r) + "\"><c t=\"s\"><v>0</v></c></row>";
  parts = list_fixture::workbookParts({{"Sheet1", list_fixture::sheetXml(rows)}},
                                      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>" +
                                          longText + "</t></si></sst>");
  testsupport::makeZip(folder / "repeat.xlsx", parts);
  error = errorOf(folder / "repeat.xlsx");
  EXPECT_NE(error.find("repeat.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("过大"), std::string::npos) << error;

  // A huge shared-string table: more items than a list has cells. An
  // incompressible picture beside it keeps the archive within its ratio.
  std::string table = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
  for (int i = 0; i < (1 << 20) + 1; ++i) table += "<si/>";
  table += "</sst>";
  parts = list_fixture::workbookParts({{"Sheet1", small}}, table);
  std::string picture;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) picture += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  parts.push_back({ZipEntry::File, "xl/media/image1.png", picture});
  testsupport::makeZip(folder / "table.xlsx", parts);
  error = errorOf(folder / "table.xlsx");
  EXPECT_NE(error.find("共享字符串表过大"), std::string::npos) << error;

  // More entries than a workbook has.
  parts = list_fixture::workbookParts({{"Sheet1", small}});
  for (int i = 0; i < 10001; ++i) parts.push_back({ZipEntry::File, "xl/media/x" + std::to_string(i) + ".bin", "x"});
  testsupport::makeZip(folder / "entries.xlsx", parts);
  error = errorOf(folder / "entries.xlsx");
  EXPECT_NE(error.find("entries.xlsx"), std::string::npos) << error;
  EXPECT_NE(error.find("过大"), std::string::npos) << error;

  // Cell references past the sheet's last column or out of order.
  parts = list_fixture::workbookParts({{"Sheet1", list_fixture::sheetXml("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>")}});
  testsupport::makeZip(folder / "wide.xlsx", parts);
  EXPECT_NE(errorOf(folder / "wide.xlsx").find("XFE1"), std::string::npos);
  parts = list_fixture::workbookParts({{"Sheet1", list_fixture::sheetXml("<row r=\"3\"/><row r=\"2\"/>")}});
  testsupport::makeZip(folder / "order.xlsx", parts);
  EXPECT_NE(errorOf(folder / "order.xlsx").find("行号"), std::string::npos);
  // A merge down a whole column costs nothing.
  parts = list_fixture::workbookParts(
      {{"Sheet1", list_fixture::sheetXml(list_fixture::smallSheetData(),
                                         "<mergeCells><mergeCell ref=\"A2:A1048576\"/></mergeCells>")}});
  testsupport::makeZip(folder / "merge.xlsx", parts);
  EXPECT_EQ(readMaterialList(folder / "merge.xlsx").lines.size(), 1u);
}

TEST(ListNumber, ReadsNumbersAsListsWriteThem) {
  EXPECT_EQ(*listNumber("1,234.5"), dec("1234.5"));
  EXPECT_EQ(*listNumber(" 12 "), dec("12"));
  EXPECT_EQ(*listNumber("\xE3\x80\x80" "12.50\xC2\xA0"), dec("12.5"));  // full-width and no-break blanks
  EXPECT_EQ(*listNumber("-1,234,567.25"), dec("-1234567.25"));
  EXPECT_EQ(*listNumber("1.5e3"), dec("1500"));
  EXPECT_EQ(*listNumber("2.5E-2"), dec("0.025"));
  EXPECT_EQ(listNumber("1.5e3")->scale(), 0);
  for (const char* bad : {"", "abc", "12,34", "1,2345", ",123", "1 234", "1e", "1e5000", "12吨", "1.2.3"})
    EXPECT_FALSE(listNumber(bad)) << bad;
}
