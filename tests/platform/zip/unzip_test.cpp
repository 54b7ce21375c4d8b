// Unpacking into a folder: every entry lands inside it, and an archive with
// any entry that would leave it is refused whole.
#include <gtest/gtest.h>

#include <map>
#include <random>

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

// A reader of archives (a workbook) keeps the bytes of the entries it wants,
// within each of its bounds taken exactly, and nothing at all when any entry
// is refused.
TEST(Unzip, ReadingEntriesKeepsWhatIsWantedWithinEveryBound) {
  ProgramFolder folder;
  const std::string zip = folder / "book.zip";
  const std::string big(5000, 'b');
  testsupport::makeZip(zip, {{ZipEntry::Folder, "xl/", ""},
                             {ZipEntry::File, "xl/a.xml", "alpha"},
                             {ZipEntry::File, "xl\\b.xml", big},
                             {ZipEntry::File, "c.txt", "gamma"}});
  const auto notC = [](const std::string& name) { return name != "c.txt"; };
  std::map<std::string, std::string> parts{{"left over", "x"}};
  const auto all = platform::readArchiveEntries(zip, {}, notC, parts);
  ASSERT_EQ(all.code, 0) << all.message;
  EXPECT_EQ(all.entries, 4);
  EXPECT_EQ(all.bytes, 5010u);
  // Names as '/'-separated; a folder is never kept, even when it is wanted.
  EXPECT_EQ(parts, (std::map<std::string, std::string>{{"xl/a.xml", "alpha"}, {"xl/b.xml", big}}));

  struct Bound {
    uint64_t platform::UnzipLimits::*field;
    uint64_t exact;
    const char* what;
  };
  for (const Bound& b : {Bound{&platform::UnzipLimits::maxEntries, 4, "entries"},
                         Bound{&platform::UnzipLimits::maxEntryBytes, 5000, "entry bytes"},
                         Bound{&platform::UnzipLimits::maxTotalBytes, 5010, "total bytes"}}) {
    platform::UnzipLimits limits;
    limits.*b.field = b.exact;
    EXPECT_EQ(platform::readArchiveEntries(zip, limits, notC, parts).code, 0) << b.what;
    EXPECT_EQ(parts.size(), 2u) << b.what;
    limits.*b.field = b.exact - 1;
    const auto over = platform::readArchiveEntries(zip, limits, notC, parts);
    EXPECT_EQ(over.code, platform::kUnzipTooLarge) << b.what;
    EXPECT_TRUE(parts.empty()) << b.what << ": " << parts.size() << " entries kept";
    EXPECT_EQ(platform::checkArchive(zip, limits).code, platform::kUnzipTooLarge) << b.what;
    fs::create_directories(folder / "dest");
    EXPECT_EQ(platform::unzipArchive(zip, folder / "dest", limits).code, platform::kUnzipTooLarge) << b.what;
    EXPECT_TRUE(fs::is_empty(folder / "dest")) << b.what;
  }
}

