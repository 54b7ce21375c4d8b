// velmora-cli pricelist on a program folder written by the Jet writer: the
// JSON object and its null and number fields, the rules for several makers,
// the adjustment over a period of months, the risk range, the user's choices,
// CSV, text and xlsx carrying the same columns, and bad input refused with a
// clear message and nothing written over the list or a library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "month_folder.h"
#include "price_tools/pricelist/choices.h"
#include "price_tools/pricelist/material_list.h"
#include "support/test_support.h"

using namespace months_fixture;
using namespace price_tools::pricelist;

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

CliRun run(const std::string& scratch, const std::string& args) {
  const std::string errPath = scratch + "/stderr.txt";
  const std::string cmd = std::string(VELMORA_CLI) + " " + args + " 2>'" + errPath + "'";
  CliRun r;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = testsupport::readFile(errPath);
  return r;
}

Factories makers() {
  return {{1, "东岚钢铁"}, {2, "青川特钢"}, {3, "海螺水泥"}, {4, "北辰钢业"}, {5, "冀东水泥"}};
}

// Three months. 螺纹钢 HRB400 Φ20 from three makers, 水泥 P.O42.5 from two
// whose average falls on half a cent.
std::vector<Item> month(const char* s1, const char* s2, const char* s4, const char* c3, const char* c5) {
  return {{1, "螺纹钢 HRB400", "Φ20", "吨", 1, s1}, {2, "螺纹钢 HRB400", "Φ20", "吨", 2, s2},
          {3, "螺纹钢 HRB400", "Φ20", "吨", 4, s4}, {4, "水泥", "P.O42.5", "吨", 3, c3, 5},
          {5, "水泥", "P.O42.5", "吨", 5, c5, 5},  {6, "圆钢", "Φ8", "吨", 1, "3900", 3}};
}

class PricelistCli : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.writeLibrary("2026年01月信息价", month("4000", "4100", "4300", "450.00", "450.01"), makers());
    folder.writeLibrary("2026年02月信息价", month("4200", "4300", "4500", "460.00", "460.01"), makers());
    folder.writeLibrary("2026年03月信息价", month("4400", "4500", "4700", "470.00", "470.03"), makers());
    list = folder.file("材料表.csv");
    listBytes =
        "名称,规格型号,单位,数量,单价\r\n"
        "螺纹钢 HRB400,Φ20,t,12.5,4000\r\n"
        "水泥,P.O42.5,吨,3,\r\n"
        ",,,58076.69,\r\n"  // a subtotal without a name
        
        ",,,,\r\n"
        "不锈钢板,304 δ3,吨,1,\r\n";
    testsupport::writeFile(list, listBytes);
    q = "pricelist '" + folder.path() + "' --input '" + list + "'";
  }
  std::string scratch() const { return folder.path(); }

  MonthFolder folder;
  std::string list, listBytes, q;
};

