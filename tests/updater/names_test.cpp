// The one rule for the names the updater takes: from a list, from reset.ini
// and from an archive. What its files cannot carry is refused before it is
// written; its own files and its program are never a place to write to.
#include <gtest/gtest.h>

#include <random>

#include "common/items.h"
#include "platform/process/process.h"
#include "platform/zip/unzip.h"
#include "support/test_support.h"
#include "updater/install.h"
#include "updater/local_files.h"
#include "updater/partial_file.h"

using namespace updater;
using testsupport::ProgramFolder;
using testsupport::ZipEntry;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kOwnNames = {"upset.ini", "Quennar.log", "reset.ini", "up.ini",
                                            "Quennar.ini", "Quennar.lock", "Quennar"};

// Random text over characters that the updater's files treat specially and
// some they cannot encode at all.
std::string randomText(std::mt19937& random) {
  static const std::vector<std::string> plain = {"a", "Z", "0", ".", " ", "\\", ",", "=", "中", "价", "é", "ｈ"};
  static const std::vector<std::string> special = {";", "\"", "|", "\r", "\n", "\t", "😀", "\xEF\xBF\xBD"};
  std::string out;
  const int length = 1 + static_cast<int>(random() % 6);
  for (int i = 0; i < length; ++i)
    out += random() % 16 == 0 ? special[random() % special.size()] : plain[random() % plain.size()];
  return out;
}

}  // namespace

TEST(NameRule, WhatTheLogAndResetFileHoldReadsBackExactlyOrWasRefusedBefore) {
  ProgramFolder folder;
  std::mt19937 random(20261209);
  int accepted = 0, refused = 0;
  for (int round = 0; round < 400; ++round) {
    const std::string name = randomText(random), date = randomText(random);
    const std::string local = randomText(random), target = randomText(random);
    if (!itemRefusal(name, date, local, target, "").empty()) {
      ++refused;
      continue;
    }
    ++accepted;
    const std::string source = *pathInProgramFolder(local);
    const std::string targetPath = *pathInProgramFolder(target, true);
    UpdaterState st;
    st.installedList = "first\\d|" + name + "\\" + date + "|";
    st.pendingList = source + ";" + targetPath + "|" + (folder / "b") + ";" + (folder / "c") + "|";
    st.pendingInstalled = name + "\\" + date + "|";
    ASSERT_TRUE(writelog(st, "v" + name, date));
    ASSERT_TRUE(writereset(st));
    UpdaterState back;
    ASSERT_TRUE(readlog(back));
    EXPECT_EQ(back.installedVersion, "v" + name);
    EXPECT_EQ(back.installedDate, date);
    EXPECT_EQ(back.installedList, st.installedList) << name << "|" << date;
    const auto items = common::readItemFile(localPath(kResetFile), 5).value();
    ASSERT_EQ(items.size(), 5u);
    const auto pairs = splitPending(items[2]);
    ASSERT_EQ(pairs.size(), 2u) << local << " " << target;
    EXPECT_EQ(pairs[0].first, source);
    EXPECT_EQ(pairs[0].second, targetPath);
    EXPECT_EQ(items[4], st.pendingInstalled);
  }
  // Both sides were exercised.
  EXPECT_GT(accepted, 20);
  EXPECT_GT(refused, 20);

  // The cases that cut the files short or split an entry in the wrong place.
  EXPECT_NE(itemRefusal("x", "d", "pro.mdb;web/x", "pro.mdb", ""), "");
  EXPECT_NE(itemRefusal("x", "d", "readme;v2.txt", "readme.txt", ""), "");
  EXPECT_NE(itemRefusal("x", "d", "new.txt", "old;v2.txt", ""), "");
  EXPECT_NE(itemRefusal("a\"b", "d", "a.txt", "b.txt", ""), "");
  EXPECT_NE(itemRefusal("a", "2026\"12", "a.txt", "b.txt", ""), "");
  EXPECT_NE(itemRefusal("a", "d", "a\".txt", "运行", ""), "");
  EXPECT_NE(itemRefusal("a", "d", "a.zip", "解压", "web;x"), "");
  EXPECT_NE(itemRefusal("😀", "d", "a.txt", "b.txt", ""), "");
  // Honest names pass.
  EXPECT_EQ(itemRefusal("年终更新", "2026-12-01", "web\\新页.htm", "web\\页.htm", ""), "");
  EXPECT_EQ(itemRefusal("a", "d", "a.zip", "解压", ""), "");
  EXPECT_EQ(itemRefusal("a", "d", "a.sh", "运行", ""), "");
}

TEST(NameRule, TheUpdatersOwnFilesAndProgramInAnyCaseAndThroughALink) {
  ProgramFolder folder;
  fs::create_directory_symlink(folder.path(), folder / "again");
  for (const std::string& own : kOwnNames) {
    std::string upper = own;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& name : {own, upper, ".\\" + own, "again/" + own, "again\\.\\" + upper}) {
      EXPECT_TRUE(isUpdaterFile(folder / own)) << name;
      EXPECT_FALSE(pathInProgramFolder(name)) << name;
      EXPECT_NE(itemRefusal("x", "d", name, "运行", ""), "") << name;          // local name, 运行 file
      EXPECT_NE(itemRefusal("x", "d", "new.bin", name, ""), "") << name;       // deferred target
      EXPECT_FALSE(acceptedPendingPath(*common::resolveInProgramFolder(name))) << name;
    }
  }
  // The same names in a folder of their own are ordinary files.
  EXPECT_FALSE(isUpdaterFile(folder / "web/quennar"));
  EXPECT_TRUE(pathInProgramFolder("web\\Quennar"));
  EXPECT_TRUE(pathInProgramFolder("Quennar.exe"));
}

