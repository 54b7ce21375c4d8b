// Files that are not sound Jet databases: each gives an error number and a
// description, never a crash or a hang.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "fixtures.h"
#include "platform/database/adodb.h"
#include "platform/database/jet_database.h"
#include "platform/database/jet_dump.h"

namespace {

std::string readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void writeAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

ado::Error openError(const std::string& path, const std::string& password = "4917") {
  try {
    ado::Connection c;
    c.Open(fixtures::connectionString(path, password));
  } catch (const ado::Error& e) {
    return e;
  }
  return ado::Error(0, "opened");
}

TEST(JetBadInput, EveryBrokenFileGivesAnError) {
  fixtures::TempDir dir;
  const std::string good = fixtures::writeLibrary(dir, "good.zdj");
  const std::string bytes = readAll(good);
  ASSERT_GT(bytes.size(), 4096u * 4);

  std::string zeros = dir.file("zeros.zdj");
  writeAll(zeros, std::string(8192, '\0'));
  ado::Error e = openError(zeros);
  EXPECT_EQ(e.number, -2147467259);
  EXPECT_EQ(e.description, "Unrecognized database format '" + zeros + "'.");

  std::string random = dir.file("random bytes 随机.zdj");
  std::mt19937 rng(7);
  std::string noise(3 * 4096, '\0');
  for (char& c : noise) c = char(rng());
  writeAll(random, noise);
  e = openError(random);
  EXPECT_EQ(e.number, -2147467259);
  EXPECT_EQ(e.description, "Unrecognized database format '" + random + "'.");

  std::string empty = dir.file("empty.zdj");
  writeAll(empty, "");
  EXPECT_EQ(openError(empty).number, -2147467259);

  // Cut in the middle of a page, and cut after whole pages.
  std::string cut = dir.file("cut.zdj");
  for (std::size_t len : {std::size_t(100), std::size_t(4096 + 10), bytes.size() - 1000, std::size_t(4096 * 3),
                          bytes.size() - 4096}) {
    writeAll(cut, bytes.substr(0, len));
    e = openError(cut);
    if (e.number == 0) continue;  // the pages cut off held nothing the open needs
    EXPECT_EQ(e.number, -2147467259) << len;
    EXPECT_FALSE(e.description.empty());
  }
  writeAll(cut, bytes.substr(0, 4096 + 10));
  EXPECT_EQ(openError(cut).description,
            "Cannot open database '" + cut +
                "'. It may not be a database that your application recognizes, or the file may be corrupt.");

  // A folder where the file should be.
  EXPECT_EQ(openError(dir.path().string()).description, "Could not find file '" + dir.path().string() + "'.");
}

// Every table of a file, as the dump shows it.
std::string dumpOf(const std::string& path) {
  auto db = ado::Database::open(path, "4917");
  std::string out;
  ado::dumpJson(*db, "", out);
  return out;
}

TEST(JetBadInput, DamagedPagesNeverCrashTheProgram) {
  fixtures::TempDir dir;
  const std::string good = fixtures::writeLibrary(dir, "good.zdj");
  const std::string bytes = readAll(good);
  const std::string intact = dumpOf(good);
  std::mt19937 rng(2026);
  std::string damaged = dir.file("damaged.zdj");

  // A table's definition scribbled over cannot be read: the open fails.
  int definitions = 0;
  for (std::size_t page = 1; page < bytes.size() / 4096; ++page) {
    if (bytes[page * 4096] != 0x02) continue;  // table definition pages
    std::string b = bytes;
    for (std::size_t k = 0; k < 4096; ++k) b[page * 4096 + k] = char(rng());
    b[page * 4096] = 0x07;
    writeAll(damaged, b);
    ado::Error e = openError(damaged);
    EXPECT_EQ(e.number, -2147467259) << "definition page " << page;
    EXPECT_NE(e.description.find("may not be a database"), std::string::npos) << e.description;
    ++definitions;
  }
  EXPECT_GE(definitions, 4);  // the catalog's and the three tables'

  // Scribbles anywhere: each file fails with the damaged-file error or opens;
  // a scribble over a whole page is found in most cases, and a file that opens
  // after a scribble over its data shows other data, not an empty library.
  int refused = 0, changed = 0, wholePages = 0, wholePagesRefused = 0, wholePagesUnseen = 0;
  for (int round = 0; round < 40; ++round) {
    std::string b = bytes;
    int hits = 1 + int(rng() % 16);
    for (int i = 0; i < hits; ++i) b[4096 + rng() % (b.size() - 4096)] = char(rng());
    const bool wholePage = round % 5 == 0;
    if (wholePage) {
      std::size_t page = 1 + rng() % (b.size() / 4096 - 1);
      for (std::size_t k = 0; k < 4096; ++k) b[page * 4096 + k] = char(rng());
      ++wholePages;
    }
    writeAll(damaged, b);
    try {
      auto db = ado::Database::open(damaged, "4917");
      std::string out;
      ado::dumpJson(*db, "", out);
      EXPECT_NE(out.find("\"Category\""), std::string::npos) << out.substr(0, 300);
      if (out != intact) ++changed;
      else if (wholePage) ++wholePagesUnseen;
    } catch (const ado::Error& e) {
      EXPECT_EQ(e.number, -2147467259);
      EXPECT_FALSE(e.description.empty());
      ++refused;
      if (wholePage) ++wholePagesRefused;
    }
  }
  EXPECT_GE(refused, 4) << refused << " of 40 damaged files refused";
  EXPECT_GE(wholePagesRefused, wholePages / 2) << wholePagesRefused << " of " << wholePages;
  // A whole page of data scribbled over is refused or shows in the data: never
  // read as if nothing had happened.
  EXPECT_EQ(wholePagesUnseen, 0) << wholePagesUnseen << " of " << wholePages << " whole-page scribbles unseen";
  EXPECT_GE(changed, 1) << "no scribbled file that opened showed other data";
}

TEST(JetBadInput, LockedFile) {
  fixtures::TempDir dir;
  const std::string path = fixtures::writeLibrary(dir, "locked.zdj");
  int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  ado::Error e = openError(path);
  EXPECT_EQ(e.number, -2147467259);
  EXPECT_NE(e.description.find("already opened exclusively"), std::string::npos);
  EXPECT_NE(e.description.find(path), std::string::npos);
  ::flock(fd, LOCK_UN);
  ::close(fd);
  EXPECT_EQ(openError(path).number, 0);
}

}  // namespace

