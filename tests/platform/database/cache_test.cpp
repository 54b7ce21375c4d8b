// The library cache: the same answers from an entry as from the import, an
// entry used only while it fits the library and is sound, a cache that cannot
// be written changing nothing, the password checked with an entry present,
// and the least recently used entries going first.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "fixtures.h"
#include "support/cache_home.h"
#include "platform/database/cache_file.h"
#include "platform/database/import_flight.h"
#include "platform/database/jet_database.h"
#include "platform/database/library_cache.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void spill(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

// The statements of the grid engine (outline, product grid, searches, the
// settings lookups' kind) with every value as text.
std::string answers(ado::Database& db) {
  static const char* statements[] = {
      "select  Category.Name,Category.ico,Category.ID,Category.ID from Category where ID=0 order by Category.ID",
      "select Category.Name,Category.ico,Category.ID from Category where ParentID=1 order by ID desc",
      "select  CLProduct.Name,Factory.Name,CLProduct.Price,CLProduct.CategoryID,CLProduct.ID from CLProduct "
      "inner join Factory on CLProduct.FactoryID=Factory.ID where CLProduct.CategoryID=3 order by CLProduct.ID",
      "select * from CLProduct where Name like '%钢%' order by FactoryID, ID",
      "select * from Factory where Name like 'ACME%' order by Name",
      "select * from CLProduct where Name = 'cement p.o 42.5'",
      "select top 2 ID, Price * 2, Weight + Ratio, Listed, Updated from CLProduct where Updated < #2026-12-01 12:00# "
      "order by Price desc",
      "select count(*), sum(Price), min(Name), max(Remark) from CLProduct",
      "select Name & '/' & ico from Category order by Name",
  };
  std::string out;
  for (const char* s : statements) {
    ado::ResultSet rs = db.execute(s);
    for (const auto& n : rs.names) out += n + "|";
    out += "\n";
    for (const auto& v : rs.cells) out += std::to_string(int(v.type())) + ":" + v.toText() + "|";
    out += "\n";
  }
  return out;
}

std::string tablesOf(const ado::Database& db) {
  std::string out;
  for (const auto& t : db.tables()) {
    out += t.name + " " + std::to_string(t.rowCount) + ":";
    for (const auto& c : t.columns)
      out += " " + c.name + "/" + ado::jetTypeName(c.type) + "/" + std::to_string(c.size);
    out += "\n";
  }
  return out;
}

class LibraryCache : public ::testing::Test {
 protected:
  void SetUp() override {
    cacheHome_.emplace(home_.path().string());
    ado::setLibraryCacheLimit(0);
    lib_ = fixtures::writeLibrary(dir_, "2026年12月信息价.zdj");
  }
  void TearDown() override {
    cacheHome_.reset();
    ado::setLibraryCacheLimit(0);
  }

