// Unpacking into a folder: every entry lands inside it, and an archive with
// any entry that would leave it is refused whole.
#include <gtest/gtest.h>

#include "platform/zip/unzip.h"
#include "support/test_support.h"

using testsupport::ProgramFolder;
using testsupport::ZipEntry;
namespace fs = std::filesystem;

TEST(Unzip, ExtractsIntoTheFolderAndRefusesEscapes) {
  ProgramFolder folder;
  const std::string zip = folder / "a.zip";
  testsupport::makeZip(zip, {{ZipEntry::Folder, "docs/", ""},
                             {ZipEntry::File, "docs/readme.txt", "hello"},
                             {ZipEntry::File, "top.bin", std::string(100000, 'x')},
                             {ZipEntry::File, "win\\style.txt", "w"}});
  fs::create_directories(folder / "dest");
  auto r = platform::unzipArchive(zip, folder / "dest");
  EXPECT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(testsupport::readFile(folder / "dest/docs/readme.txt"), "hello");
  EXPECT_EQ(testsupport::readFile(folder / "dest/top.bin").size(), 100000u);
  EXPECT_EQ(testsupport::readFile(folder / "dest/win/style.txt"), "w");

  // Every kind of escape refuses the whole archive; nothing of it is written.
  const std::vector<std::vector<ZipEntry>> evil = {
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "../evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "a/../../evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "..\\evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "/tmp/evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::File, "c:\\evil.txt", "x"}},
      {{ZipEntry::File, "ok.txt", "1"}, {ZipEntry::Symlink, "link", "/etc"}},
  };
  int n = 0;
  for (const auto& entries : evil) {
    const std::string path = folder / ("evil" + std::to_string(n) + ".zip");
    const std::string dest = folder / ("out" + std::to_string(n++));
    testsupport::makeZip(path, entries);
    fs::create_directories(dest);
    auto e = platform::unzipArchive(path, dest);
    EXPECT_NE(e.code, 0) << n;
    EXPECT_TRUE(e.refused) << n << " " << e.message;
    EXPECT_FALSE(testsupport::exists(dest + "/ok.txt")) << n;
  }
  EXPECT_FALSE(testsupport::exists(folder / "evil.txt"));

  // A link already in the folder does not lead an entry outside.
  fs::create_directories(folder / "linked");
  fs::create_directory_symlink(folder / "outside", folder / "linked/sub");
  fs::create_directories(folder / "outside");
  testsupport::makeZip(folder / "l.zip", {{ZipEntry::File, "sub/x.txt", "x"}});
  EXPECT_NE(platform::unzipArchive(folder / "l.zip", folder / "linked").code, 0);
  EXPECT_FALSE(testsupport::exists(folder / "outside/x.txt"));

  // Not an archive, or a truncated one.
  testsupport::writeFile(folder / "junk.zip", "<html>error</html>");
  EXPECT_NE(platform::unzipArchive(folder / "junk.zip", folder / "dest").code, 0);
  const std::string whole = testsupport::readFile(zip);
  testsupport::writeFile(folder / "cut.zip", whole.substr(0, whole.size() / 2));
  EXPECT_NE(platform::unzipArchive(folder / "cut.zip", folder / "dest").code, 0);
  EXPECT_NE(platform::unzipArchive(folder / "missing.zip", folder / "dest").code, 0);
}

TEST(Unzip, TheUnpackedSizeIsBoundedOverTheWholeArchive) {
  ProgramFolder folder;
  // Five entries, each well under the bound, together over it.
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 5; ++i) entries.push_back({ZipEntry::File, "part" + std::to_string(i) + ".bin", std::string(240000, 'a')});
  testsupport::makeZip(folder / "five.zip", entries);
  platform::UnzipLimits limits;
  limits.maxExpansion = 1;
  limits.minAllowance = 1000000;  // 1 MB for the whole archive
  limits.availableBytes = uint64_t{1} << 40;
  fs::create_directories(folder / "dest");
  const auto r = platform::unzipArchive(folder / "five.zip", folder / "dest", limits);
  EXPECT_EQ(r.code, platform::kUnzipTooLarge) << r.message;
  EXPECT_TRUE(fs::is_empty(folder / "dest"));
  EXPECT_EQ(platform::checkArchive(folder / "five.zip", limits).code, platform::kUnzipTooLarge);
  // Four of them fit.
  entries.pop_back();
  testsupport::makeZip(folder / "four.zip", entries);
  EXPECT_EQ(platform::unzipArchive(folder / "four.zip", folder / "dest", limits).code, 0);
  EXPECT_EQ(platform::checkArchive(folder / "four.zip", limits).code, 0);
  // The free space of the disk bounds it too.
  limits.availableBytes = limits.freeMargin + 500000;
  fs::create_directories(folder / "dest2");
  EXPECT_EQ(platform::unzipArchive(folder / "four.zip", folder / "dest2", limits).code, platform::kUnzipTooLarge);
  EXPECT_TRUE(fs::is_empty(folder / "dest2"));
}