namespace {

// Marks the row slot holding `needle` with `flags` (Jet 4 data pages).
bool flagRow(std::string& bytes, const std::string& needle, uint16_t flags) {
  const std::size_t ps = 4096;
  for (std::size_t pg = 1; pg < bytes.size() / ps; ++pg) {
    char* page = bytes.data() + pg * ps;
    if (page[0] != 0x01) continue;
    std::size_t at = std::string(page, ps).find(needle);
    if (at == std::string::npos) continue;
    unsigned rows = uint8_t(page[12]) | (uint8_t(page[13]) << 8);
    for (unsigned r = 0; r < rows; ++r) {
      char* slot = page + 14 + 2 * r;
      unsigned start = (uint8_t(slot[0]) | (uint8_t(slot[1]) << 8)) & 0x1FFF;
      unsigned end = r == 0 ? ps : ((uint8_t(page[12 + 2 * r]) | (uint8_t(page[13 + 2 * r]) << 8)) & 0x1FFF);
      if (at >= start && at < end) {
        slot[1] = char(uint8_t(slot[1]) | (flags >> 8));
        return true;
      }
    }
  }
  return false;
}

TEST(JetRows, DeletedRowsAreNotRead) {
  fixtures::TempDir dir;
  const std::string bytes = readAll(fixtures::writeLibrary(dir, "lib.zdj"));
  // Access marks a deleted row 0xC000; some writers mark it 0x4000 alone, which
  // also means "moved elsewhere" and is followed only where it leads to a moved copy.
  for (uint16_t flags : {uint16_t(0xC000), uint16_t(0x4000), uint16_t(0x8000)}) {
    std::string b = bytes;
    ASSERT_TRUE(flagRow(b, "Steel_Plate", flags));
    std::string path = dir.file("flagged.zdj");
    writeAll(path, b);
    auto db = ado::Database::open(path, "4917");
    auto rs = db->execute("select Name from Category order by ID");
    EXPECT_EQ(rs.rows, 4u) << std::hex << flags;
    for (std::size_t i = 0; i < rs.rows; ++i) EXPECT_NE(rs.cells[i].toText(), "Steel_Plate");
  }
}

}  // namespace