  std::shared_ptr<ado::Database> open(const std::string& password = "4917") {
    return ado::Database::open(lib_, password);
  }
  // The entry's file for the library as it is now.
  std::string entryOf(const std::string& lib) {
    int fd = ::open(lib.c_str(), O_RDONLY);
    struct stat st{};
    ::fstat(fd, &st);
    ado::LibraryCache c(lib, fd, st);
    ::close(fd);
    return c.file();
  }
  std::string entry() { return entryOf(lib_); }
  // Changes product 1's name inside the entry, so that an answer shows whether
  // it came from the entry or from the library.
  void tamper() {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(entry().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE CLProduct SET Name='从缓存来' WHERE ID=1", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    // A change made on purpose: sealed again, or it would be a damaged entry.
    EXPECT_TRUE(ado::resealLibraryCacheEntry(entry()));
  }
  std::string productName(ado::Database& db) {
    return db.execute("select Name from CLProduct where ID=1").cells.at(0).toText();
  }
  void setTime(const std::string& path, time_t seconds) {
    timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
  }
  time_t timeOf(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec;
  }

  fixtures::TempDir dir_, home_;
  std::string lib_;
  std::optional<testsupport::CacheHome> cacheHome_;
};

TEST_F(LibraryCache, AnswersFromTheEntryAreTheImportsAnswers) {
  ado::setLibraryCacheEnabled(false);
  auto imported = open();
  const std::string expected = answers(*imported);
  EXPECT_FALSE(fs::exists(home_.path() / "velmora"));
  ado::setLibraryCacheEnabled(true);

  auto first = open();  // imports, writes the entry and runs on it
  ASSERT_TRUE(fs::exists(entry()));
  EXPECT_EQ(fs::status(home_.path() / "velmora").permissions() & fs::perms::all, fs::perms::owner_all);
  auto second = open();  // from the entry
  EXPECT_EQ(answers(*first), expected);
  EXPECT_EQ(answers(*second), expected);
  EXPECT_EQ(tablesOf(*second), tablesOf(*imported));
  EXPECT_EQ(second->jetVersion(), imported->jetVersion());

  // An index made for a statement lands in the private copy, never in the file;
  // statements that would write stay refused.
  const std::string before = slurp(entry());
  EXPECT_TRUE(second->ensureIndex("CLProduct", "Remark"));
  EXPECT_EQ(second->execute("select ID from CLProduct where Remark = 'x'").rows, 1u);
  EXPECT_THROW(second->execute("delete from CLProduct"), ado::Error);
  EXPECT_EQ(second->execute("select count(*) from CLProduct").cells.at(0).toText(), "4");
  EXPECT_EQ(slurp(entry()), before);
}

TEST_F(LibraryCache, AnEntryIsUsedWhileItFitsTheLibrary) {
  open();
  tamper();
  EXPECT_EQ(productName(*open()), "从缓存来");  // the entry is what is read

  // Another modification time.
  setTime(lib_, timeOf(lib_) + 10);
  EXPECT_EQ(productName(*open()), "螺纹钢 HRB400");

  // Another size, at the old time.
  tamper();
  const time_t t = timeOf(lib_);
  auto bigger = fixtures::library();
  bigger.tables[2].rows.push_back(bigger.tables[2].rows[0]);
  bigger.tables[2].rows.back()[0] = "5";
  jetwrite::writeDatabase(bigger, lib_);
  setTime(lib_, t);
  auto db = open();
  EXPECT_EQ(productName(*db), "螺纹钢 HRB400");
  EXPECT_EQ(db->tables()[2].rowCount, 5);

  // Other header pages (another password), same size and time.
  tamper();
  const auto size = fs::file_size(lib_);
  auto other = bigger;
  other.password = "4918";
  jetwrite::writeDatabase(other, lib_);
  ASSERT_EQ(fs::file_size(lib_), size);
  setTime(lib_, t);
  EXPECT_EQ(productName(*open("4918")), "螺纹钢 HRB400");

  // The same library under another path has an entry of its own.
  tamper();
  const std::string copy = dir_.file("copy.zdj");
  fs::copy_file(lib_, copy);
  EXPECT_NE(entryOf(copy), entry());
  EXPECT_EQ(productName(*ado::Database::open(copy, "4918")), "螺纹钢 HRB400");
  EXPECT_EQ(productName(*open("4918")), "从缓存来");
}

TEST_F(LibraryCache, TheWrongPasswordIsRefusedWithAnEntryPresent) {
  open();
  ASSERT_TRUE(fs::exists(entry()));
  for (const char* wrong : {"", "4918", "4917 "}) {
    try {
      ado::Database::open(lib_, wrong);
      ADD_FAILURE() << "opened with '" << wrong << "'";
    } catch (const ado::Error& e) {
      EXPECT_EQ(e.number, -2147217843);
    }
  }
  EXPECT_EQ(productName(*open()), "螺纹钢 HRB400");
}

TEST_F(LibraryCache, DamagedOrForeignEntriesAreRebuilt) {
  struct Damage {
    const char* what;
    std::function<void(const std::string&)> apply;
  };
  const std::vector<Damage> damages = {
      {"truncated", [](const std::string& f) { fs::resize_file(f, fs::file_size(f) / 2); }},
      {"trailer cut", [](const std::string& f) { fs::resize_file(f, fs::file_size(f) - 1); }},
      {"garbage", [](const std::string& f) { spill(f, std::string(fs::file_size(f), '\x5a')); }},
      {"empty", [](const std::string& f) { spill(f, ""); }},
      {"not SQLite", [](const std::string& f) {
         std::string s = slurp(f);
         s[0] = 'X';
         spill(f, s);
       }},
      {"trailer changed", [](const std::string& f) {
         std::string s = slurp(f);
         s[s.size() - 40] ^= 1;
         spill(f, s);
       }},
      {"schema damaged", [](const std::string& f) {
         std::string s = slurp(f);
         for (std::size_t i = 100; i < 4096; ++i) s[i] = '\xff';
         spill(f, s);
       }},
      {"another format", [](const std::string& f) {
         sqlite3* db = nullptr;
         sqlite3_open(f.c_str(), &db);
         sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
         sqlite3_close(db);
       }},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.what);
    open();
    tamper();
    d.apply(entry());
    auto db = open();
    EXPECT_EQ(productName(*db), "螺纹钢 HRB400");
    EXPECT_EQ(db->execute("select count(*) from CLProduct").cells.at(0).toText(), "4");
    // Rebuilt: a sound entry again, read at the next open.
    tamper();
    EXPECT_EQ(productName(*open()), "从缓存来");
    fs::remove(entry());
  }
}

