// Whole updater runs against a hostile server on 127.0.0.1: a list or a body
// that never ends, a hostile Content-Length, a trickle, a full disk, a hidden
// run that would never end, and a second updater started beside the first.
// Whatever fails leaves no partial file behind and is not recorded as
// installed; the items after it still run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLockFile>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/items.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "support/tls_server.h"
#include "updater/local_files.h"
#include "updater/updater_run.h"

using namespace updater;
using testsupport::ProgramFolder;
namespace fs = std::filesystem;

namespace {

using testhttp::body;
using testsupport::listText;

bool spinUntil(const std::function<bool()>& done, int ms = 20000) {
  return testsupport::spinUntil(done, ms);
}

// Limits small enough for a test; each test changes what it examines.
TransferLimits testLimits() {
  TransferLimits l;
  l.listMaxBytes = 64 * 1024;
  l.fileMaxBytes = 1 << 20;
  l.diskMargin = 0;
  l.freeSpace = [](const std::string&) { return int64_t{1} << 40; };
  return l;
}

struct Harness {
  bool appReady = (testsupport::coreApp(), true);
  UpdaterRun run;
  bool ended = false;
  explicit Harness(const TransferLimits& limits = testLimits()) {
    run.setEndProgram([this] { ended = true; });
    run.setTransferTimeoutMs(3000);
    run.setCloseWaitMs(500);
    run.setLimits(limits);
  }
  bool loadAndEnd(int ms = 20000) {
    run.load();
    return spinUntil([this] { return ended; }, ms);
  }
  bool noted(const std::string& what) const {
    for (const auto& p : run.problems())
      if (p.find(what) != std::string::npos) return true;
    return false;
  }
};

// A hidden, automatic list of deferred replacements: item name -> local name
// "<name>.new", replacing "<name>.dat" when the run finishes.
std::string hiddenList(const testhttp::Server& server, const std::vector<std::string>& names) {
  std::vector<std::string> lines = {"版本=V1.0", "方式=隐藏", "更新=自动"};
  for (const auto& n : names)
    lines.push_back("|1|" + n + "|d|s|x|" + server.url("/" + n) + "|" + n + ".new|" + n + ".dat|");
  return listText(lines);
}

testhttp::Route endless() {
  testhttp::Route r;
  r.endless = true;
  return r;
}

void writeSettings(const std::string& url) {
  EXPECT_TRUE(common::writeItemFile(localPath(kSettingsFile), {"", "", url, ""}));
}

std::string installedList() {
  auto items = common::readItemFile(localPath(kLogFile), 3).value_or(std::vector<std::string>{});
  items.resize(3);
  return items[2];
}

// Nothing of the item's download is left in the folder.
void expectNoTrace(const ProgramFolder& folder, const std::string& name) {
  EXPECT_FALSE(testsupport::exists(folder / (name + ".new"))) << name;
  EXPECT_FALSE(testsupport::exists(folder / ("." + name + ".new.download"))) << name;
  EXPECT_EQ(installedList().find(name + "\\"), std::string::npos) << name;
}

}  // namespace

TEST(Bounds, AListThatNeverEndsOrIsTooLargeIsAFailedList) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/endless.ini", endless());
  testhttp::Route declared = body("版本=V9\r\n");
  declared.rawContentLength = "5000000000";
  server.set("/declared.ini", declared);
  server.set("/big.ini", body("版本=V9\r\n" + std::string(100 * 1024, ';')));
  testsupport::writeFile(folder / kListFile, "previous list");
  for (const char* path : {"/endless.ini", "/declared.ini", "/big.ini"}) {
    writeSettings(server.url(path));
    Harness r;
    ASSERT_TRUE(r.loadAndEnd()) << path;
    EXPECT_FALSE(r.run.listRead()) << path;
    EXPECT_TRUE(r.noted("update list not fetched")) << path;
    EXPECT_FALSE(testsupport::exists(folder / kRawListFile)) << path;
    EXPECT_EQ(testsupport::readFile(folder / kListFile), "previous list") << path;
  }
}

