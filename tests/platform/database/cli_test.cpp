// velmora-cli dump and sql as a user runs them: output, exit codes, error texts.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "fixtures.h"

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CliRun run(const std::vector<std::string>& args, const fixtures::TempDir& dir) {
  std::string cmd = quote(VELMORA_CLI);
  for (const auto& a : args) cmd += " " + quote(a);
  std::string errFile = dir.file("stderr.txt");
  cmd += " 2>" + quote(errFile);
  CliRun r;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(errFile);
  r.err.assign(std::istreambuf_iterator<char>(e), {});
  return r;
}

TEST(VelmoraCli, DumpAndSqlOnALibrary) {
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "材料 库.zdj");

  CliRun r = run({"dump", lib, "--password", "4917", "--table", "factory"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"Factory\": {"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("{\"ID\": 2, \"Name\": \"Acme 50% Cement\"}"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("CLProduct"), std::string::npos);

  r = run({"dump", lib, "--password", "4917", "--table", "CLProduct"}, dir);
  EXPECT_NE(r.out.find("\"Price\": \"1234567.8912\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"Listed\": true"), std::string::npos);
  EXPECT_NE(r.out.find("\"Updated\": \"2026-12-01T08:30:00.000Z\""), std::string::npos);
  EXPECT_NE(r.out.find("\"Weight\": null"), std::string::npos);

  r = run({"sql", lib, "--password", "4917",
           "select  Category.Name,Category.ico,Category.ID from Category where ParentID=0 order by ID desc"},
          dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Name\tico\tID\nCement\t\t2\n钢材\t钢\t1\nRecordCount: 2\n");

  for (std::vector<std::string> bad : {std::vector<std::string>{"dump", lib, "--password", "4918"},
                                       std::vector<std::string>{"dump", lib},
                                       std::vector<std::string>{"sql", lib, "--password", "", "select 1"}}) {
    r = run(bad, dir);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error -2147217843: Not a valid password.\n");
  }
  // A query that matches nothing still names its columns.
  r = run({"sql", lib, "--password", "4917", "select Name, ID from Category where ID=99"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Name\tID\nRecordCount: 0\n");
  r = run({"sql", lib, "--password", "4917", "select * from Nowhere"}, dir);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("error -2147217865: "), std::string::npos) << r.err;
  r = run({"dump", dir.file("none.zdj")}, dir);
  EXPECT_EQ(r.err, "error -2147467259: Could not find file '" + dir.file("none.zdj") + "'.\n");
  r = run({"frobnicate"}, dir);
  EXPECT_EQ(r.status, 2);
}

TEST(VelmoraCli, AFileNameWithASemicolon) {
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "a;b.zdj");
  CliRun r = run({"sql", lib, "--password", "4917", "select count(*) from Category"}, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Expr1000\n5\nRecordCount: 1\n");
  r = run({"sql", lib, "--password", "49;17", "select count(*) from Category"}, dir);
  EXPECT_EQ(r.err, "error -2147217843: Not a valid password.\n");
}

}  // namespace