TEST(NameRule, AnArchiveWithAnEntryOverTheUpdatersFilesIsRefusedWhole) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "upset.ini", "settings");
  fs::create_directories(folder / "web");
  fs::create_directory_symlink(folder.path(), folder / "web/home");
  int n = 0;
  for (const std::string& own : kOwnNames) {
    std::string mixed = own;
    mixed[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[0])));
    mixed.back() = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed.back())));
    for (const std::string& entry : {own, mixed, "./" + mixed, "sub/../" + own, "web\\home\\" + own}) {
      const std::string zip = folder / ("own" + std::to_string(n++) + ".zip");
      testsupport::makeZip(zip, {{ZipEntry::File, "fine.txt", "fine"}, {ZipEntry::File, entry, "[taken over]"}});
      // Unpacked into the program folder, now or when applied later.
      const CopyfileResult now = copyfile(folder.path(), zip);
      EXPECT_NE(now.code, 0) << entry;
      EXPECT_TRUE(testsupport::exists(zip)) << entry;  // a refused archive stays
      EXPECT_NE(platform::checkArchive(zip, unzipLimits(), folder.path()).code, 0) << entry;
      EXPECT_FALSE(testsupport::exists(folder / "fine.txt")) << entry;
      EXPECT_EQ(testsupport::readFile(folder / "upset.ini"), "settings") << entry;
      EXPECT_FALSE(testsupport::exists(folder / own) && own != "upset.ini") << entry;
    }
  }
  // Unpacked into a folder of its own, such a name is an ordinary file.
  testsupport::makeZip(folder / "web.zip", {{ZipEntry::File, "reset.ini", "a page's own reset.ini"}});
  fs::create_directories(folder / "pages");
  EXPECT_EQ(copyfile(folder / "pages", folder / "web.zip").code, 0);
  EXPECT_EQ(testsupport::readFile(folder / "pages/reset.ini"), "a page's own reset.ini");
  EXPECT_FALSE(testsupport::exists(folder / "reset.ini"));
}

TEST(NameRule, AttemptCountsAreDigitsOnlyAndBounded) {
  EXPECT_EQ(parseAttempts("", 3), 0);
  EXPECT_EQ(parseAttempts("0", 3), 0);
  EXPECT_EQ(parseAttempts("2", 3), 2);
  EXPECT_EQ(parseAttempts("7", 3), 3);
  for (const char* forged : {"-999999", "-1", "+1", " 1", "1 ", "1e3", "0x1", "9999", "abc", "１"})
    EXPECT_EQ(parseAttempts(forged, 3), 3) << forged;
}

TEST(NameRule, TwoItemsOfOneLocalNameNeverShareADownload) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "update.tmp", "library bytes");
  UpdaterState st;
  st.pendingList = (folder / "update.tmp") + ";" + (folder / "pro.mdb") + "|";
  EXPECT_TRUE(isPendingSource(st.pendingList, folder / "update.tmp"));
  EXPECT_TRUE(isPendingSource(st.pendingList, folder / "UPDATE.TMP"));
  EXPECT_FALSE(isPendingSource(st.pendingList, folder / "pro.mdb"));
  EXPECT_FALSE(isPendingSource("", folder / "update.tmp"));
}

TEST(Leftovers, UnpackFoldersAndPartialDownloadsOfAKilledRunAreFound) {
  ProgramFolder folder;
  testsupport::writeFile(folder / ".unzip-123/web/a.htm", "half");
  testsupport::writeFile(folder / "web/.unzip-9/x", "half");
  testsupport::writeFile(folder / ".lib.zdj.download", "part");
  testsupport::writeFile(folder / "web/.p.htm.download", "part");
  // Not leftovers: names that only look alike, and what lies behind a link.
  testsupport::writeFile(folder / "unzip-1/keep", "k");
  testsupport::writeFile(folder / ".unzip-x/keep", "k");
  testsupport::writeFile(folder / "notes.download", "k");
  testsupport::writeFile(folder / ".download", "k");
  ProgramFolder other;
  testsupport::writeFile(other / ".x.download", "not ours");
  common::setProgramFolder(folder.path());
  fs::create_directory_symlink(other.path(), folder / "linked");
  std::vector<std::string> found = leftoversIn(folder.path());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{folder / ".lib.zdj.download", folder / ".unzip-123",
                                             folder / "web/.p.htm.download", folder / "web/.unzip-9"}));
  EXPECT_EQ(downloadName(folder / "web/p.htm"), folder / "web/.p.htm.download");
  EXPECT_TRUE(platform::isUnpackFolderName(".unzip-0"));
  EXPECT_FALSE(platform::isUnpackFolderName(".unzip-"));
  EXPECT_FALSE(platform::isUnpackFolderName(".unzip-1a"));
}
