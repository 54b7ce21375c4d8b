#include "common/atomic_file.h"
#include "common/cp936.h"
#include "common/file_test.h"
#include "common/items.h"
#include "common/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velmora-common-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

}  // namespace

TEST(Cp936, RoundTripsChineseAndReplacesBadBytes) {
  std::string gbk = common::toCp936("更新");
  EXPECT_EQ(gbk, "\xB8\xFC\xD0\xC2");
  EXPECT_EQ(common::fromCp936(gbk), "更新");
  EXPECT_EQ(common::fromCp936("plain"), "plain");
  // A lead byte without its trail byte and a stray 0xFF decode to U+FFFD.
  EXPECT_EQ(common::fromCp936("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(common::fromCp936("x\xB8"), "x\xEF\xBF\xBD");
  // A character GBK cannot hold is written as '?', not dropped silently.
  EXPECT_EQ(common::toCp936("a😀b"), "a?b");
}

TEST(ProgramFolder, JoinsWindowsStyleNames) {
  common::setProgramFolder("/opt/velmora/");
  EXPECT_EQ(common::programFolder(), "/opt/velmora");
  EXPECT_EQ(common::inProgramFolder("\\web\\Orvanta.htm"), "/opt/velmora/web/Orvanta.htm");
  EXPECT_EQ(common::inProgramFolder("pro.mdb"), "/opt/velmora/pro.mdb");
  EXPECT_EQ(common::inProgramFolder("\\图标\\"), "/opt/velmora/图标/");
  EXPECT_EQ(common::nativePath("a\\b"), "a/b");
  EXPECT_EQ(common::executableName("Quennar"), "Quennar");
  common::setProgramFolder("");
  EXPECT_FALSE(common::programFolder().empty());
  EXPECT_NE(common::programFolder().back(), '/');
}

TEST_F(TempFolder, ItemFilesAreGbkAndRoundTrip) {
  auto path = (dir_ / "更新.ini").string();
  ASSERT_TRUE(common::writeItemFile(path, {std::string("更新"), std::string("a,b"), std::nullopt}));
  EXPECT_EQ(slurp(path), "\"\xB8\xFC\xD0\xC2\"\r\n\"a,b\"\r\n\r\n");
  auto items = common::readItemFile(path, 50);
  ASSERT_TRUE(items);
  EXPECT_EQ(*items, (std::vector<std::string>{"更新", "a,b", ""}));
  EXPECT_FALSE(common::readItemFile((dir_ / "missing.ini").string(), 50));
}

TEST_F(TempFolder, AtomicWriteReplacesOrLeavesTheOldFile) {
  auto path = (dir_ / "upset.ini").string();
  ASSERT_TRUE(common::writeFileAtomic(path, "old"));
  ASSERT_TRUE(common::writeFileAtomic(path, "new content"));
  EXPECT_EQ(slurp(path), "new content");

  // A folder that cannot be written: the write fails and the old file stays.
  if (::geteuid() != 0) {
    fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    std::string error;
    EXPECT_FALSE(common::writeFileAtomic(path, "lost", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(slurp(path), "new content");
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
  }
  // A path whose folder does not exist fails without creating anything.
  EXPECT_FALSE(common::writeFileAtomic((dir_ / "nofolder" / "x.ini").string(), "x"));
  // No temporary files are left behind.
  int files = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(TempFolder, AtomicWriteThatCannotReplaceCleansUp) {
  // The name is taken by a folder: the rename fails, the folder stays, and the
  // temporary file is removed again.
  fs::create_directories(dir_ / "taken" / "inner");
  EXPECT_FALSE(common::writeFileAtomic((dir_ / "taken").string(), "data"));
  EXPECT_TRUE(fs::is_directory(dir_ / "taken" / "inner"));
  int files = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(TempFolder, NamesFromDataFindTheRealFilesWhateverTheirLetterCase) {
  const std::string d = dir_.string();
  std::ofstream(dir_ / "MainPro.ini") << "x";
  fs::create_directories(dir_ / "Web");
  std::ofstream(dir_ / "Web" / "Orvanta.htm") << "x";
  fs::create_directories(dir_ / "图标");
  std::ofstream(dir_ / "图标" / "steel.bmp") << "x";
  auto resolve = [&](std::string_view name) { return common::resolveIn(d, name).value_or("(refused)"); };

  // Existing parts under their real names; missing parts keep the spelling given.
  EXPECT_EQ(resolve("mainpro.ini"), d + "/MainPro.ini");
  EXPECT_EQ(resolve("web\\orvanta.htm"), d + "/Web/Orvanta.htm");
  EXPECT_EQ(resolve("\\WEB\\ORVANTA.HTM"), d + "/Web/Orvanta.htm");
  EXPECT_EQ(resolve("web/New/Page.htm"), d + "/Web/New/Page.htm");
  EXPECT_EQ(resolve("图标\\STEEL.bmp"), d + "/图标/steel.bmp");
  EXPECT_EQ(resolve("web\\"), d + "/Web");
  EXPECT_EQ(resolve(""), d);
  EXPECT_EQ(resolve(".\\web\\\\orvanta.htm"), d + "/Web/Orvanta.htm");
  EXPECT_EQ(common::resolveIn(d + "/", "mainpro.ini"), d + "/MainPro.ini");

  // Two names that differ only in case: the exact spelling first, then byte order.
  fs::create_directories(dir_ / "data");
  fs::create_directories(dir_ / "Data");
  EXPECT_EQ(resolve("data/x.dat"), d + "/data/x.dat");
  EXPECT_EQ(resolve("Data/x.dat"), d + "/Data/x.dat");
  EXPECT_EQ(resolve("DATA/x.dat"), d + "/Data/x.dat");
  // ... unless the rest of the path exists only under another spelling.
  std::ofstream(dir_ / "Data" / "lib.zdj") << "x";
  EXPECT_EQ(resolve("data/LIB.zdj"), d + "/Data/lib.zdj");

  // Names that could leave the folder are refused, not resolved.
  // A colon or NUL in any part, not only the first.
  for (const char* bad : {"..", "web\\..\\..\\x", "../x", "c:\\x.exe", "a:b", "web\\c:x.htm", "web/new/a:b",
                          "web\\orvanta.htm:stream", "a/b/c/d:", "web/.."})
    EXPECT_FALSE(common::resolveIn(d, bad)) << bad;
  EXPECT_FALSE(common::resolveIn(d, std::string("a\0b", 3)));
  EXPECT_FALSE(common::resolveIn(d, std::string("web/a\0b", 7)));
  EXPECT_FALSE(common::resolveIn(d, std::string("web\\new\\\0", 9)));

  // With the folders' listings kept, every name resolves as without them, and a
  // file made meanwhile (and reported) is found in any letter case.
  common::FolderListings listings;
  for (const char* name : {"mainpro.ini", "web\\orvanta.htm", "\\WEB\\ORVANTA.HTM", "web/New/Page.htm",
                           "图标\\STEEL.bmp", "web\\", "", "DATA/x.dat", "data/LIB.zdj", "a:b", "web/c:x", ".."})
    EXPECT_EQ(common::resolveIn(d, name, listings), common::resolveIn(d, name)) << name;
  std::ofstream(dir_ / "Web" / "Fresh.htm") << "x";
  listings.added(d + "/Web/Fresh.htm");
  EXPECT_EQ(common::resolveIn(d, "web/FRESH.HTM", listings), d + "/Web/Fresh.htm");
  fs::create_directories(dir_ / "Web" / "Sub");
  listings.added(d + "/Web/Sub");
  listings.added(d + "/Web/Sub");  // reported twice: still one name
  EXPECT_EQ(common::resolveIn(d, "WEB/SUB/x.htm", listings), d + "/Web/Sub/x.htm");
  listings.added(d + "/Elsewhere/x");  // a folder never listed is read when first needed
  EXPECT_EQ(common::resolveIn(d, "MAINPRO.INI", listings), d + "/MainPro.ini");

  // The program folder's resolver is the same routine.
  common::setProgramFolder(d);
  EXPECT_EQ(common::resolveInProgramFolder("MAINPRO.INI"), d + "/MainPro.ini");
  common::setProgramFolder("");
}

TEST_F(TempFolder, AFileCountsWhenItCanBeOpenedForReading) {
  const std::string f = (dir_ / "a.txt").string();
  std::ofstream(f) << "content";
  EXPECT_TRUE(common::canOpenForReading(f));
  EXPECT_EQ(slurp(f), "content");
  EXPECT_FALSE(common::canOpenForReading(dir_.string()));  // a folder is no file
  EXPECT_FALSE(common::canOpenForReading(""));
  EXPECT_FALSE(common::canOpenForReading((dir_ / "missing.txt").string()));
  EXPECT_FALSE(common::canOpenForReading((dir_ / "no" / "a.txt").string()));
  EXPECT_FALSE(common::canOpenForReading(f + std::string("\0x", 2)));
  if (::geteuid() != 0) {
    fs::permissions(f, fs::perms::none);
    EXPECT_FALSE(common::canOpenForReading(f));
  }
}