TEST(Unzip, RefusedPlacesAndAStopChangeNothing) {
  ProgramFolder folder;
  fs::create_directories(folder / "dest");
  testsupport::writeFile(folder / "dest/Own.Ini", "mine");
  testsupport::makeZip(folder / "own.zip", {{ZipEntry::File, "a.txt", "a"}, {ZipEntry::File, "./OWN.ini", "theirs"}});
  platform::UnzipLimits limits;
  std::vector<std::string> asked;
  limits.refusedTarget = [&](const std::string& target) {
    asked.push_back(target);
    return fs::path(target).filename() == "Own.Ini";
  };
  const auto refused = platform::unzipArchive(folder / "own.zip", folder / "dest", limits);
  EXPECT_EQ(refused.code, platform::kUnzipUnsafeEntry);
  EXPECT_TRUE(refused.refused);
  // Resolved in any letter case to the file that is there.
  EXPECT_EQ(asked, (std::vector<std::string>{folder / "dest/a.txt", folder / "dest/Own.Ini"}));
  EXPECT_EQ(testsupport::readFile(folder / "dest/Own.Ini"), "mine");
  EXPECT_FALSE(testsupport::exists(folder / "dest/a.txt"));
  EXPECT_EQ(platform::checkArchive(folder / "own.zip", limits, folder / "dest").code, platform::kUnzipUnsafeEntry);
  EXPECT_EQ(platform::checkArchive(folder / "own.zip", limits).code, 0);  // no destination: nothing to refuse

  // keepGoing is asked between entries and blocks; false stops before anything moved.
  testsupport::makeZip(folder / "many.zip", {{ZipEntry::File, "x/1.txt", "1"},
                                             {ZipEntry::File, "x/2.txt", std::string(200000, '2')},
                                             {ZipEntry::File, "x/3.txt", "3"}});
  for (int stopAt : {1, 2, 3, 4}) {
    platform::UnzipLimits stop;
    int calls = 0;
    stop.keepGoing = [&](uint64_t) { return ++calls < stopAt; };
    const auto r = platform::unzipArchive(folder / "many.zip", folder / "dest", stop);
    EXPECT_EQ(r.code, platform::kUnzipCancelled) << stopAt;
    EXPECT_FALSE(testsupport::exists(folder / "dest/x")) << stopAt;
  }
  for (const auto& e : fs::directory_iterator(folder / "dest"))
    EXPECT_FALSE(platform::isUnpackFolderName(e.path().filename().string())) << e.path();
  platform::UnzipLimits counting;
  int calls = 0;
  counting.keepGoing = [&](uint64_t) { return ++calls > 0; };
  EXPECT_EQ(platform::unzipArchive(folder / "many.zip", folder / "dest", counting).code, 0);
  EXPECT_GE(calls, 6);  // every entry and every block
  EXPECT_EQ(testsupport::readFile(folder / "dest/x/3.txt"), "3");
}

TEST(Unzip, NamesFoundInAnyLetterCaseAmongManyEntries) {
  ProgramFolder folder;
  fs::create_directories(folder / "dest/Web");
  testsupport::writeFile(folder / "dest/Web/Index.HTM", "old");
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 300; ++i) entries.push_back({ZipEntry::File, "web/p" + std::to_string(i) + ".htm", "p"});
  // Two spellings of one name in the archive are one file, the later one wins;
  // an entry meets an existing file in another letter case.
  entries.push_back({ZipEntry::File, "WEB/P7.HTM", "seven"});
  entries.push_back({ZipEntry::File, "web/index.htm", "new"});
  entries.push_back({ZipEntry::Folder, "web/New/", ""});
  entries.push_back({ZipEntry::File, "WEB/NEW/a.txt", "a"});
  testsupport::makeZip(folder / "m.zip", entries);
  const auto r = platform::unzipArchive(folder / "m.zip", folder / "dest");
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(testsupport::readFile(folder / "dest/Web/Index.HTM"), "new");
  EXPECT_EQ(testsupport::readFile(folder / "dest/Web/p7.htm"), "seven");
  EXPECT_EQ(testsupport::readFile(folder / "dest/Web/New/a.txt"), "a");
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder / "dest")) files += e.is_regular_file();
  EXPECT_EQ(files, 302u);
  EXPECT_FALSE(testsupport::exists(folder / "dest/web"));
}

