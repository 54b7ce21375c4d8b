// The priced list written out: the user's columns, then the match, price,
// amount and status, a total row, and with an adjustment its columns, rule
// and risk range in the title rows. Read back by the list reader itself.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "platform/zip/unzip.h"
#include "price_tools/pricelist/list_export.h"
#include "support/test_support.h"

using namespace price_tools::pricelist;
using price_tools::Decimal;

namespace {

Decimal dec(const char* s) { return *Decimal::parse(s); }

// Two lines priced by hand: one matched, one without an answer.
PricedList pricedByHand(const std::string& folder, bool adjusted) {
  testsupport::writeFile(folder + "/清单.csv",
                         "某某工程材料表\n名称,规格型号,单位,数量,编号\n螺纹钢,HRB400 Φ20,t,\"1,234.5\",0012\n防火涂料,,kg,3,0013\n");
  auto list = std::make_shared<MaterialList>(readMaterialList(folder + "/清单.csv"));
  PricedList p;
  p.list = list;
  p.library = "2026年12月信息价";
  p.price = {"价格-含税", "PriceTax", "0.00"};
  PricedLine a;
  a.line = &list->lines[0];
  a.status = MatchStatus::Matched;
  Candidate c;
  c.name = "螺纹钢 HRB400";
  c.model = "Φ16-Φ25";
  c.unit = "吨";
  c.price = dec("4142.2");
  a.match = c;
  a.amount = (dec("1234.5") * dec("4142.2")).rounded(2);
  PricedLine b;
  b.line = &list->lines[1];
  b.status = MatchStatus::None;
  p.lines = {a, b};
  p.total = *a.amount;
  if (adjusted) {
    p.adjusted = true;
    p.base = "2026年01月信息价";
    p.current = {"2026年11月信息价", "2026年12月信息价"};
    p.risk = dec("0.05");
    p.lines[0].basePrice = dec("3620.34");
    p.lines[0].currentPrice = dec("4047.28");
    p.lines[0].adjustment = Adjustment{dec("245.92"), dec("303588.24")};
    p.adjustmentTotals = {dec("303588.24"), Decimal(), dec("303588.24")};
  }
  return p;
}

}  // namespace

TEST(ListExport, CsvCarriesTheUsersColumnsThePricesAndATotal) {
  testsupport::ProgramFolder folder;
  const PricedList p = pricedByHand(folder.path(), false);
  const std::string path = folder / "out.csv";
  ASSERT_TRUE(writePricedCsv(p, path).ok());
  std::vector<std::string> lines = testsupport::readLines(path);
  for (std::string& l : lines) {
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.back(), '\r');  // lines end in CR LF
    l.pop_back();
  }
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0].substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(lines[0].find("某某工程材料表"), std::string::npos);
  EXPECT_NE(lines[1].find("2026年12月信息价"), std::string::npos);
  EXPECT_EQ(lines[2], "名称,规格型号,单位,数量,编号,匹配材料,规格型号,单位,单价,合价,匹配状态");
  EXPECT_EQ(lines[3], "螺纹钢,HRB400 Φ20,t,1234.5,0012,螺纹钢 HRB400,Φ16-Φ25,吨,4142.20,5113545.90,匹配");
  EXPECT_EQ(lines[4], "防火涂料,,kg,3,0013,,,,,,未匹配");
  EXPECT_EQ(lines[5], "合计,,,,,,,,,5113545.90,");
  // GBK on request, read back by the list reader.
  ASSERT_TRUE(writePricedCsv(p, folder / "gbk.csv", true).ok());
  const MaterialList back = readMaterialList(folder / "gbk.csv");
  EXPECT_EQ(back.lines[0].cells[9], "5113545.90");
}

TEST(ListExport, XlsxWritesNumbersAsNumbersWithTheAdjustmentInTheTitleRows) {
  testsupport::ProgramFolder folder;
  const PricedList p = pricedByHand(folder.path(), true);
  const std::string path = folder / "out.xlsx";
  ASSERT_TRUE(writePricedXlsx(p, path).ok());
  const MaterialList back = readMaterialList(path);
  ASSERT_GE(back.titleRows.size(), 4u);
  EXPECT_NE(back.titleRows[2].find("±5%"), std::string::npos) << back.titleRows[2];
  EXPECT_NE(back.titleRows[2].find("2026年01月信息价"), std::string::npos);
  EXPECT_NE(back.titleRows[3].find("U×(1+r)"), std::string::npos);
  ASSERT_EQ(back.headers.size(), 15u);
  EXPECT_EQ(back.headers[14], "调差金额");
  // Two lines; its rises, falls and total are read back as the list's own subtotals.
  ASSERT_EQ(back.lines.size(), 2u);
  EXPECT_EQ(back.subtotalRows.size(), 3u);
  EXPECT_EQ(back.lines[0].cells[4], "0012");  // a code stays text
  EXPECT_EQ(back.lines[0].cells[8], "4142.2");
  EXPECT_EQ(back.numberFormats[8], "0.00");
  EXPECT_EQ(back.lines[0].cells[14], "303588.24");
  // Numbers are number cells, texts shared strings.
  std::map<std::string, std::string> parts;
  ASSERT_EQ(platform::readArchiveEntries(path, {}, [](const std::string& n) { return n == "xl/worksheets/sheet1.xml"; }, parts).code, 0);
  const std::string& sheet = parts["xl/worksheets/sheet1.xml"];
  EXPECT_NE(sheet.find("<v>4142.2</v>"), std::string::npos);
  EXPECT_NE(sheet.find("<v>1234.5</v>"), std::string::npos);
}