// Each reason gives its own code, and none of them changes the destination.
TEST(Unzip, EachFaultHasItsCodeAndChangesNothing) {
  ProgramFolder folder;
  fs::create_directories(folder / "dest");
  testsupport::writeFile(folder / "dest/keep.txt", "kept");
  const auto untouched = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder / "dest")) names.push_back(e.path().string());
    return names == std::vector<std::string>{folder / "dest/keep.txt"} && testsupport::readFile(folder / "dest/keep.txt") == "kept";
  };

  // Bytes that do not compress are stored as they are: one of them changed
  // no longer matches the entry's checksum.
  std::mt19937 random(7);
  std::string noise(4000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  testsupport::makeZip(folder / "good.zip", {{ZipEntry::File, "first.txt", "1"}, {ZipEntry::File, "noise.bin", noise}});
  std::string bytes = testsupport::readFile(folder / "good.zip");
  const size_t at = bytes.find(noise.substr(2000, 64));
  ASSERT_NE(at, std::string::npos) << "the noise is not stored as it is";
  bytes[at + 10] = static_cast<char>(bytes[at + 10] ^ 0x55);
  testsupport::writeFile(folder / "damaged.zip", bytes);
  auto r = platform::unzipArchive(folder / "damaged.zip", folder / "dest");
  EXPECT_EQ(r.code, platform::kUnzipCorrupt) << r.message;
  EXPECT_FALSE(r.refused);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(platform::checkArchive(folder / "damaged.zip").code, platform::kUnzipCorrupt);
  std::map<std::string, std::string> parts;
  EXPECT_EQ(platform::readArchiveEntries(folder / "damaged.zip", {}, [](const std::string&) { return true; }, parts).code,
            platform::kUnzipCorrupt);
  EXPECT_TRUE(parts.empty());
  EXPECT_EQ(platform::checkArchive(folder / "good.zip").code, 0);

  // No archive there, or no folder to unpack into.
  EXPECT_EQ(platform::unzipArchive(folder / "missing.zip", folder / "dest").code, platform::kUnzipCannotOpen);
  EXPECT_EQ(platform::checkArchive(folder / "missing.zip").code, platform::kUnzipCannotOpen);
  EXPECT_EQ(platform::unzipArchive(folder / "good.zip", folder / "nowhere").code, platform::kUnzipWriteFailed);
  EXPECT_FALSE(testsupport::exists(folder / "nowhere"));
  EXPECT_EQ(platform::unzipArchive(folder / "good.zip", folder / "dest/keep.txt").code, platform::kUnzipWriteFailed);
  EXPECT_TRUE(untouched());

  // A file where the archive has a folder, and a folder where it has a file
  // (in another letter case): refused before anything is moved, whatever
  // the order of the entries around it.
  std::vector<ZipEntry> around;
  for (int i = 0; i < 12; ++i) around.push_back({ZipEntry::File, "d" + std::to_string(i) + "/f.txt", "f"});
  testsupport::writeFile(folder / "dest/web", "a file");
  fs::create_directories(folder / "dest/Notes.TXT");
  const auto reset = [&] {
    fs::remove(folder / "dest/web");
    fs::remove(folder / "dest/Notes.TXT");
  };
  for (const ZipEntry& clash : {ZipEntry{ZipEntry::File, "web/x.htm", "x"}, ZipEntry{ZipEntry::File, "notes.txt", "n"}}) {
    std::vector<ZipEntry> entries(around.begin(), around.begin() + 6);
    entries.push_back(clash);
    entries.insert(entries.end(), around.begin() + 6, around.end());
    testsupport::makeZip(folder / "clash.zip", entries);
    r = platform::unzipArchive(folder / "clash.zip", folder / "dest");
    EXPECT_EQ(r.code, platform::kUnzipWriteFailed) << clash.name << ": " << r.message;
    for (int i = 0; i < 12; ++i) EXPECT_FALSE(testsupport::exists(folder / ("dest/d" + std::to_string(i)))) << clash.name << " " << i;
  }
  EXPECT_EQ(testsupport::readFile(folder / "dest/web"), "a file");
  EXPECT_TRUE(fs::is_directory(folder / "dest/Notes.TXT"));
  reset();
  EXPECT_TRUE(untouched());
}

TEST(Unzip, SafeEntryNames) {
  for (const char* name : {"a.txt", "a/b/c.txt", "./a.txt", "a/./b", "a//b", "dir/", "a\\b.txt", "..a", "a..", "a/..b", "价格/表.xls"})
    EXPECT_TRUE(platform::isSafeEntryName(name)) << name;
  for (const char* name : {"", "/", ".", "./", "/a", "\\a", "..", "../a", "a/..", "a/../b", "a\\..\\b", "c:/a", "c:a",
                           "a/b:c", "a/b/c.txt:stream", "\\\\server\\share\\a"})
    EXPECT_FALSE(platform::isSafeEntryName(name)) << name;
  EXPECT_FALSE(platform::isSafeEntryName(std::string("a/b\0c", 5)));
}
