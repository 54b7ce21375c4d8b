// The reader program, in which every Jet file is read: a program of its own,
// started afresh, so that nothing the calling program holds (threads, locks)
// can stop it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "fixtures.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_reader.h"

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string runReader(const std::string& args, int& status) {
  FILE* p = popen((quote(ado::jet::readerProgram()) + " " + args + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = pclose(p);
  return out;
}

TEST(ReaderProgram, ReadsAFileByItself) {
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "lib.zdj");
  int status = -1;
  const std::string out = runReader(quote(lib) + " shown-name.zdj", status);
  EXPECT_EQ(status, 0);
  ASSERT_GT(out.size(), 2u);
  EXPECT_EQ(out.front(), 'N');  // the row count, then the tables
  EXPECT_EQ(out[9], 'T');
  EXPECT_EQ(out.back(), 'D');
  EXPECT_NE(out.find("Category"), std::string::npos);

  // A file that is no Jet file: the error comes through the stream, with the
  // name the caller gave.
  const std::string other = dir.file("not-jet.zdj");
  { std::FILE* f = std::fopen(other.c_str(), "wb"); std::fputs(std::string(5000, 'x').c_str(), f); std::fclose(f); }
  const std::string err = runReader(quote(other) + " shown-name.zdj", status);
  EXPECT_EQ(status, 0);
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.front(), 'X');
  EXPECT_NE(err.find("Unrecognized database format 'shown-name.zdj'."), std::string::npos);

  runReader("", status);
  EXPECT_NE(status, 0);
}

// The program holds locks in other threads while it opens a library: here the
// environment's lock, which the reading of a Jet 3 file takes. A copy of the
// process made while another thread held it (fork without exec) waited for
// ever; the reader program starts with no lock held.
TEST(ReaderProgram, OpensWhileOtherThreadsHoldLocks) {
  const std::string sample = std::string(JET_SAMPLES_DIR) + "/access97-types.mdb";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample " << sample;
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int t = 0; t < 3; ++t)
    busy.emplace_back([&stop, t] {
      const std::string name = "VELMORA_READER_TEST_" + std::to_string(t);
      while (!stop) {
        ::setenv(name.c_str(), "1", 1);
        ::unsetenv(name.c_str());
      }
    });
  int opened = 0;
  for (int i = 0; i < 30; ++i) {
    try {
      auto db = ado::Database::open(sample, "", ado::ReadMode::Isolated);
      if (db->tables().size() == 4) ++opened;
    } catch (const ado::Error& e) {
      ADD_FAILURE() << e.description;
      break;
    }
  }
  stop = true;
  for (auto& t : busy) t.join();
  EXPECT_EQ(opened, 30);
}

}  // namespace
