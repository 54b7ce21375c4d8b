// Installation without a network: unpacking checked whole before anything
// moves, the bounds on what an archive may unpack to, the items refused, the
// deferred replacements that keep or give back their place in the installed
// list, and the program folder's boundary.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <clocale>
#include <random>

#include "common/items.h"
#include "platform/zip/unzip.h"
#include "support/test_support.h"
#include "updater/install.h"
#include "updater/local_files.h"
#include "updater/update_list.h"

using namespace updater;
using testsupport::ProgramFolder;
using testsupport::ZipEntry;
namespace fs = std::filesystem;

namespace {

std::string noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// Names directly in folder, sorted.
std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

UpdaterState item(const std::string& localName, const std::string& mode, const std::string& folder = "") {
  UpdaterState st;
  st.itemName = "item";
  st.itemDate = "d1";
  st.itemLocalName = localName;
  st.itemMode = mode;
  st.itemFolder = folder;
  return st;
}

}  // namespace

TEST(UnzipChecked, ADamagedArchiveChangesNothing) {
  ProgramFolder folder;
  const std::string page = noise(40000, 1);
  const std::string db = noise(300000, 2);
  const std::string whole = testsupport::zipBytes(
      {{ZipEntry::File, "web/a.htm", page}, {ZipEntry::File, "pro.mdb", db}, {ZipEntry::File, "z.txt", "last"}},
      folder.path());
  // Random bytes stay as they are in the archive: find the database's bytes.
  const size_t inDb = whole.find(db.substr(150000, 64));
  ASSERT_NE(inDb, std::string::npos);

  std::vector<std::pair<std::string, std::string>> damaged = {
      {"cut in the database", whole.substr(0, inDb)},
      {"cut before the directory", whole.substr(0, whole.size() - 30)},
      {"cut in half", whole.substr(0, whole.size() / 2)},
  };
  std::string flipped = whole;
  flipped[inDb + 10] = static_cast<char>(flipped[inDb + 10] ^ 0x40);
  damaged.emplace_back("one byte flipped in the database", flipped);
  std::string flippedLast = whole;
  const size_t inPage = whole.find(page.substr(39000, 64));
  ASSERT_NE(inPage, std::string::npos);
  flippedLast[inPage] = static_cast<char>(flippedLast[inPage] ^ 1);
  damaged.emplace_back("one byte flipped in the first entry", flippedLast);

  testsupport::writeFile(folder / "pro.mdb", "the installed database");
  for (const auto& [what, bytes] : damaged) {
    testsupport::writeFile(folder / "u.zip", bytes);
    const auto r = platform::unzipArchive(folder / "u.zip", folder.path());
    EXPECT_NE(r.code, platform::kUnzipOk) << what;
    EXPECT_FALSE(r.refused) << what;
    EXPECT_EQ(testsupport::readFile(folder / "pro.mdb"), "the installed database") << what;
    EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"pro.mdb", "u.zip"})) << what;
    EXPECT_NE(platform::checkArchive(folder / "u.zip").code, platform::kUnzipOk) << what;
  }
  // The whole archive replaces the database and leaves no unpack folder.
  testsupport::writeFile(folder / "u.zip", whole);
  EXPECT_EQ(platform::checkArchive(folder / "u.zip").code, platform::kUnzipOk);
  const auto r = platform::unzipArchive(folder / "u.zip", folder.path());
  ASSERT_EQ(r.code, platform::kUnzipOk) << r.message;
  EXPECT_EQ(r.bytes, page.size() + db.size() + 4);
  EXPECT_TRUE(testsupport::readFile(folder / "pro.mdb") == db);
  EXPECT_TRUE(testsupport::readFile(folder / "web/a.htm") == page);
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"pro.mdb", "u.zip", "web", "z.txt"}));
}

TEST(UnzipChecked, WhatAnArchiveUnpacksToIsBounded) {
  ProgramFolder folder;
  // Ten million zeros pack into some ten kilobytes: a thousandfold.
  testsupport::makeZip(folder / "bomb.zip", {{ZipEntry::File, "ok.txt", "fine"},
                                             {ZipEntry::File, "zeros.bin", std::string(10'000'000, '\0')}});
  ASSERT_LT(fs::file_size(folder / "bomb.zip"), 100'000u);
  auto r = platform::unzipArchive(folder / "bomb.zip", folder.path());
  EXPECT_EQ(r.code, platform::kUnzipTooLarge) << r.message;
  EXPECT_EQ(platform::checkArchive(folder / "bomb.zip").code, platform::kUnzipTooLarge);
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"bomb.zip"}));
  // A small archive may unpack to its allowance, whatever its ratio.
  platform::UnzipLimits generous;
  generous.maxExpansion = 2000;
  EXPECT_EQ(platform::unzipArchive(folder / "bomb.zip", folder.path(), generous).code, platform::kUnzipOk);
  fs::remove(folder / "zeros.bin");
  fs::remove(folder / "ok.txt");

  // The free space of the disk, less a margin, bounds it too.
  testsupport::makeZip(folder / "data.zip", {{ZipEntry::File, "a.dat", noise(5000, 3)}});
  platform::UnzipLimits tight;
  tight.freeMargin = 1000;
  tight.availableBytes = 1000 + 4999;
  r = platform::unzipArchive(folder / "data.zip", folder.path(), tight);
  EXPECT_EQ(r.code, platform::kUnzipTooLarge) << r.message;
  EXPECT_FALSE(testsupport::exists(folder / "a.dat"));
  tight.availableBytes = 1000 + 5000;
  EXPECT_EQ(platform::unzipArchive(folder / "data.zip", folder.path(), tight).code, platform::kUnzipOk);
  EXPECT_EQ(testsupport::readFile(folder / "a.dat").size(), 5000u);
}