TEST_F(LibraryCache, ACacheThatCannotBeWrittenChangesNothing) {
  ado::setLibraryCacheEnabled(false);
  const std::string expected = answers(*open());
  ado::setLibraryCacheEnabled(true);

  // The cache home is a file: no folder can be made there.
  const std::string blocker = dir_.file("not-a-folder");
  spill(blocker, "x");
  ::setenv("XDG_CACHE_HOME", blocker.c_str(), 1);
  EXPECT_EQ(answers(*open()), expected);
  EXPECT_EQ(slurp(blocker), "x");

  // A full disk: writes beyond a few kilobytes fail. Nothing is left behind,
  // not even the temporary file.
  ::setenv("XDG_CACHE_HOME", home_.path().c_str(), 1);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small{16384, old.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string answered;
  EXPECT_NO_THROW(answered = answers(*open()));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(answered, expected);
  ASSERT_TRUE(fs::exists(home_.path() / "velmora"));
  EXPECT_TRUE(fs::is_empty(home_.path() / "velmora"));

  // Switched off: nothing is written.
  fs::remove_all(home_.path() / "velmora");
  ado::setLibraryCacheEnabled(false);
  EXPECT_EQ(answers(*open()), expected);
  EXPECT_FALSE(fs::exists(home_.path() / "velmora"));
}

TEST_F(LibraryCache, TheLeastRecentlyUsedEntriesGoFirst) {
  const std::string a = lib_, b = fixtures::writeLibrary(dir_, "b.zdj"), c = fixtures::writeLibrary(dir_, "c.zdj");
  ado::Database::open(a, "4917");
  ado::Database::open(b, "4917");
  const auto one = fs::file_size(entryOf(a));
  const time_t now = ::time(nullptr);
  setTime(entryOf(a), now - 100);
  setTime(entryOf(b), now - 200);
  ado::Database::open(a, "4917");  // used again: now the newest
  EXPECT_GE(timeOf(entryOf(a)), now - 1);

  ado::setLibraryCacheLimit(2 * one + one / 2);
  ado::Database::open(c, "4917");
  EXPECT_TRUE(fs::exists(entryOf(a)));
  EXPECT_FALSE(fs::exists(entryOf(b)));
  EXPECT_TRUE(fs::exists(entryOf(c)));

  // A library larger than the whole limit is not kept at all.
  ado::setLibraryCacheLimit(one / 2);
  const std::string d = fixtures::writeLibrary(dir_, "d.zdj");
  EXPECT_EQ(productName(*ado::Database::open(d, "4917")), "螺纹钢 HRB400");
  EXPECT_FALSE(fs::exists(entryOf(d)));
}

// The key holds what an edit or a copy cannot keep: every part of it tells
// two libraries apart on its own, the parts of a second included.
TEST_F(LibraryCache, TheKeyTellsApartEachTimeToTheNanosecondTheInodeAndTheDevice) {
  const int fd = ::open(lib_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct stat st{};
  ASSERT_EQ(::fstat(fd, &st), 0);
  st.st_mtim.tv_nsec = 100;
  st.st_ctim.tv_nsec = 200;
  const std::string key = ado::LibraryCache(lib_, fd, st).key();
  EXPECT_EQ(ado::LibraryCache(lib_, fd, st).key(), key);
  const std::vector<std::pair<const char*, std::function<void(struct stat&)>>> changes = {
      {"modification nanoseconds", [](struct stat& s) { s.st_mtim.tv_nsec = 101; }},
      {"modification seconds", [](struct stat& s) { s.st_mtim.tv_sec += 1; }},
      {"change nanoseconds", [](struct stat& s) { s.st_ctim.tv_nsec = 201; }},
      {"change seconds", [](struct stat& s) { s.st_ctim.tv_sec += 1; }},
      {"inode", [](struct stat& s) { s.st_ino += 1; }},
      {"device", [](struct stat& s) { s.st_dev += 1; }},
      {"size", [](struct stat& s) { s.st_size -= 4096; }},
  };
  for (const auto& [what, change] : changes) {
    struct stat other = st;
    change(other);
    EXPECT_NE(ado::LibraryCache(lib_, fd, other).key(), key) << what;
  }
  ::close(fd);
}

// A price corrected inside the library, in place, the size kept and the
// modification time put back (touch -r): the entry is not used.
TEST_F(LibraryCache, AnEditInPlaceWithItsTimeBackIsNotAnsweredFromTheEntry) {
  open();
  tamper();
  EXPECT_EQ(productName(*open()), "从缓存来");
  struct stat before{};
  ASSERT_EQ(::stat(lib_.c_str(), &before), 0);
  auto corrected = fixtures::library();
  corrected.tables[2].rows[0][4] = "4180.6400";
  const std::string made = dir_.file("corrected.zdj");
  jetwrite::writeDatabase(corrected, made);
  const std::string bytes = slurp(made);
  ASSERT_EQ(bytes.size(), std::size_t(before.st_size));
  // The system's clock for file times moves in ticks: wait for the next one,
  // so that the edit's change time is another one.
  for (int i = 0; i < 1000; ++i) {
    spill(dir_.file("tick"), "x");
    struct stat tick{};
    ::stat(dir_.file("tick").c_str(), &tick);
    if (tick.st_ctim.tv_sec != before.st_ctim.tv_sec || tick.st_ctim.tv_nsec != before.st_ctim.tv_nsec) break;
    ::usleep(1000);
  }
  {
    std::fstream f(lib_, std::ios::binary | std::ios::in | std::ios::out);
    f.write(bytes.data(), std::streamsize(bytes.size()));
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, lib_.c_str(), times, 0), 0);
  struct stat after{};
  ASSERT_EQ(::stat(lib_.c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  auto db = open();
  EXPECT_EQ(productName(*db), "螺纹钢 HRB400");
  EXPECT_EQ(db->execute("select Price from CLProduct where ID=1").cells.at(0).toText(), "4180.64");
}

// Eight bytes of an entry changed (a price's stored value): the entry is
// damaged and rebuilt, never served with the wrong price.
TEST_F(LibraryCache, EightBytesChangedInAnEntryNeverGiveAWrongPrice) {
  open();
  std::string s = slurp(entry());
  auto bigEndian = [](double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i) out[std::size_t(i)] = char(u >> (56 - 8 * i));
    return out;
  };
  const std::size_t at = s.find(bigEndian(1234567.8912));
  ASSERT_NE(at, std::string::npos);
  s.replace(at, 8, bigEndian(1.23));
  spill(entry(), s);
  auto db = open();
  EXPECT_EQ(db->execute("select Price from CLProduct where ID=2").cells.at(0).toText(), "1234567.8912");
  EXPECT_NE(slurp(entry()), s) << "rebuilt";
}

// A cache folder that is a link to another folder, and an entry that is a
// link to another file, are not followed: the other folder keeps its mode and
// its files under any size limit, the other file its bytes and mode.
TEST_F(LibraryCache, LinksInTheCacheAreNotFollowed) {
  const fs::path elsewhere = dir_.path() / "elsewhere";
  fs::create_directories(elsewhere);
  ::chmod(elsewhere.c_str(), 0755);
  spill((elsewhere / "lib-0000000000000001.sqlite").string(), std::string(100000, 'k'));
  fs::create_directory_symlink(elsewhere, home_.path() / "velmora");
  ado::setLibraryCacheLimit(1000);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(productName(*open()), "螺纹钢 HRB400");
  EXPECT_EQ(fs::status(elsewhere).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                fs::perms::others_exec);
  EXPECT_TRUE(fs::exists(elsewhere / "lib-0000000000000001.sqlite"));
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
  ado::setLibraryCacheLimit(0);

  fs::remove(home_.path() / "velmora");
  const std::string target = (elsewhere / "target").string();
  spill(target, "target");
  ::chmod(target.c_str(), 0644);
  fs::create_directories(home_.path() / "velmora");
  fs::create_symlink(target, entry());
  EXPECT_EQ(productName(*open()), "螺纹钢 HRB400");
  EXPECT_EQ(slurp(target), "target");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(fs::is_symlink(entry())) << "the link is replaced by an entry of its own";
  tamper();
  EXPECT_EQ(productName(*open()), "从缓存来");
}

TEST(LibraryCacheFolder, FollowsTheBaseDirectoryRules) {
  const char* oldXdg = std::getenv("XDG_CACHE_HOME");
  const std::string keepXdg = oldXdg ? oldXdg : "";
  const char* oldHome = std::getenv("HOME");
  const std::string keepHome = oldHome ? oldHome : "";
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CACHE_HOME", "/var/cache/x", 1);
  EXPECT_EQ(ado::libraryCacheFolder(), "/var/cache/x/velmora");
  ::setenv("XDG_CACHE_HOME", "relative/cache", 1);  // not absolute: ignored
  EXPECT_EQ(ado::libraryCacheFolder(), "/home/someone/.cache/velmora");
  ::unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(ado::libraryCacheFolder(), "/home/someone/.cache/velmora");
  ::setenv("HOME", keepHome.c_str(), 1);
  if (oldXdg) ::setenv("XDG_CACHE_HOME", keepXdg.c_str(), 1);
}

}  // namespace

TEST_F(LibraryCache, ACopyFromTheJetFileTellsItsProgressAnEntryNothing) {
  auto big = fixtures::library();
  auto& products = big.tables[2].rows;
  const auto model = products[0];
  for (int i = 0; i < 9000; ++i) {
    products.push_back(model);
    products.back()[0] = std::to_string(100 + i);
  }
  jetwrite::writeDatabase(big, lib_);
  uint64_t rows = 0;
  for (const auto& t : big.tables) rows += t.rows.size();

  std::vector<std::pair<uint64_t, uint64_t>> told;
  std::string path;
  ado::setImportProgress([&](const std::string& p, uint64_t done, uint64_t total) {
    path = p;
    told.emplace_back(done, total);
  });
  open();
  ASSERT_GE(told.size(), 4u);  // the start, two steps of 4096 rows, the end
  EXPECT_EQ(path, lib_);
  EXPECT_EQ(told.front(), std::make_pair(uint64_t(0), rows));
  EXPECT_EQ(told.back(), std::make_pair(rows, rows));
  for (size_t i = 1; i < told.size(); ++i) {
    EXPECT_GT(told[i].first, told[i - 1].first);
    EXPECT_EQ(told[i].second, rows);
  }
  told.clear();
  open();  // from the entry: nothing is copied
  EXPECT_TRUE(told.empty());
  ado::setImportProgress(nullptr);
}

// Entries checked page by page as the engine reads them: a library of a few
// thousand products (each price its own), whose entry spans many pages.
class LibraryCachePages : public LibraryCache {
 protected:
  static constexpr int kProducts = 4000;
  void SetUp() override {
    LibraryCache::SetUp();
    auto big = fixtures::library();
    auto& products = big.tables[2].rows;
    const auto model = products[1];
    for (int i = 0; i < kProducts; ++i) {
      products.push_back(model);
      products.back()[0] = std::to_string(100 + i);
      products.back()[4] = price(100 + i);
    }
    jetwrite::writeDatabase(big, lib_);
  }
  static std::string price(int id) { return std::to_string(20000 + id) + ".25"; }
  std::string priceOf(ado::Database& db, int id) {
    return db.execute("select Price from CLProduct where ID=" + std::to_string(id)).cells.at(0).toText();
  }
  // Product `id`'s price changed inside the entry, its digests left as they
  // were: the page holding it is damaged.
  void damagePrice(int id) {
    std::string s = slurp(entry());
    const std::size_t at = s.find(bigEndian(20000.25 + id));
    ASSERT_NE(at, std::string::npos);
    s.replace(at, 8, bigEndian(1.25));
    spill(entry(), s);
  }
  static std::string bigEndian(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i) out[std::size_t(i)] = char(u >> (56 - 8 * i));
    return out;
  }
};

