// Column formats end to end: a library written by the Jet writer, read by the
// provider, filled into the product grid and printed by velmora-cli browse.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "program_folder.h"

#ifdef VELMORA_CLI

using namespace fixture;

namespace {

std::string browse(const ProgramFolder& folder, const std::string& args) {
  const std::string cmd = std::string(VELMORA_CLI) + " browse '" + folder.path().string() + "' " + args + " 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) out += "\n(exit " + std::to_string(WEXITSTATUS(st)) + ")";
  return out;
}

// Products with Currency and Double prices on halfway values, each column with
// its own format from the layout table.
jetwrite::Database pricedLibrary() {
  jetwrite::Database db = library();
  for (jetwrite::Table& t : db.tables) {
    if (t.name != "CLProduct") continue;
    t.columns = {{"ID", ColumnType::Long},         {"Name", ColumnType::Text, 100},
                 {"CategoryID", ColumnType::Long}, {"FactoryID", ColumnType::Long},
                 {"Money", ColumnType::Currency},  {"Amount", ColumnType::Double},
                 {"Whole", ColumnType::Double},    {"Big", ColumnType::Currency},
                 {"Ratio", ColumnType::Double},    {"Signed", ColumnType::Currency}};
    t.rows = {
        {"1", "a", "3", "1", "1420.885", "1420.885", "2.5", "922337203685477.5807", "0.125", "-0.005"},
        {"2", "b", "3", "1", "9.885", "9.885", "-2.5", "-1234567.125", "0.0005", "0"},
        {"3", "c", "3", "1", "48.885", "48.885", "0.5", "99999999999.995", "-0.0005", "1420.885"},
        {"4", "d", "3", "1", "-0.005", "-0.005", "1420.885", "0.005", "1", "-0.004"},
        {"5", "e", "3", "1", "3804.885", "1.005", "-0.4", "-922337203685477.5808", "0", null},
    };
  }
  return db;
}

Rows pricedLayout() {
  Rows rows = standardLayout();
  std::erase_if(rows, [](const std::vector<Value>& r) { return r[0] == "CLProduct"; });
  rows.push_back(col("CLProduct", 1, "名称", "Name", "600"));
  rows.push_back(col("CLProduct", 2, "货币", "Money", "600", "0.00"));
  rows.push_back(col("CLProduct", 3, "双精度", "Amount", "600", "0.00"));
  rows.push_back(col("CLProduct", 4, "整数", "Whole", "600", "0"));
  rows.push_back(col("CLProduct", 5, "大额", "Big", "600", "#,##0.00"));
  rows.push_back(col("CLProduct", 6, "比例", "Ratio", "600", "0.0%"));
  rows.push_back(col("CLProduct", 7, "符号", "Signed", "600", "\"约\"0.00\"元\";(0.00);\\-"));
  rows.push_back(col("CLProduct", 8, "分类", "CategoryID", "0"));
  return rows;
}

Rows pricedSettings() {
  return {{"Category", "ID", "ParentID", "ID", null, null},
          {"CLProduct", "ID", null, "ID", null, null},
          {"Factory", "ID", null, "ID", null, null}};
}

}  // namespace

TEST(FormatThroughBrowse, HalfwayPricesShowExactlyInTheProductGrid) {
  ProgramFolder folder(pricedLayout(), pricedSettings(), {}, pricedLibrary());
  EXPECT_EQ(browse(folder, "category 3"),
            "level\t名称\t货币\t双精度\t整数\t大额\t比例\t符号\n"
            "0\ta\t1420.89\t1420.89\t3\t922,337,203,685,477.58\t12.5%\t(0.01)\n"
            "0\tb\t9.89\t9.89\t-3\t-1,234,567.13\t0.1%\t-\n"
            "0\tc\t48.89\t48.89\t1\t100,000,000,000.00\t-0.1%\t约1420.89元\n"
            "0\td\t-0.01\t-0.01\t1421\t0.01\t100.0%\t(0.00)\n"
            "0\te\t3804.89\t1.01\t0\t-922,337,203,685,477.58\t0.0%\t\n");
  // The same texts in the exports.
  const std::string csv = browse(folder, "category 3 --format csv");
  EXPECT_NE(csv.find("0,a,1420.89,1420.89,3,\"922,337,203,685,477.58\",12.5%,(0.01)\r\n"), std::string::npos) << csv;
}

#endif