TEST(UnzipChecked, EntriesReplaceTheRealFilesWhateverTheirLetterCase) {
  ProgramFolder folder;
  // The archive's writer takes names in the locale's character set.
  ::setlocale(LC_CTYPE, "C.UTF-8");
  testsupport::writeFile(folder / "Web/Orvanta.htm", "old page");
  testsupport::writeFile(folder / "图标/steel.bmp", "old icon");
  testsupport::makeZip(folder / "p.zip", {{ZipEntry::File, "web\\orvanta.htm", "new page"},
                                          {ZipEntry::File, "WEB/New.htm", "added"},
                                          {ZipEntry::File, "图标/STEEL.BMP", "new icon"}});
  // The updater may run with no locale at all: Chinese names still unpack.
  ::setlocale(LC_CTYPE, "C");
  const auto r = platform::unzipArchive(folder / "p.zip", folder.path());
  ASSERT_EQ(r.code, platform::kUnzipOk) << r.message;
  EXPECT_EQ(testsupport::readFile(folder / "Web/Orvanta.htm"), "new page");
  EXPECT_EQ(testsupport::readFile(folder / "Web/New.htm"), "added");
  EXPECT_EQ(testsupport::readFile(folder / "图标/steel.bmp"), "new icon");
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"Web", "p.zip", "图标"}));
  EXPECT_EQ(listing(folder / "Web"), (std::vector<std::string>{"New.htm", "Orvanta.htm"}));
  EXPECT_EQ(listing(folder / "图标"), (std::vector<std::string>{"steel.bmp"}));

  // A file in the way of a folder (or the other way round): refused before anything moves.
  testsupport::makeZip(folder / "q.zip", {{ZipEntry::File, "aaa.txt", "first"},
                                          {ZipEntry::File, "web/orvanta.htm/x", "x"}});
  EXPECT_NE(platform::unzipArchive(folder / "q.zip", folder.path()).code, platform::kUnzipOk);
  EXPECT_FALSE(testsupport::exists(folder / "aaa.txt"));
  EXPECT_EQ(testsupport::readFile(folder / "Web/Orvanta.htm"), "new page");
}

TEST(InstallChecks, TheUpdatersOwnFilesAreNeverALocalName) {
  ProgramFolder folder;
  for (const char* own : {"upset.ini", "Quennar.log", "reset.ini", "up.ini", "Quennar.ini", "UPSET.INI",
                          "quennar.LOG", ".\\Reset.ini", "Quennar.lock"}) {
    testsupport::writeFile(folder / "upset.ini", "settings");
    EXPECT_FALSE(pathInProgramFolder(own)) << own;
    UpdaterState st = item(own, "运行");
    const InstallOutcome out = installitem(st);
    EXPECT_FALSE(out.installed) << own;
    EXPECT_TRUE(st.installedList.empty()) << own;
    EXPECT_EQ(testsupport::readFile(folder / "upset.ini"), "settings") << own;  // not removed as a "download"
  }
  // The same names elsewhere are ordinary files.
  EXPECT_EQ(pathInProgramFolder("web\\upset.ini"), folder / "web/upset.ini");
  EXPECT_EQ(pathInProgramFolder("upset.ini.bak"), folder / "upset.ini.bak");
}