TEST_F(LibraryCachePages, ADamagedDataPageIsFoundByTheQueryThatReadsItAndTheEntryRebuilt) {
  open();
  damagePrice(2000);
  const std::string damaged = slurp(entry());
  auto db = open();  // the page is not read yet: served from the entry
  EXPECT_EQ(priceOf(*db, 150), "20150.25");
  EXPECT_EQ(slurp(entry()), damaged);
  // The statement that reads the page answers from the library read afresh,
  // and the entry is written anew.
  EXPECT_EQ(priceOf(*db, 2000), "22000.25");
  EXPECT_EQ(db->execute("select count(*) from CLProduct where Price < 100").cells.at(0).toText(), "3");
  ASSERT_TRUE(fs::exists(entry()));
  EXPECT_NE(slurp(entry()), damaged);
  tamper();
  EXPECT_EQ(productName(*open()), "从缓存来") << "the new entry is used";
}

TEST_F(LibraryCachePages, ADamagedPageMetByAStreamingReadFailsClearly) {
  open();
  damagePrice(100 + kProducts - 1);  // the last product: on one of the last pages
  auto db = open();
  int rows = 0;
  try {
    db->forEachRow("select ID, Price from CLProduct", [&](std::vector<ado::Variant>&) { ++rows; });
    ADD_FAILURE() << "no error after " << rows << " rows";
  } catch (const ado::Error& e) {
    EXPECT_EQ(e.number, -2147467259);
    EXPECT_NE(std::string(e.what()).find("library cache is damaged"), std::string::npos) << e.what();
  }
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, kProducts + 4);
  EXPECT_FALSE(fs::exists(entry())) << "removed, so that the next open imports the library";
  EXPECT_EQ(priceOf(*open(), 100 + kProducts - 1), "24099.25");

  // The column reader, which hands each row over as it comes, fails alike.
  damagePrice(100 + kProducts - 1);
  db = open();
  {
    ado::ColumnReader reader(*db, "CLProduct", {"ID", "Price"});
    rows = 0;
    try {
      while (reader.next()) ++rows;
      ADD_FAILURE() << "no error after " << rows << " rows";
    } catch (const ado::Error& e) {
      EXPECT_NE(std::string(e.what()).find("library cache is damaged"), std::string::npos) << e.what();
    }
    EXPECT_GT(rows, 0);
  }
  EXPECT_EQ(priceOf(*open(), 100 + kProducts - 1), "24099.25");

  // Met before the first row: the rows of the library read afresh.
  damagePrice(300);
  db = open();
  std::vector<std::string> got;
  db->forEachRow("select Price from CLProduct where ID=300",
                 [&](std::vector<ado::Variant>& row) { got.push_back(row[0].toText()); });
  EXPECT_EQ(got, std::vector<std::string>{"20300.25"});
}

