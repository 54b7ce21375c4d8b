// velmora-cli --no-cache: the library is read from its Jet file and nothing is
// written to the cache folder; without it the entry is written and used.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "fixtures.h"

namespace {

namespace fs = std::filesystem;

// Runs velmora-cli with XDG_CACHE_HOME set to `home` and the cache switched on.
std::string cli(const std::string& home, const std::string& args, int& status) {
  const std::string cmd = "env -u VELMORA_NO_CACHE XDG_CACHE_HOME='" + home + "' '" + VELMORA_CLI + "' " + args;
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int st = pclose(p);
  status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

std::size_t entries(const fs::path& folder) {
  std::error_code ec;
  std::size_t n = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

TEST(VelmoraCliCache, NoCacheReadsTheJetFileAndWritesNothing) {
  fixtures::TempDir dir, home;
  const std::string lib = fixtures::writeLibrary(dir, "lib.zdj");
  const std::string query = "sql '" + lib + "' --password 4917 'select Name, Price from CLProduct order by ID'";
  int status = -1;
  const std::string plain = cli(home.path().string(), "--no-cache " + query, status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(plain.find("螺纹钢 HRB400"), std::string::npos) << plain;
  EXPECT_EQ(entries(home.path() / "velmora"), 0u);

  EXPECT_EQ(cli(home.path().string(), query, status), plain);  // writes the entry
  EXPECT_EQ(entries(home.path() / "velmora"), 1u);
  EXPECT_EQ(cli(home.path().string(), query, status), plain);  // reads it
  EXPECT_EQ(cli(home.path().string(), "--no-cache " + query, status), plain);
  EXPECT_EQ(cli(home.path().string(), "--no-cache --help", status).find("usage"), 0u);
}

}  // namespace