TEST(InstallChecks, RefusedItemsLeaveNoDownloadAndAreNotRecorded) {
  ProgramFolder folder;
  fs::create_directories(folder / "Web");
  testsupport::writeFile(folder / "pro.mdb", "the installed database");
  std::string good = testsupport::zipBytes({{ZipEntry::File, "pro.mdb", noise(20000, 4)}}, folder.path());

  struct Case {
    const char* what;
    std::string localName, mode, unpackFolder, bytes;
  } cases[] = {
      {"deferred target that is a folder", "x.new", "WEB", "", "data"},
      {"deferred target that is the program folder", "x.new", "", "", "data"},
      {"damaged archive unpacked now", "a.zip", "解压", "", good.substr(0, good.size() - 40)},
      {"damaged archive deferred", "b.zip", "", "", good.substr(0, good.size() - 40)},
      {"unsafe archive", "c.zip", "解压", "",
       testsupport::zipBytes({{ZipEntry::File, "../out.txt", "x"}}, folder.path())},
      {"unpack folder outside", "d.zip", "解压", "..\\elsewhere", good},
  };
  for (const Case& c : cases) {
    testsupport::writeFile(folder / c.localName, c.bytes);
    UpdaterState st = item(c.localName, c.mode, c.unpackFolder);
    const InstallOutcome out = installitem(st);
    EXPECT_FALSE(out.installed) << c.what;
    EXPECT_FALSE(out.refusal.empty()) << c.what;
    EXPECT_TRUE(st.installedList.empty()) << c.what;
    EXPECT_FALSE(st.resetPending) << c.what;
    EXPECT_TRUE(st.pendingList.empty()) << c.what;
    EXPECT_FALSE(testsupport::exists(folder / c.localName)) << c.what;
  }
  EXPECT_EQ(testsupport::readFile(folder / "pro.mdb"), "the installed database");
  EXPECT_TRUE(fs::is_directory(folder / "Web"));
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"Web", "pro.mdb"}));

  // The sound archive, deferred and unpacked now.
  testsupport::writeFile(folder / "e.zip", good);
  UpdaterState st = item("e.zip", "解压");
  EXPECT_TRUE(installitem(st).installed);
  EXPECT_EQ(st.installedList, "item\\d1|");
  EXPECT_NE(testsupport::readFile(folder / "pro.mdb"), "the installed database");
  EXPECT_FALSE(testsupport::exists(folder / "e.zip"));
}

TEST(InstallChecks, DeferredItemsWorkOnTheRealFiles) {
  ProgramFolder folder;
  // The download went straight over MainPro.ini (its local name, resolved).
  testsupport::writeFile(folder / "MainPro.ini", "new settings");
  UpdaterState st = item("mainpro.ini", "MAINPRO.INI");
  st.mainTitle = "no such window";
  st.mainExe = "Velmora";
  ASSERT_TRUE(installitem(st).installed);
  EXPECT_EQ(st.pendingList, (folder / "MainPro.ini") + ";" + (folder / "MainPro.ini") + "|");
  ASSERT_TRUE(writereset(st));
  const ApplyResult r = applyreset(st, 0);
  EXPECT_EQ(r.applied, 1);
  EXPECT_EQ(r.failed, 0);
  EXPECT_EQ(testsupport::readFile(folder / "MainPro.ini"), "new settings");
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"MainPro.ini"}));

  // An archive found under capitals is still an archive.
  testsupport::makeZip(folder / "Patch.ZIP", {{ZipEntry::File, "Added.txt", "added"}});
  UpdaterState zip = item("patch.zip", "");
  EXPECT_TRUE(isDeferredArchive(folder / "Patch.ZIP"));
  ASSERT_TRUE(installitem(zip).installed);
  ASSERT_TRUE(writereset(zip));
  EXPECT_EQ(applyreset(zip, 0).applied, 1);
  EXPECT_EQ(testsupport::readFile(folder / "Added.txt"), "added");
  EXPECT_EQ(listing(folder.path()), (std::vector<std::string>{"Added.txt", "MainPro.ini"}));
}

TEST(InstallChecks, AReplacementGivenUpIsOfferedAgain) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::writeFile(folder / "stuck.new", "v2");
  testsupport::writeFile(folder / "fine.new", "v2");
  EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1", "2026-01-01", "other\\d0|"}));
  UpdaterState st;
  readlog(st);
  st.mainTitle = "no such window";
  for (auto [name, local, target] : {std::tuple{"stuck", "stuck.new", "blocker\\stuck.dat"},
                                     std::tuple{"fine", "fine.new", "fine.dat"}}) {
    st.itemName = name;
    st.itemDate = "d1";
    st.itemLocalName = local;
    st.itemMode = target;
    ASSERT_TRUE(installitem(st).installed) << name;
  }
  EXPECT_EQ(st.pendingInstalled, "stuck\\d1|fine\\d1|");
  ASSERT_TRUE(savestate(st, "v2", "2026-12-01", true));

  for (int attempt = 1; attempt <= kResetAttempts; ++attempt) {
    UpdaterState run;
    readlog(run);
    const ApplyResult r = applyreset(run, 0);
    EXPECT_EQ(r.failed, 1) << attempt;
    if (attempt < kResetAttempts) {
      EXPECT_EQ(run.installedList, "other\\d0|stuck\\d1|fine\\d1|") << attempt;
      EXPECT_TRUE(testsupport::exists(folder / kResetFile)) << attempt;
    } else {
      // Taken out of the list in the state and in the log.
      EXPECT_EQ(run.installedList, "other\\d0|fine\\d1|");
    }
  }
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(testsupport::readFile(folder / "fine.dat"), "v2");
  UpdaterState next;
  readlog(next);
  EXPECT_EQ(next.installedVersion, "v2");
  EXPECT_EQ(next.installedList, "other\\d0|fine\\d1|");
  const ParsedList list = parseList({"版本=v2", "|1|stuck|d1|s|x|http://h/s|stuck.new|blocker\\stuck.dat|",
                                     "|1|fine|d1|s|x|http://h/f|fine.new|fine.dat|"},
                                    next, nullptr);
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_EQ(list.rows[1].cells[1], "stuck");

  // Only a whole entry is taken out, not the end of a longer one.
  UpdaterState longer;
  longer.installedList = "xstuck\\d1|other\\d0|stuck\\d1|";
  ASSERT_TRUE(forgetInstalled(longer, "stuck\\d1|"));
  EXPECT_EQ(longer.installedList, "xstuck\\d1|other\\d0|");
}