TEST_F(LibraryCachePages, PagesWrittenAfterTheOpenAreNotCheckedAgainstTheEntry) {
  ado::setLibraryCacheEnabled(false);
  auto imported = open();
  const std::string expected = answers(*imported) + priceOf(*imported, 3000);
  ado::setLibraryCacheEnabled(true);
  open();
  const std::string before = slurp(entry());
  auto db = open();
  // An index and its planner's figures: the schema page, the figures' pages
  // and new pages written in the private copy.
  ASSERT_TRUE(db->ensureIndex("CLProduct", "Remark"));
  ASSERT_TRUE(db->ensureIndex("CLProduct", "Weight"));
  EXPECT_EQ(db->execute("select ID from CLProduct where Remark = 'x'").rows, 1u);
  EXPECT_EQ(db->execute("select count(*) from CLProduct where Weight = 0").cells.at(0).toText(),
            std::to_string(kProducts + 1));
  EXPECT_EQ(answers(*db) + priceOf(*db, 3000), expected);
  EXPECT_EQ(slurp(entry()), before) << "neither damaged nor written";
}

TEST_F(LibraryCachePages, APageNeverReadIsNeverChecked) {
  open();
  const uint64_t before = ado::cachePagesChecked();
  auto db = open();
  EXPECT_EQ(priceOf(*db, 2500), "22500.25");
  const uint64_t checked = ado::cachePagesChecked() - before;
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db->sqlite(), "PRAGMA page_count", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const int64_t pages = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  EXPECT_GT(pages, 60);
  EXPECT_GT(checked, 0u);
  EXPECT_LT(checked, uint64_t(pages) / 4);
}

