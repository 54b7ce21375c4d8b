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
