// velmora-cli browse: the navigator session run headless on a program folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "common/items.h"
#include "program_folder.h"

#ifdef VELMORA_CLI

using namespace fixture;

namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun browse(const ProgramFolder& folder, const std::string& args) {
  const std::string cmd = std::string(VELMORA_CLI) + " browse '" + folder.path().string() + "' " + args + " 2>/dev/null";
  CliRun run{0, {}};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, {}};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.out.append(buf, n);
  const int st = pclose(p);
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return run;
}

}  // namespace

TEST(BrowseCommand, GridsPagesFormatsAndErrors) {
  ProgramFolder folder;
  std::filesystem::rename(folder.file("lib.zdj"), folder.file("2026年12月信息价.zdj"));
  jetwrite::writeDatabase(library(), folder.file("2026年11月信息价.ZDJ"));
  EXPECT_TRUE(common::writeItemFile(folder.file("MainPro.ini"), {std::string("url=http://svc")}));
  std::ofstream(folder.file("web/a.htm")) << "x";

  // The tree folded to level 2 (the last library in name order is opened).
  CliRun r = browse(folder, "tree");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "level\t分类名称\n1\t全部\n2\t钢材\n2\t水泥\n");
  r = browse(folder, "--all tree");
  EXPECT_NE(r.out.find("\n6\tL6\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("L7"), std::string::npos);

  // Products of a category: two-level titles, the price formatted; the
  // zero-width category column and the hidden columns are left out.
  r = browse(folder, "category 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "level\t产品-名称\t产品-厂家\t价格\n0\t螺纹钢 HRB400\t杭州钢铁\t3.50\n0\t螺纹钢 HRB500\t杭州钢铁\t4.25\n");
  r = browse(folder, "factory 3 --format csv");
  EXPECT_EQ(r.out, "level,产品-名称,产品-厂家,价格\r\n0,普通硅酸盐水泥,宁波水泥,0.35\r\n");
  r = browse(folder, "search 产品名称 \"O'Brien\" --format json");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"cells\":[\"O'Brien 白水泥\",\"O'Brien 50% Cement\",\"1.00\"]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"table\":\"CLProduct\""), std::string::npos);
  r = browse(folder, "factories");
  EXPECT_EQ(r.out, "level\t生产厂家\n0\t杭州钢铁\n0\tO'Brien 50% Cement\n0\t宁波水泥\n");

  // Pages: local, online (url from MainPro.ini, or --url), default.
  r = browse(folder, "page 3 1");
  EXPECT_EQ(r.out, "local\t" + folder.file("web/a.htm") + "\n");
  r = browse(folder, "page 2 3");
  EXPECT_EQ(r.out, "online\thttp://svc/vosk\\web\\b.htm\n");
  r = browse(folder, "--url http://other page 2 3");
  EXPECT_EQ(r.out, "online\thttp://other/vosk\\web\\b.htm\n");
  r = browse(folder, "page '1 or 1=1' 1");
  EXPECT_EQ(r.out.rfind("default\t", 0), 0u) << r.out;

  // The other library by name: x.ZDJ is listed as x and opened as x.zdj. Errors.
  EXPECT_EQ(browse(folder, "--library 2026年11月信息价 category 3").status, 0);
  EXPECT_EQ(browse(folder, "--library nothing tree").status, 1);
  EXPECT_EQ(browse(folder, "search 产品名称 ''").status, 2);
  EXPECT_EQ(browse(folder, "search 名称 x").status, 2);
  EXPECT_EQ(browse(folder, "frobnicate").status, 2);
  EXPECT_EQ(browse(folder, "tree --format xml").status, 2);
}

// The demo program folder, built by the demo_folder target.
TEST(BrowseCommand, DemoFolderEndToEnd) {
#ifndef DEMO_FOLDER
  GTEST_SKIP() << "no demo folder target";
#else
  if (!std::filesystem::exists(std::filesystem::path(DEMO_FOLDER) / "pro.mdb")) GTEST_SKIP() << "demo folder not built";
  auto run = [](const std::string& args) {
    const std::string cmd = std::string(VELMORA_CLI) + " browse '" DEMO_FOLDER "' " + args + " 2>/dev/null";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
  };
  // The tree from the root, folded to level 2: the root and its eight groups.
  std::string out = run("tree");
  EXPECT_EQ(out.rfind("level\t材料分类\n1\t全部材料\n2\t钢材\n2\t水泥\n", 0), 0u) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1 + 1 + 8);
  // Φ16-Φ25 (category 5): products ordered by manufacturer; the grouped price header.
  out = run("category 5");
  EXPECT_EQ(out.rfind("level\t产品名称\t规格型号\t单位\t价格-含税\t价格-除税\t价格-涨跌\t生产厂家\t备注\n0\t螺纹钢", 0), 0u)
      << out;
  // The manufacturer list carries the administrator's column too.
  EXPECT_EQ(run("factories").rfind("level\t生产厂家\t联系电话\n", 0), 0u);
  // Pages: installed, not installed (service base address from MainPro.ini), none.
  EXPECT_EQ(run("page 5 1"), "local\t" DEMO_FOLDER "/web/gc/hrb400-dl.htm\n");
  out = run("page 99 99");
  EXPECT_EQ(out, "default\t" DEMO_FOLDER "/web/Orvanta.htm\n");
  // A search by manufacturer through the join.
  out = run("search 生产厂家 钢铁 --format csv");
  EXPECT_GT(std::count(out.begin(), out.end(), '\n'), 2);
  EXPECT_NE(out.find("钢铁"), std::string::npos);
#endif
}

#endif