namespace {

// A derived table's build is part of the import: a stop asked while it runs
// ends the statement under way and the open, and no entry is written. Without
// a stop the same build runs to its end and the entry is written.
TEST_F(LibraryCache, AStopEndsADerivedTableBeingBuilt) {
  std::atomic<bool> stop{false};
  bool stopping = false;
  int rc = SQLITE_OK;
  ado::registerDerivedTable({"t_slow_derived", 1, [&](ado::Database& db) {
                               if (stopping) stop = true;
                               // Long enough to be seen running to its end.
                               const long long steps = stopping ? 30000000 : 1000;
                               const std::string sql =
                                   "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
                                   std::to_string(steps) + ") SELECT count(*) FROM c";
                               rc = sqlite3_exec(db.sqlite(), sql.c_str(), nullptr, nullptr, nullptr);
                               if (rc != SQLITE_OK) throw std::runtime_error("build ended");
                               sqlite3_exec(db.sqlite(), "CREATE TABLE t_slow_derived(x)", nullptr, nullptr, nullptr);
                             }});
  ado::setImportStopFlag(&stop);

  stopping = true;
  bool stopped = false;
  try {
    open();
  } catch (const ado::ImportStopped&) {
    stopped = true;
  }
  EXPECT_TRUE(stopped);
  EXPECT_EQ(rc, SQLITE_INTERRUPT);
  EXPECT_FALSE(fs::exists(entry()));

  stopping = false;
  stop = false;
  auto db = open();
  EXPECT_EQ(rc, SQLITE_OK);
  EXPECT_EQ(ado::derivedTableVersion(*db, "t_slow_derived"), 1);
  EXPECT_TRUE(fs::exists(entry()));

  ado::setImportStopFlag(nullptr);
  ado::registerDerivedTable({"t_slow_derived", 1, nullptr});  // leaves later tests alone
}

}  // namespace
