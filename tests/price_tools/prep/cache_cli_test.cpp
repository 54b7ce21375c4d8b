// velmora-cli cache status and warm on a program folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "prep_folder.h"

namespace {

using months_fixture::earlierMonth;
using prep_fixture::PrepFolder;

// The command's standard output and error (in that order), and its exit code.
std::string run(const std::string& args, int& status) {
  const std::string cmd = std::string(VELMORA_CLI) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(CacheCommand, StatusThenWarmThenStatus) {
  PrepFolder f;  // the cache folder reaches the command through the environment
  f.writeLibrary("2026年01月信息价", earlierMonth());
  f.writeLibrary("2026年02月信息价", earlierMonth());
  f.writeText("坏.zdj", "not a library");
  int status = -1;
  std::string out = run("cache status '" + f.path() + "'", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("not ready\t2026年02月信息价.zdj\nnot ready\t2026年01月信息价.zdj\n"), std::string::npos) << out;
  EXPECT_NE(out.find("unreadable ("), std::string::npos) << out;
  EXPECT_NE(out.find("0 of 3 libraries ready"), std::string::npos) << out;

  ado::Database::open(f.file("2026年01月信息价.zdj"), "4917");
  out = run("cache warm '" + f.path() + "'", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("正在准备材料库 1/1 2026年02月信息价.zdj"), std::string::npos) << out;
  EXPECT_NE(out.find("1 imported, 0 failed"), std::string::npos) << out;

  out = run("cache status '" + f.path() + "'", status);
  EXPECT_NE(out.find("ready\t2026年02月信息价.zdj\nready\t2026年01月信息价.zdj\n"), std::string::npos) << out;
  EXPECT_NE(out.find("2 of 3 libraries ready"), std::string::npos) << out;

  run("cache cool '" + f.path() + "'", status);
  EXPECT_EQ(status, 2);
  run("cache status '" + f.path() + "/nowhere'", status);
  EXPECT_EQ(status, 1);
  out = run("--no-cache cache warm '" + f.path() + "'", status);
  EXPECT_EQ(status, 1) << out;
}

}  // namespace
