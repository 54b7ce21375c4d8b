// The reader program, in which every Jet file is read: a program of its own,
// started afresh, so that nothing the calling program holds (threads, locks)
// can stop it.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
  // The threads take the environment's lock over and over. Their variables
  // exist before they start and are only given new values, so the open's own
  // reads of the environment never meet an entry being removed (which the C
  // library does not guard against).
  for (int t = 0; t < 3; ++t) ::setenv(("VELMORA_READER_TEST_" + std::to_string(t)).c_str(), "0", 1);
  for (int t = 0; t < 3; ++t)
    busy.emplace_back([&stop, t] {
      const std::string name = "VELMORA_READER_TEST_" + std::to_string(t);
      for (unsigned i = 0; !stop; ++i) ::setenv(name.c_str(), i % 2 ? "1" : "2", 1);
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
  for (int t = 0; t < 3; ++t) ::unsetenv(("VELMORA_READER_TEST_" + std::to_string(t)).c_str());
  EXPECT_EQ(opened, 30);
}

}  // namespace

namespace {

// Everything a sink is told, in order, as text.
struct Recording : ado::jet::Sink {
  std::vector<std::string> events;
  std::size_t stopAt = 0;  // throws at this row (0: never)
  std::size_t rows = 0;
  void expectRows(uint64_t n) override { events.push_back("N" + std::to_string(n)); }
  void beginTable(const ado::jet::TableDef& t) override {
    std::string e = "T" + t.info.name;
    for (const auto& c : t.info.columns) e += "|" + c.name + ":" + std::to_string(int(c.type));
    events.push_back(e);
  }
  void row(const std::vector<ado::jet::Cell>& cells) override {
    if (stopAt && ++rows == stopAt) throw std::runtime_error("stopped");
    std::string e = "R";
    for (const auto& c : cells) {
      e += "|" + std::to_string(int(c.kind)) + ":";
      if (c.kind == ado::jet::Cell::Int) e += std::to_string(c.i);
      if (c.kind == ado::jet::Cell::Real) e += std::to_string(c.d);
      if (c.kind == ado::jet::Cell::Text) e += c.s;
    }
    events.push_back(e);
  }
  void endTable() override { events.push_back("E"); }
};

ado::jet::Header headerOf(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  uint8_t page[4096];
  const std::size_t got = std::fread(page, 1, sizeof page, f);
  std::fclose(f);
  return ado::jet::inspectHeader(page, got, std::filesystem::file_size(path), path);
}

// Tables of several thousand rows (more than one batch of the parsing thread,
// and batches ending inside a table and at its end), then small ones.
jetwrite::Database manyRows() {
  jetwrite::Database db = fixtures::library("");
  jetwrite::Table big{"Big",
                      {{"ID", fixtures::ColumnType::Long},
                       {"Name", fixtures::ColumnType::Text, 50},
                       {"Weight", fixtures::ColumnType::Double}},
                      {}};
  for (int i = 0; i < 5000; ++i)
    big.rows.push_back({std::to_string(i), i % 3 ? jetwrite::Value("名称 " + std::to_string(i)) : std::nullopt,
                        std::to_string(i) + ".5"});
  jetwrite::Table exact{"Exact", {{"ID", fixtures::ColumnType::Long}}, {}};
  for (int i = 0; i < 1024; ++i) exact.rows.push_back({std::to_string(i)});
  db.tables.insert(db.tables.begin() + 1, big);
  db.tables.push_back(exact);
  return db;
}

}  // namespace

TEST(ReaderProgram, HandsOverWhatTheFileHoldsInItsOrder) {
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "many.zdj", manyRows());
  const ado::jet::Header h = headerOf(lib);
  Recording here, there;
  ado::jet::readTables(h, lib, nullptr, 0, lib, here);
  ado::jet::readTablesIsolated(h, lib, lib, there);
  ASSERT_GT(here.events.size(), 6000u);
  EXPECT_EQ(there.events, here.events);
}

TEST(ReaderProgram, ASinkThatStopsEndsTheReading) {
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "many.zdj", manyRows());
  const ado::jet::Header h = headerOf(lib);
  for (std::size_t at : {std::size_t(1), std::size_t(3000)}) {
    Recording sink;
    sink.stopAt = at;
    EXPECT_THROW(ado::jet::readTablesIsolated(h, lib, lib, sink), std::runtime_error);
    EXPECT_EQ(sink.rows, at);
  }
  // The reader program has been ended and reaped with it.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(ReaderProgram, ANameThatIsNoLongerAFileIsRefusedAtOnce) {
  // The caller checked a library; by the time the reader opens the name, a
  // pipe with no writer stands there. The reader answers that the file is
  // missing instead of waiting for somebody to write into the pipe.
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "many.zdj", manyRows());
  const ado::jet::Header h = headerOf(lib);
  const std::string pipe = (dir.path() / "swapped.zdj").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  Recording sink;
  const auto t0 = std::chrono::steady_clock::now();
  try {
    ado::jet::readTablesIsolated(h, pipe, pipe, sink);
    ADD_FAILURE() << "a pipe was read as a library";
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.description, "Could not find file '" + pipe + "'.");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  EXPECT_EQ(sink.rows, 0u);
}

TEST(ReaderProgram, AHugeFileWithHolesIsNotReadInWhole) {
  // A library's first page, then a gigabyte of nothing: the reader finds it
  // damaged having read the pages it came to, not the whole size the file claims.
  fixtures::TempDir dir;
  const std::string lib = fixtures::writeLibrary(dir, "many.zdj", manyRows());
  const std::string hollow = (dir.path() / "hollow.zdj").string();
  {
    std::ifstream in(lib, std::ios::binary);
    std::ofstream out(hollow, std::ios::binary);
    char page[4096];
    in.read(page, sizeof page);
    out.write(page, in.gcount());
  }
  std::filesystem::resize_file(hollow, std::uintmax_t(1) << 30);
  const ado::jet::Header h = headerOf(hollow);
  Recording sink;
  EXPECT_THROW(ado::jet::readTablesIsolated(h, hollow, hollow, sink), ado::Error);
  rusage children{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &children), 0);
  EXPECT_LT(children.ru_maxrss, 256L * 1024) << "KiB at the reader's peak";
}