TEST(Bounds, FilesStopAtTheirCeilingAndLeaveNothingBehind) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/endless", endless());
  testhttp::Route hostile = body(std::string(3000, 'h'));
  hostile.rawContentLength = "99999999999999999999";
  server.set("/hostile", hostile);
  server.set("/large", body(std::string((1 << 20) + 1, 'l')));  // one byte over the fixed maximum
  server.set("/good", body("good"));
  server.set("/list.ini", body(hiddenList(server, {"endless", "hostile", "large", "good"})));
  writeSettings(server.url("/list.ini"));
  testsupport::writeFile(folder / "endless.dat", "installed before");
  Harness r;
  ASSERT_TRUE(r.loadAndEnd());
  for (const char* name : {"endless", "hostile", "large"}) expectNoTrace(folder, name);
  EXPECT_TRUE(r.noted("item endless not downloaded: larger than allowed"));
  EXPECT_EQ(testsupport::readFile(folder / "endless.dat"), "installed before");
  EXPECT_EQ(testsupport::readFile(folder / "good.dat"), "good");
  EXPECT_NE(installedList().find("good\\d|"), std::string::npos);

  // The free space of the disk, less the margin, bounds a file as well.
  TransferLimits tight = testLimits();
  tight.diskMargin = 1000;
  tight.freeSpace = [](const std::string&) { return int64_t{1000} + 4000; };
  server.set("/fits", body(std::string(4000, 'f')));
  server.set("/spills", body(std::string(4001, 's')));
  server.set("/list.ini", body(hiddenList(server, {"spills", "fits"})));
  fs::remove(localPath(kLogFile));
  Harness t(tight);
  ASSERT_TRUE(t.loadAndEnd());
  expectNoTrace(folder, "spills");
  EXPECT_EQ(testsupport::readFile(folder / "fits.dat"), std::string(4000, 'f'));
}

TEST(Bounds, ATrickleEndsAtTheMinimumSpeedAndTheNextItemRuns) {
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route trickle = endless();
  trickle.chunkSize = 1;  // a byte every 100 ms: never idle for the time-out
  trickle.delayMsPerChunk = 100;
  server.set("/trickle", trickle);
  server.set("/good", body("good"));
  server.set("/list.ini", body(hiddenList(server, {"trickle", "good"})));
  writeSettings(server.url("/list.ini"));
  TransferLimits l = testLimits();
  l.minBytes = 1000;
  l.speedWindowMs = 700;
  Harness r(l);
  ASSERT_TRUE(r.loadAndEnd());
  expectNoTrace(folder, "trickle");
  EXPECT_TRUE(r.noted("item trickle not downloaded: slower than"));
  EXPECT_EQ(testsupport::readFile(folder / "good.dat"), "good");
}

TEST(Bounds, AHiddenRunEndsAtItsDeadlineAShownOneDoesNot) {
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route slow = endless();  // fast enough for the minimum speed, but endless
  slow.chunkSize = 1024;
  slow.delayMsPerChunk = 20;
  server.set("/slow", slow);
  server.set("/list.ini", body(hiddenList(server, {"slow"})));
  writeSettings(server.url("/list.ini"));
  TransferLimits l = testLimits();
  l.hiddenDeadlineMs = 1500;
  {
    Harness r(l);
    ASSERT_TRUE(r.loadAndEnd());
    EXPECT_TRUE(r.noted("deadline"));
    EXPECT_TRUE(r.run.state().stopRequested);
    expectNoTrace(folder, "slow");
  }
  // A run that shows its window is ended by its user, not by the deadline.
  server.set("/list.ini", body(listText({"版本=V1.0", "|1|slow|d|s|x|" + server.url("/slow") + "|slow.new|slow.dat|"})));
  Harness shown(l);
  shown.run.load();
  ASSERT_TRUE(spinUntil([&] { return shown.run.form().visible; }));
  spinUntil([] { return false; }, 2000);
  EXPECT_FALSE(shown.ended);
  shown.run.closeWindow();
}

TEST(Bounds, OnlyOneUpdaterRunsAtATime) {
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route slowList = body(listText({"版本=V1.0", "方式=隐藏"}));
  slowList.delayBeforeHeadersMs = 1000;
  server.set("/list.ini", slowList);
  writeSettings(server.url("/list.ini"));
  testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"");

  Harness first;
  first.run.load();
  // However long the first has been at work, its lock holds.
  fs::last_write_time(folder / kLockFile, fs::file_time_type::clock::now() - std::chrono::hours(2));
  Harness second;
  second.run.load();  // ends at once, touching nothing
  EXPECT_TRUE(second.ended);
  EXPECT_TRUE(second.noted("another updater"));
  EXPECT_TRUE(testsupport::exists(folder / kMarkerFile));
  EXPECT_FALSE(first.ended);
  ASSERT_TRUE(spinUntil([&] { return first.ended; }));
  EXPECT_FALSE(testsupport::exists(folder / kLockFile));

  // Once the first has ended, the next start runs.
  Harness third;
  third.run.load();
  EXPECT_FALSE(third.noted("another updater"));
  ASSERT_TRUE(spinUntil([&] { return third.ended; }));

  // A lock left by an updater that died is taken over.
  const pid_t child = ::fork();
  if (child == 0) {
    QLockFile lock(QString::fromStdString(folder / kLockFile));
    ::_exit(lock.tryLock(0) ? 0 : 1);  // dies holding it
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(testsupport::exists(folder / kLockFile));
  Harness after;
  after.run.load();
  EXPECT_FALSE(after.noted("another updater"));
  ASSERT_TRUE(spinUntil([&] { return after.ended; }));
}