// The folders of dest are looked at once for all the entries they hold, but
// each folder on its own: a link among them still refuses the archive,
// whether its entries come before or after those of plain folders.
TEST(Unzip, EveryFolderIsCheckedAmongManyEntries) {
  ProgramFolder folder;
  fs::create_directories(folder / "outside");
  int n = 0;
  for (const bool linkFirst : {false, true}) {
    const std::string dest = folder / ("dest" + std::to_string(n));
    fs::create_directories(dest + "/pages/plain");
    fs::create_directory_symlink(folder / "outside", dest + "/pages/Linked");
    std::vector<ZipEntry> entries;
    if (linkFirst) entries.push_back({ZipEntry::File, "PAGES/linked/x.htm", "x"});
    for (int i = 0; i < 50; ++i) {
      entries.push_back({ZipEntry::File, "pages/p" + std::to_string(i) + ".htm", "p"});
      entries.push_back({ZipEntry::File, "pages/plain/q" + std::to_string(i) + ".htm", "q"});
    }
    if (!linkFirst) entries.push_back({ZipEntry::File, "PAGES/linked/x.htm", "x"});
    const std::string zip = folder / ("l" + std::to_string(n++) + ".zip");
    testsupport::makeZip(zip, entries);
    const auto r = platform::unzipArchive(zip, dest);
    EXPECT_NE(r.code, 0) << linkFirst;
    EXPECT_FALSE(testsupport::exists(dest + "/pages/p0.htm")) << linkFirst;
    EXPECT_FALSE(testsupport::exists(dest + "/pages/plain/q0.htm")) << linkFirst;
  }
  EXPECT_TRUE(fs::is_empty(folder / "outside"));

  // A file and a folder of one name, among entries that share their folder.
  std::vector<ZipEntry> clash;
  for (int i = 0; i < 20; ++i) clash.push_back({ZipEntry::File, "web/p" + std::to_string(i) + ".htm", "p"});
  clash.push_back({ZipEntry::File, "web/a", "file"});
  clash.push_back({ZipEntry::File, "web/A/b.htm", "below"});
  testsupport::makeZip(folder / "clash.zip", clash);
  fs::create_directories(folder / "clashdest");
  EXPECT_NE(platform::unzipArchive(folder / "clash.zip", folder / "clashdest").code, 0);
  EXPECT_FALSE(testsupport::exists(folder / "clashdest/web"));

  // Many entries over several folders, some made by the archive itself, all land.
  std::vector<ZipEntry> spread;
  for (int i = 0; i < 200; ++i)
    spread.push_back({ZipEntry::File, "s" + std::to_string(i % 7) + "/t" + std::to_string(i % 3) + "/f" + std::to_string(i), std::to_string(i)});
  testsupport::makeZip(folder / "spread.zip", spread);
  fs::create_directories(folder / "spreaddest/s3");
  ASSERT_EQ(platform::unzipArchive(folder / "spread.zip", folder / "spreaddest").code, 0);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(testsupport::readFile(folder / ("spreaddest/s" + std::to_string(i % 7) + "/t" + std::to_string(i % 3) + "/f" + std::to_string(i))), std::to_string(i)) << i;
}

TEST(Unzip, UnpackFolderNames) {
  EXPECT_TRUE(platform::isUnpackFolderName(".unzip-1"));
  EXPECT_TRUE(platform::isUnpackFolderName(".unzip-123456789"));
  for (const char* other : {".unzip-", ".unzip-x", "unzip-1", ".unzip-1.txt", ".Unzip-1", ""})
    EXPECT_FALSE(platform::isUnpackFolderName(other)) << other;
}