TEST_F(PricelistCli, JsonHasEveryFieldAsNumbersAndNulls) {
  const CliRun r = run(scratch(), q + " --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  // The latest library; 12.5 × 4133.33 (the makers' average) = 51666.625 -> 51666.63.
  EXPECT_EQ(r.out.rfind("{\"library\":\"2026年03月信息价\",\"price\":\"价格-含税\",\"lines\":[\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("{\"line\":2,\"name\":\"螺纹钢 HRB400\",\"model\":\"Φ20\",\"unit\":\"t\",\"quantity\":12.5,"
                       "\"bid\":4000,\"status\":\"matched\",\"match\":{\"id\":\"1\",\"name\":\"螺纹钢 HRB400\","
                       "\"model\":\"Φ20\",\"unit\":\"吨\",\"factory\":null,\"price\":4533.33},\"candidates\":[{\"id\":"
                       "\"1\",\"name\":\"螺纹钢 HRB400\",\"model\":\"Φ20\",\"unit\":\"吨\",\"factory\":null,"
                       "\"price\":4533.33,\"score\":"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"amount\":56666.63}"), std::string::npos) << r.out;  // 12.5 × 4533.33 = 56666.625
  // 水泥: no bid (null), the makers' average 470.015 rounded away from zero.
  EXPECT_NE(r.out.find("{\"line\":3,\"name\":\"水泥\",\"model\":\"P.O42.5\",\"unit\":\"吨\",\"quantity\":3,"
                       "\"bid\":null,\"status\":\"matched\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"factory\":null,\"price\":470.02}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"amount\":1410.06}"), std::string::npos) << r.out;
  // Subtotal and blank rows are skipped; the unanswerable line has no match.
  EXPECT_EQ(r.out.find("\"line\":4"), std::string::npos);
  EXPECT_EQ(r.out.find("\"line\":5"), std::string::npos);
  EXPECT_NE(r.out.find("{\"line\":6,\"name\":\"不锈钢板\",\"model\":\"304 δ3\",\"unit\":\"吨\",\"quantity\":1,"
                       "\"bid\":null,\"status\":\"none\",\"match\":null,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"amount\":null}"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"base\":"), std::string::npos);  // no adjustment asked for
  EXPECT_NE(r.out.find("\n],\"totals\":{\"amount\":58076.69,\"matched\":2,\"check\":0,\"none\":1,\"subtotals\":0}}\n"),
            std::string::npos)
      << r.out;
  // At most five candidates, each with its score.
  size_t from = r.out.find("\"candidates\":[");
  while (from != std::string::npos) {
    const size_t end = r.out.find("],\"amount\"", from);
    ASSERT_NE(end, std::string::npos);
    const std::string c = r.out.substr(from, end - from);
    size_t ids = 0, scores = 0;
    for (size_t at = c.find("{\"id\":"); at != std::string::npos; at = c.find("{\"id\":", at + 1)) ++ids;
    for (size_t at = c.find("\"score\":"); at != std::string::npos; at = c.find("\"score\":", at + 1)) ++scores;
    EXPECT_LE(ids, 5u);
    EXPECT_EQ(ids, scores);
    from = r.out.find("\"candidates\":[", end);
  }
}

TEST_F(PricelistCli, SeveralMakersFollowTheRule) {
  auto priceOf = [&](const std::string& rule) {
    const CliRun r = run(scratch(), q + " --library 2026年01月信息价 --several " + rule + " --format json");
    EXPECT_EQ(r.status, 0) << r.err;
    const size_t at = r.out.find("\"match\":{");
    const size_t p = r.out.find("\"factory\":", at);
    return r.out.substr(p, r.out.find('}', p) - p);
  };
  EXPECT_EQ(priceOf("average"), "\"factory\":null,\"price\":4133.33");
  EXPECT_EQ(priceOf("lowest"), "\"factory\":\"东岚钢铁\",\"price\":4000");
  EXPECT_EQ(priceOf("highest"), "\"factory\":\"北辰钢业\",\"price\":4300");
  EXPECT_EQ(priceOf("median"), "\"factory\":null,\"price\":4100");
  EXPECT_EQ(priceOf("factory:2"), "\"factory\":\"青川特钢\",\"price\":4100");
  // The two cement makers: 450.005 rounds to 450.01, away from zero.
  const CliRun r = run(scratch(), q + " --library 2026年01月信息价 --format json");
  EXPECT_NE(r.out.find("\"factory\":null,\"price\":450.01}"), std::string::npos) << r.out;
}

TEST_F(PricelistCli, AdjustmentOverSeveralMonthsTakesTheMean) {
  CliRun r = run(scratch(), q + " --base 2026年01月信息价 --current 2026年02月信息价,2026年03月信息价 --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  // 螺纹钢: B 4133.33, T 4000, C = (4333.33 + 4533.33) / 2 = 4433.33;
  // U × 1.05 = 4339.9965, 4433.33 − 4339.9965 = 93.3335 -> 93.33; × 12.5 = 1166.625 -> 1166.63.
  EXPECT_NE(r.out.find("\"amount\":56666.63,\"base\":4133.33,\"current\":4433.33,\"adjust\":93.33,"
                       "\"adjust_amount\":1166.63}"),
            std::string::npos)
      << r.out;
  // 水泥: B 450.01 = T, C = (460.01 + 470.02) / 2 = 465.015 -> 465.02, within 5%.
  EXPECT_NE(r.out.find("\"base\":450.01,\"current\":465.02,\"adjust\":0,\"adjust_amount\":0}"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"base\":null,\"current\":null,\"adjust\":null,\"adjust_amount\":null}"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(",\"rises\":1166.63,\"falls\":0,\"net\":1166.63}}"), std::string::npos) << r.out;

  // A risk range of 2%: U × 1.02 = 4215.9966 -> 217.3334 -> 217.33 × 12.5 = 2716.625;
  // 水泥 450.01 × 1.02 = 459.0102 -> 6.0098 -> 6.01 × 3 = 18.03.
  r = run(scratch(), q + " --base 2026年01月信息价 --current 2026年02月信息价,2026年03月信息价 --risk 2 --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"adjust\":217.33,\"adjust_amount\":2716.63}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"adjust\":6.01,\"adjust_amount\":18.03}"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(",\"rises\":2734.66,\"falls\":0,\"net\":2734.66}}"), std::string::npos) << r.out;

  // The base month also in the period, not first: 螺纹钢 C = (4533.33 + 4133.33) / 2 = 4333.33,
  // 4333.33 − 4215.9966 -> 117.33 × 12.5 = 1466.625; 水泥 C = (470.02 + 450.01) / 2 -> 460.02,
  // 460.02 − 459.0102 -> 1.01 × 3 = 3.03.
  r = run(scratch(), q + " --base 2026年01月信息价 --current 2026年03月信息价,2026年01月信息价 --risk 2 --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"base\":4133.33,\"current\":4333.33,\"adjust\":117.33,\"adjust_amount\":1466.63}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"base\":450.01,\"current\":460.02,\"adjust\":1.01,\"adjust_amount\":3.03}"),
            std::string::npos)
      << r.out;

  // One current month: its own price.
  r = run(scratch(), q + " --base 2026年01月信息价 --current 2026年02月信息价 --format json");
  EXPECT_EQ(r.out.rfind("{\"library\":\"2026年02月信息价\"", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"base\":4133.33,\"current\":4333.33,\"adjust\":0,"), std::string::npos) << r.out;
}

TEST_F(PricelistCli, ChoicesFileDecidesTheLine) {
  Choices choices;
  ListLine steel;
  steel.name = "螺纹钢 HRB400";
  steel.model = "Φ20";
  steel.unit = "t";
  choices.set(steel, {false, "圆钢", "Φ8", "吨", "东岚钢铁"});
  ListLine plate;
  plate.name = "不锈钢板";
  plate.model = "304 δ3";
  plate.unit = "吨";
  choices.set(plate, {false, "水泥", "P.O42.5", "吨", "冀东水泥"});
  const std::string path = folder.file("choices.json");
  choices.save(path);
  const CliRun r = run(scratch(), q + " --choices '" + path + "' --format json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"status\":\"matched\",\"match\":{\"id\":\"6\",\"name\":\"圆钢\",\"model\":\"Φ8\","
                       "\"unit\":\"吨\",\"factory\":\"东岚钢铁\",\"price\":3900}"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"line\":6,\"name\":\"不锈钢板\",\"model\":\"304 δ3\",\"unit\":\"吨\",\"quantity\":1,"
                       "\"bid\":null,\"status\":\"matched\",\"match\":{\"id\":\"5\",\"name\":\"水泥\","
                       "\"model\":\"P.O42.5\",\"unit\":\"吨\",\"factory\":\"冀东水泥\",\"price\":470.03}"),
            std::string::npos)
      << r.out;
  // The chosen maker's prices in the base and current months, not the average.
  const CliRun a = run(scratch(), q + " --choices '" + path + "' --base 2026年01月信息价 --current 2026年02月信息价 --format json");
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.out.find("\"amount\":460.01,\"base\":450.01,\"current\":460.01,\"adjust\":0,"), std::string::npos) << a.out;
  // The Factory rule likewise: 青川特钢's prices in every month.
  const CliRun f = run(scratch(), q + " --several factory:2 --base 2026年01月信息价 --current 2026年02月信息价,2026年03月信息价 --format json");
  ASSERT_EQ(f.status, 0) << f.err;
  // C = (4300 + 4500) / 2 = 4400; U = 4100, × 1.05 = 4305; 95 × 12.5 = 1187.5.
  EXPECT_NE(f.out.find("\"base\":4100,\"current\":4400,\"adjust\":95,\"adjust_amount\":1187.5}"), std::string::npos) << f.out;
}

TEST_F(PricelistCli, CsvTextAndXlsxCarryTheSameColumns) {
  const std::string adj = " --base 2026年01月信息价 --current 2026年02月信息价,2026年03月信息价";
  CliRun r = run(scratch(), q + adj + " --format csv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string head =
      "line,name,model,unit,quantity,bid,status,match_id,match_name,match_model,match_unit,match_factory,price,"
      "score,amount,base,current,adjust,adjust_amount\r\n";
  EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\r\n2,螺纹钢 HRB400,Φ20,t,12.5,4000,matched,1,螺纹钢 HRB400,Φ20,吨,,4533.33,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(",56666.63,4133.33,4433.33,93.33,1166.63\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r\n6,不锈钢板,304 δ3,吨,1,,none,,,,,,,,,,,,\r\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);

  r = run(scratch(), q + " --format text");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("line\tname\tmodel\tunit\tquantity\tbid\tstatus\tmatch_id\tmatch_name\tmatch_model\t"
                        "match_unit\tmatch_factory\tprice\tscore\tamount\n",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("\n3\t水泥\tP.O42.5\t吨\t3\t\tmatched\t4\t水泥\tP.O42.5\t吨\t\t470.02\t"), std::string::npos)
      << r.out;

  // xlsx: the user's own columns and the priced ones, read back.
  const std::string out = folder.file("载价.xlsx");
  r = run(scratch(), q + adj + " --format xlsx --output '" + out + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const MaterialList back = readMaterialList(out, "");
  ASSERT_GE(back.lines.size(), 3u);
  std::string headers;
  for (const std::string& h : back.headers) headers += h + "|";
  EXPECT_NE(headers.find("名称|规格型号|单位|数量|单价|匹配材料|"), std::string::npos) << headers;
  std::string cells;
  for (const std::string& c : back.lines[0].cells) cells += c + "|";
  EXPECT_NE(cells.find("|4533.33|56666.63|匹配|"), std::string::npos) << cells;
  EXPECT_NE(cells.find("|4133.33|4433.33|93.33|1166.63"), std::string::npos) << cells;
  // Without --output xlsx is refused.
  r = run(scratch(), q + " --format xlsx");
  EXPECT_EQ(r.status, 2);
}

TEST_F(PricelistCli, BadInputIsRefusedAndNothingIsWrittenOver) {
  CliRun r = run(scratch(), "pricelist '" + folder.path() + "' --input '" + folder.file("无此表.csv") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("无此表.csv"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");

  r = run(scratch(), q + " --several mean");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--several takes average, lowest, highest, median or factory:ID"), std::string::npos) << r.err;
  r = run(scratch(), q + " --several factory:");
  EXPECT_EQ(r.status, 2);

  r = run(scratch(), q + " --library 2025年13月信息价");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("2025年13月信息价"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  r = run(scratch(), q + " --base 2025年13月信息价 --current 2026年02月信息价");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("2025年13月信息价"), std::string::npos) << r.err;

  for (const char* risk : {"-1", "101", "五", "5%"}) {
    r = run(scratch(), q + " --base 2026年01月信息价 --current 2026年02月信息价 --risk " + risk);
    EXPECT_EQ(r.status, 2) << risk;
    EXPECT_NE(r.err.find("--risk takes a per cent from 0 to 100"), std::string::npos) << risk << r.err;
  }
  r = run(scratch(), q + " --risk 3");  // no adjustment to apply it to
  EXPECT_EQ(r.status, 2);
  r = run(scratch(), q + " --base 2026年01月信息价");
  EXPECT_EQ(r.status, 2);

  // --output onto the list itself or a library: refused, both untouched.
  const std::string lib = folder.file("2026年03月信息价.zdj");
  const std::string libBytes = testsupport::readFile(lib);
  for (const std::string& target : {list, lib, folder.file("2026年03月信息价.ZDJ")}) {
    for (const char* format : {"csv", "xlsx"}) {
      r = run(scratch(), q + " --format " + format + " --output '" + target + "'");
      EXPECT_EQ(r.status, 2) << target << " " << format;
      EXPECT_NE(r.err.find("--output"), std::string::npos) << r.err;
    }
  }
  EXPECT_EQ(testsupport::readFile(list), listBytes);
  EXPECT_EQ(testsupport::readFile(lib), libBytes);
  EXPECT_FALSE(testsupport::exists(folder.file("2026年03月信息价.ZDJ")));
  // The choices file is the user's too; a new file next to them is fine.
  const std::string choices = folder.file("choices.json");
  Choices().save(choices);
  const std::string choicesBytes = testsupport::readFile(choices);
  r = run(scratch(), q + " --choices '" + choices + "' --format json --output '" + choices + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(testsupport::readFile(choices), choicesBytes);
  r = run(scratch(), q + " --format csv --output '" + folder.file("载价.csv") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testsupport::readFile(folder.file("载价.csv")).rfind("line,name,", 0), 0u);
}

}  // namespace