TEST(Bounds, AFullDiskDuringADownloadLosesNothing) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/huge", body(std::string(300 * 1024, 'x')));
  server.set("/good", body("good"));
  server.set("/list.ini", body(hiddenList(server, {"huge", "good"})));
  writeSettings(server.url("/list.ini"));
  testsupport::writeFile(folder / "huge.dat", "installed before");
  // Files of this process cannot grow past 128 KiB for the run: the write of
  // the download fails as on a full disk (the signal would end the process).
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 128 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Harness r;
  const bool ended = r.loadAndEnd();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  ASSERT_TRUE(ended);
  expectNoTrace(folder, "huge");
  EXPECT_TRUE(r.noted("write failed"));
  EXPECT_EQ(testsupport::readFile(folder / "huge.dat"), "installed before");
  EXPECT_EQ(testsupport::readFile(folder / "good.dat"), "good");

  // A list that does not fit is a failed list: the previous one stays.
  server.set("/list.ini", body(listText({"版本=V2.0", "{" + std::string(40 * 1024, 'n')})));
  testsupport::writeFile(folder / kListFile, "previous list");
  small.rlim_cur = 16 * 1024;
  ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Harness l;
  const bool listEnded = l.loadAndEnd();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  ASSERT_TRUE(listEnded);
  EXPECT_FALSE(l.run.listRead());
  EXPECT_TRUE(l.noted("update list not saved: write failed"));
  EXPECT_FALSE(testsupport::exists(folder / kRawListFile));
  EXPECT_EQ(testsupport::readFile(folder / kListFile), "previous list");
}

TEST(Bounds, AListAndItsFilesOverHttps) {
  ProgramFolder folder;
  testsupport::coreApp();
  testhttps::Server tls;
  testhttp::Server server;
  server.set("/plain", body("plain"));
  tls.set("/good", testhttps::route(200, std::string(5000, 'g')));
  tls.set("/moved", testhttps::route(302, "", tls.url("/good")));
  tls.set("/down", testhttps::route(302, "", server.url("/plain")));  // https never falls back to http
  tls.set("/endless", testhttps::route(200, "", "", "", true));
  std::vector<std::string> lines = {"版本=V1.0", "方式=隐藏", "更新=自动"};
  for (const char* n : {"moved", "down", "endless"})
    lines.push_back(std::string("|1|") + n + "|d|s|x|" + tls.url(std::string("/") + n) + "|" + n + ".new|" + n + ".dat|");
  tls.set("/list.ini", testhttps::route(200, listText(lines)));
  writeSettings(tls.url("/list.ini"));
  Harness r;
  r.run.listTransfer().addTrustedCertificates(tls.certificatePem());
  r.run.fileTransfer().addTrustedCertificates(tls.certificatePem());
  ASSERT_TRUE(r.loadAndEnd());
  EXPECT_TRUE(r.run.listRead());
  EXPECT_EQ(testsupport::readFile(folder / "moved.dat"), std::string(5000, 'g'));
  expectNoTrace(folder, "down");
  expectNoTrace(folder, "endless");
  EXPECT_TRUE(r.noted("item endless not downloaded: larger than allowed"));
}

TEST(Bounds, ProgressTextsHoldForAnyDeclaredLength) {
  constexpr int64_t kMax = INT64_MAX;
  EXPECT_EQ(roundHalfEven(kMax - 1, kMax), 1);
  EXPECT_EQ(roundHalfEven(kMax / 2, kMax), 0);
  EXPECT_EQ(roundHalfEven(kMax / 2 + 1, kMax), 1);
  EXPECT_EQ(roundHalfEven(5, 2), 2);
  EXPECT_EQ(roundHalfEven(7, 2), 4);
  EXPECT_EQ(sizeText(kMax), "9007199254740992kb");
  EXPECT_EQ(sizeText(1536), "1.5kb");
  EXPECT_EQ(sizeText(1023), "1kb");
  EXPECT_EQ(sizeText(1029), "1kb");  // 1.00488 -> 1.00
  EXPECT_EQ(sizeText(1034), "1.01kb");
  EXPECT_EQ(percentText(kMax / 2, kMax), "50%");
  EXPECT_EQ(percentText(kMax - 1, kMax), "100%");
  EXPECT_EQ(percentText(1, kMax), "0%");
  EXPECT_EQ(percentText(57, 100), "57%");
  EXPECT_EQ(percentText(5, 1000), "0%");     // 0.005: the tie goes to the even 0.00
  EXPECT_EQ(percentText(15, 1000), "2%");    // 0.015: to 0.02
  EXPECT_EQ(percentText(125, 10000), "1%");  // 0.0125: below the tie
  EXPECT_EQ(percentText(2 * (kMax / 3), kMax), "67%");

  UpdaterState st;
  TransferProgress p;
  p.begin(kMax);
  p.add(3000, st);
  EXPECT_EQ(p.value(), 2048);
  EXPECT_EQ(p.text(), "0%");
  EXPECT_EQ(int(st.kbThisSecond), 2);
}
