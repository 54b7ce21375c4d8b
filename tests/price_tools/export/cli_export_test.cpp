// velmora-cli browse writing files as the window exports them, and searching
// by pinyin initials, run as users run it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "../../data/program_folder.h"

namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun browse(const fixture::ProgramFolder& folder, const std::string& args) {
  const std::string cmd =
      std::string(VELMORA_CLI) + " browse '" + folder.path().string() + "' " + args + " 2>&1";
  CliRun run{0, {}};
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  const int st = p ? pclose(p) : -1;
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return run;
}

std::string capture(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(BrowseExport, XlsxCsvPdfFilesAndThePinyinField) {
  fixture::ProgramFolder folder;
  std::filesystem::rename(folder.file("lib.zdj"), folder.file("2026年12月信息价.zdj"));
  const std::string xlsx = folder.file("out.xlsx");
  CliRun r = browse(folder, "category 3 --format xlsx --output '" + xlsx + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string sheet = capture("unzip -p '" + xlsx + "' xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find("<t>2026年12月信息价  全部 &gt; 钢材 &gt; 螺纹钢  "), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("<mergeCell ref=\"A2:B2\"/>"), std::string::npos) << "产品 over 名称 and 厂家";
  EXPECT_NE(sheet.find("<v>3.5</v>"), std::string::npos) << sheet;
  EXPECT_NE(capture("unzip -p '" + xlsx + "' xl/workbook.xml").find("name=\"2026年12月信息价\""), std::string::npos);

  const std::string csv = folder.file("out.csv");
  r = browse(folder, "search 拼音简码 lwg --format csv --numbers raw --output '" + csv + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(csv), "\xEF\xBB\xBF产品-名称,产品-厂家,价格\r\n螺纹钢 HRB400,杭州钢铁,3.5\r\n螺纹钢 HRB500,杭州钢铁,4.25\r\n");
  r = browse(folder, "factory 3 --format csv --encoding gbk --output '" + csv + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(csv).substr(0, 4), "\xB2\xFA\xC6\xB7") << "产品 in code page 936";

  const std::string pdf = folder.file("out.pdf");
  r = browse(folder, "search 拼音简码 SN --format pdf --output '" + pdf + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string text = capture("pdftotext -layout '" + pdf + "' -");
  EXPECT_NE(text.find("普通硅酸盐"), std::string::npos) << text;  // (水 may read as the radical ⽔)
  EXPECT_NE(text.find("0.35"), std::string::npos) << text;
  EXPECT_EQ(text.find("螺纹钢 HRB"), std::string::npos) << text;

  // Printed as before without --output; the pinyin field prints the grid.
  r = browse(folder, "search 拼音简码 gb");
  EXPECT_EQ(r.out, "level\t产品-名称\t产品-厂家\t价格\n0\t钢板\t杭州钢铁\t5.00\n");
  // Bad combinations are refused and write nothing.
  r = browse(folder, "category 3 --format xlsx");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("--format xlsx needs --output FILE"), std::string::npos);
  r = browse(folder, "category 3 --format json --output '" + folder.file("x.json") + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(std::filesystem::exists(folder.file("x.json")));
  r = browse(folder, "category 3 --format xlsx --output '" + folder.file("none/x.xlsx") + "'");
  EXPECT_EQ(r.status, 1);
  r = browse(folder, "search 拼音 x");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("产品名称, 生产厂家 or 拼音简码"), std::string::npos);
}

// --output never replaces the open library, pro.mdb, a FIFO or a device, and
// says why; a PDF that meets a full disk (the file size limit, which the
// kernel enforces as it does a full disk) is a failure that leaves no file.
TEST(BrowseExport, OutputNeverReplacesALibraryTheProjectDatabaseAFifoOrADevice) {
  fixture::ProgramFolder folder;
  std::filesystem::rename(folder.file("lib.zdj"), folder.file("2026年12月信息价.zdj"));
  const std::string library = slurp(folder.file("2026年12月信息价.zdj"));
  const std::string project = slurp(folder.file("pro.mdb"));
  ASSERT_EQ(mkfifo(folder.file("pipe.csv").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/null", folder.file("null.pdf"));
  for (const char* target : {"2026年12月信息价.zdj", "pro.mdb", "PRO.MDB", "pipe.csv", "null.pdf"}) {
    for (const char* format : {"csv", "xlsx", "pdf"}) {
      const CliRun r = browse(folder, std::string("category 3 --format ") + format + " --output '" +
                                          folder.file(target) + "'");
      EXPECT_EQ(r.status, 1) << format << " over " << target << ": " << r.out;
      EXPECT_NE(r.out.find("an export"), std::string::npos) << r.out;
    }
  }
  EXPECT_EQ(slurp(folder.file("2026年12月信息价.zdj")), library);
  EXPECT_EQ(slurp(folder.file("pro.mdb")), project);
  EXPECT_TRUE(std::filesystem::is_fifo(folder.file("pipe.csv")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder.file("null.pdf")));
  // The library still opens and lists its products.
  EXPECT_EQ(browse(folder, "category 3").status, 0);

  const std::string pdf = folder.file("full.pdf");
  const std::string cmd = "trap '' XFSZ; ulimit -f 2; exec " + std::string(VELMORA_CLI) + " browse '" +
                          folder.path().string() + "' category 3 --format pdf --output '" + pdf + "' 2>&1";
  const std::string out = capture("bash -c \"" + cmd + "\"; echo \"exit $?\"");
  EXPECT_NE(out.find("exit 1"), std::string::npos) << out;
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(pdf));
  for (const auto& e : std::filesystem::directory_iterator(folder.path()))
    EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
}