// A reset.ini whose attempt cannot be counted (no file can grow on this
// disk) is given up at once and says so, instead of closing the main program
// at every start without the count ever advancing.
TEST(InstallChecks, AResetFileThatCannotBeRewrittenIsGivenUpAndSaidSo) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::writeFile(folder / "stuck.new", "v2");
  const std::string failing = (folder / "stuck.new") + ";" + (folder / "blocker/stuck.dat") + "|";
  ASSERT_TRUE(common::writeItemFile(localPath(kResetFile),
                                    {"no such window", "velmora", failing, std::string("1"), "stuck\\d1|"}));
  ASSERT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1", "d", "stuck\\d1|other\\d0|"}));
  UpdaterState st;
  ASSERT_TRUE(readlog(st));

  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit none = old;
  none.rlim_cur = 0;
  ::setrlimit(RLIMIT_FSIZE, &none);
  const ApplyResult r = applyreset(st, 0);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);

  auto said = [&](const std::string& text) {
    return std::find(r.messages.begin(), r.messages.end(), text) != r.messages.end();
  };
  EXPECT_TRUE(said("reset.ini cannot be rewritten: replacements given up")) << testing::PrintToString(r.messages);
  // Offered again by the next run: taken out of the state; the log cannot be
  // rewritten either, and that is said too.
  EXPECT_EQ(st.installedList, "other\\d0|");
  EXPECT_TRUE(said("installed list not rewritten")) << testing::PrintToString(r.messages);
  EXPECT_FALSE(r.mainWasRunning);
  EXPECT_EQ(r.applied, 0);
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(testsupport::readFile(folder / "stuck.new"), "v2");
}

TEST(InstallChecks, AnUnpackFolderThatCannotBeMadeRefusesTheItem) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::makeZip(folder / "a.zip", {{ZipEntry::File, "x.txt", "x"}});
  UpdaterState st = item("a.zip", "解压", "blocker\\sub");
  const InstallOutcome out = installitem(st);
  EXPECT_FALSE(out.installed);
  EXPECT_EQ(out.refusal.rfind("unpack folder cannot be made: blocker\\sub: ", 0), 0u) << out.refusal;
  EXPECT_TRUE(st.installedList.empty());
  EXPECT_FALSE(testsupport::exists(folder / "a.zip"));
}

TEST(InstallChecks, ANeighbourWithTheSameBeginningIsOutsideTheProgramFolder) {
  ProgramFolder scratch;
  fs::create_directories(scratch / "prog");
  fs::create_directories(scratch / "prog2");
  testsupport::writeFile(scratch / "prog2/x.exe", "x");
  common::setProgramFolder(scratch / "prog");
  EXPECT_TRUE(insideProgramFolder(scratch / "prog/x.exe"));
  EXPECT_TRUE(insideProgramFolder(scratch / "prog/sub/x.exe"));
  EXPECT_FALSE(insideProgramFolder(scratch / "prog2/x.exe"));
  EXPECT_FALSE(insideProgramFolder(scratch / "prog2"));
  EXPECT_FALSE(insideProgramFolder(scratch / "prog"));
  EXPECT_FALSE(startFromProgramFolder(scratch / "prog2/x.exe"));
  // A folder that does not exist (yet) has the same boundary.
  common::setProgramFolder("/x/prog");
  EXPECT_TRUE(insideProgramFolder("/x/prog/a.exe"));
  EXPECT_FALSE(insideProgramFolder("/x/prog2/a.exe"));
  EXPECT_FALSE(insideProgramFolder("/x/prog2"));
  common::setProgramFolder(scratch.path());
}
