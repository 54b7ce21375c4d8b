// Whole runs of the updater against a server on 127.0.0.1, driven headless in
// an event loop: list download, decision, queue, installation and the
// deferred replacement with a stand-in main program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "common/items.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "updater/install.h"
#include "updater/local_files.h"
#include "updater/updater_run.h"

using namespace updater;
using testsupport::ProgramFolder;
using testsupport::ZipEntry;
namespace fs = std::filesystem;

namespace {

bool spinUntil(const std::function<bool()>& done, int ms = 15000) {
  return testsupport::spinUntil(done, ms);
}

class TestView : public UpdaterView {
 public:
  std::string groupsAnswer;
  int dialogs = 0;
  std::string chooseGroups(const std::string&, const std::string&) override {
    ++dialogs;
    return groupsAnswer;
  }
};

// One run of the updater in the current program folder.
struct Harness {
  bool appReady = (testsupport::coreApp(), true);
  UpdaterRun run;
  TestView view;
  bool ended = false;
  Harness() {
    run.setView(&view);
    run.setEndProgram([this] { ended = true; });
    run.setTransferTimeoutMs(3000);
    run.setCloseWaitMs(3000);
  }
  // Loads and runs until the program would end (or the window is left shown).
  void go(int ms = 20000) {
    run.load();
    spinUntil([this] { return ended || (run.form().visible && run.form().label1 == kCaptionStart); }, ms);
  }
};

std::string listText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return testsupport::gbk(text);
}

void writeSettings(const std::string& url, const std::string& selection = "", const std::string& title = "",
                   const std::string& exe = "") {
  common::writeItemFile(localPath(kSettingsFile), {title, exe, url, selection});
}

std::string logItem(int index) {
  auto items = common::readItemFile(localPath(kLogFile), 3).value_or(std::vector<std::string>{});
  items.resize(3);
  return items[index];
}

testhttp::Route bodyRoute(const std::string& body) {
  testhttp::Route r;
  r.body = body;
  return r;
}

}  // namespace

TEST(UpdaterRun, HiddenAutomaticRunInstallsEveryKindAndRestartsTheMainProgram) {
  ProgramFolder folder;
  testhttp::Server server;
  platform::MessageBoxRecorder boxes;
  const std::string caption = "Velmora stand-in " + std::to_string(::getpid());

  // The stand-in main program, running.
  fs::copy_file(STUB_MAIN_PATH, folder / "velmora");
  common::writeItemFile(folder / "stub.ini", {caption});
  ASSERT_TRUE(QProcess::startDetached(QString::fromStdString(folder / "velmora"), {}));
  ASSERT_TRUE(spinUntil([&] { return platform::isListening(caption); }, 5000));

  server.set("/run.sh", bodyRoute("#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n"));
  server.set("/pages.zip", bodyRoute(testsupport::zipBytes({{ZipEntry::File, "index.htm", "<p>page</p>"},
                                                            {ZipEntry::File, "img/a.png", "png"}},
                                                           folder.path())));
  server.set("/root.zip", bodyRoute(testsupport::zipBytes({{ZipEntry::File, "root.txt", "root"}}, folder.path())));
  server.set("/new.dat", bodyRoute(std::string(5000, 'N')));
  testhttp::Route cut = bodyRoute(std::string(100000, 'c'));
  cut.sendBytes = 4000;
  server.set("/cut.bin", cut);
  testhttp::Route plain = bodyRoute(std::string(3000, 'p'));
  plain.contentLength = false;
  server.set("/plain.bin", plain);
  server.set("/never.bin", bodyRoute("never"));

  const std::string list = listText({
      "版本=V2.0", "方式=隐藏", "更新=自动", "日期=2026-12-01", "标题=年终更新", "{Notes here",
      "|1|Runner|2026-12-01|1k|runs|" + server.url("/run.sh") + "|run.sh|运行|",
      "|1|Pages|2026-12-01|1k|pages|" + server.url("/pages.zip") + "|pages.zip|解压|web\\pages",
      "|1|Root|2026-12-01|1k|root|" + server.url("/root.zip") + "|root.zip|解压|",
      "|1|Deferred|2026-12-01|5k|data|" + server.url("/new.dat") + "|new.dat|data\\target.dat|",
      "|1|Gone|2026-12-01|1k|404|" + server.url("/gone.bin") + "|gone.bin|运行|",
      "|1|Cut|2026-12-01|1k|cut|" + server.url("/cut.bin") + "|cut.bin|cut2.bin|",
      "|1|Plain|2026-12-01|3k|no length|" + server.url("/plain.bin") + "|plain.bin|plain2.bin|",
      "|0|Unticked|2026-12-01|1k|skip|" + server.url("/never.bin") + "|never.bin|运行|",
      "|1|NoAddress|2026-12-01|1k|none||x.bin|运行|",
  });
  server.set("/list.ini", bodyRoute(list));
  testsupport::writeFile(folder / "data/target.dat", "old");
  testsupport::writeFile(folder / "cut.bin", "an older file that must not be half overwritten");
  testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
  writeSettings(server.url("/list.ini"), "", caption, "velmora");

  {
    Harness r;
    r.go();
    ASSERT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(r.run.form().label1, kCaptionFinish);
    EXPECT_EQ(r.run.form().label2[0], "年终更新");
    EXPECT_EQ(r.run.form().text2, "notes here\r\n");
    // Downloaded rows were unticked; the rest keep their ticks.
    EXPECT_FALSE(r.run.rows()[1].ticked);
    EXPECT_EQ(r.run.rows()[1].cells[0], "0");
    EXPECT_TRUE(r.run.rows()[5].ticked);  // 404
    EXPECT_EQ(r.run.problems().size(), 2u);
  }

  // Run: started from the program folder.
  EXPECT_TRUE(spinUntil([&] { return testsupport::exists(folder / "ran.txt"); }, 5000));
  // Unpacked with and without a folder; archives gone.
  EXPECT_EQ(testsupport::readFile(folder / "web/pages/index.htm"), "<p>page</p>");
  EXPECT_TRUE(testsupport::exists(folder / "web/pages/img/a.png"));
  EXPECT_EQ(testsupport::readFile(folder / "root.txt"), "root");
  EXPECT_FALSE(testsupport::exists(folder / "pages.zip"));
  EXPECT_FALSE(testsupport::exists(folder / "root.zip"));
  // Deferred: applied after the main program was asked to close, then restarted.
  EXPECT_EQ(testsupport::readFile(folder / "data/target.dat"), std::string(5000, 'N'));
  EXPECT_FALSE(testsupport::exists(folder / "new.dat"));
  EXPECT_EQ(testsupport::readFile(folder / "plain2.bin"), std::string(3000, 'p'));
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_TRUE(spinUntil([&] { return testsupport::readLines(folder / "stub.log").size() >= 3; }, 5000));
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"), (std::vector<std::string>{"started", "closed", "started"}));
  // A failed transfer leaves the older file as it was and no temporary file.
  EXPECT_EQ(testsupport::readFile(folder / "cut.bin"), "an older file that must not be half overwritten");
  EXPECT_FALSE(testsupport::exists(folder / "gone.bin"));
  for (const auto& e : fs::directory_iterator(folder.path()))
    EXPECT_EQ(e.path().filename().string().find(".download"), std::string::npos) << e.path();
  EXPECT_EQ(server.hits("/never.bin"), 0);
  // The log and the list files.
  EXPECT_EQ(logItem(0), "v2.0");
  EXPECT_EQ(logItem(1), "2026-12-01");
  EXPECT_EQ(logItem(2), "runner\\2026-12-01|pages\\2026-12-01|root\\2026-12-01|deferred\\2026-12-01|"
                        "plain\\2026-12-01|");
  EXPECT_EQ(testsupport::readFile(folder / kListFile), list);
  EXPECT_FALSE(testsupport::exists(folder / kRawListFile));
  EXPECT_FALSE(testsupport::exists(folder / kMarkerFile));

  // The next run offers only what is not installed: the two failed items again.
  const int runs = server.hits("/run.sh");
  {
    Harness again;
    again.go();
    ASSERT_TRUE(again.ended);
    std::vector<std::string> names;
    for (size_t i = 1; i < again.run.rows().size(); ++i) names.push_back(again.run.rows()[i].cells[1]);
    EXPECT_EQ(names, (std::vector<std::string>{"gone", "cut", "unticked", "noaddress"}));
  }
  EXPECT_EQ(server.hits("/run.sh"), runs);
  EXPECT_EQ(server.hits("/gone.bin"), 2);
  platform::requestClose(caption);
  spinUntil([&] { return !platform::isListening(caption); }, 3000);
}

TEST(UpdaterRun, DecisionStaysSilentAsksOrShows) {
  ProgramFolder folder;
  testhttp::Server server;
  auto setList = [&](const std::string& version, const std::string& extra = "") {
    std::vector<std::string> l = {"版本=" + version, "日期=2026-12-02",
                                  "|1|f|d|s|x|" + server.url("/f.bin") + "|f.bin|f2.bin|"};
    if (!extra.empty()) l.insert(l.begin() + 1, extra);
    server.set("/list.ini", bodyRoute(listText(l)));
  };
  server.set("/f.bin", bodyRoute("f"));
  writeSettings(server.url("/list.ini"));
  common::writeItemFile(localPath(kLogFile), {"v1.9", "2026-01-01", "old\\d|"});

  // A start-up launch that finds nothing newer (1.10 < 1.9) ends without a window.
  {
    platform::MessageBoxRecorder boxes(platform::MsgResult::Yes);
    setList("V1.10", "提示=更新吗");
    testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_FALSE(testsupport::exists(folder / kMarkerFile));
    EXPECT_EQ(server.hits("/f.bin"), 0);
  }
  // A version that is not a number is not newer either.
  {
    setList("Vnext");
    testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
  }
  // A newer version with a prompt answered No: nothing is downloaded, and the
  // log takes the listed version so the start-up launch stays quiet next time.
  {
    common::writeItemFile(localPath(kLogFile), {"v1.9", "2026-01-01", "old\\d|"});
    platform::MessageBoxRecorder boxes(platform::MsgResult::No);
    setList("V2.0", "提示=有新版本，现在更新吗？");
    testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "有新版本，现在更新吗？");
    EXPECT_EQ(boxes.boxes()[0].title, "Ostravel");
    EXPECT_EQ(boxes.boxes()[0].buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(server.hits("/f.bin"), 0);
    EXPECT_EQ(logItem(0), "v2.0");
    EXPECT_EQ(logItem(2), "old\\d|");
  }
  // A launch from the upgrade button (no marker) shows the list even when
  // nothing is newer, and waits for the user.
  {
    setList("V2.0");
    Harness r;
    r.go();
    EXPECT_FALSE(r.ended);
    EXPECT_TRUE(r.run.form().visible);
    EXPECT_EQ(r.run.form().label2[1], "v2.0");
    EXPECT_EQ(r.run.form().label2[5], "2026-12-02");
    ASSERT_EQ(r.run.rows().size(), 2u);
    // The user unticks the only row and starts: the queue runs to the end
    // without a download, then finishing ends the program.
    r.run.setTicked(1, false);
    r.run.startstop();
    EXPECT_EQ(r.run.form().label1, kCaptionStop);
    EXPECT_TRUE(r.run.form().progressVisible);
    EXPECT_TRUE(spinUntil([&] { return r.run.form().label1 == kCaptionFinish; }, 3000));
    EXPECT_EQ(r.run.form().text1, kCaptionFinish);
    EXPECT_FALSE(r.ended);  // not hidden: the user finishes
    r.run.startstop();
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(server.hits("/f.bin"), 0);
  }
  // No log yet: the comparison is skipped; a start-up launch ends quietly.
  {
    fs::remove(folder / kLogFile);
    testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
    EXPECT_FALSE(testsupport::exists(folder / kLogFile));  // nothing installed, nothing written
  }
}

TEST(UpdaterRun, RunsThatEndWithoutAList) {
  ProgramFolder folder;
  testhttp::Server server;
  // No settings: ends at once.
  {
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
  }
  // An empty address ends the run instead of leaving an invisible process.
  {
    writeSettings("");
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
  }
  // Not a list (an error page served as 200), a 404 and a 500: ends quietly, the
  // previous list is kept, the log keeps its version.
  testsupport::writeFile(folder / kListFile, "previous");
  common::writeItemFile(localPath(kLogFile), {"v1.5", "2026-01-01", "a\\b|"});
  server.set("/page.ini", bodyRoute("<html>版本 missing</html>"));
  testhttp::Route err = bodyRoute("版本=v9");
  err.status = 500;
  server.set("/500.ini", err);
  for (const char* path : {"/page.ini", "/404.ini", "/500.ini"}) {
    writeSettings(server.url(path));
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended) << path;
    EXPECT_FALSE(r.run.listRead()) << path;
    EXPECT_EQ(testsupport::readFile(folder / kListFile), "previous") << path;
    EXPECT_FALSE(testsupport::exists(folder / kRawListFile)) << path;
    EXPECT_EQ(logItem(0), "v1.5") << path;
    EXPECT_EQ(logItem(1), "2026-01-01") << path;
  }
  // Hidden without the automatic start: nobody could end it, so it ends.
  {
    server.set("/hidden.ini", bodyRoute(listText({"版本=v1", "方式=隐藏", "|1|f|d|s|x|u|l|m|f"})));
    writeSettings(server.url("/hidden.ini"));
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
  }
}

TEST(UpdaterRun, ListsFromAnUntrustedServerCannotReachOutsideTheFolder) {
  ProgramFolder folder;
  testhttp::Server server;
  const std::string outside = (fs::path(folder.path()).parent_path() / ("quennar-outside-" + std::to_string(::getpid()))).string();
  server.set("/f.bin", bodyRoute("#!/bin/sh\necho bad > /tmp/quennar-should-not-run\n"));
  server.set("/slip.zip", bodyRoute(testsupport::zipBytes({{ZipEntry::File, "fine.txt", "ok"},
                                                           {ZipEntry::File, "../slip.txt", "x"}},
                                                          folder.path())));
  server.set("/good.txt", bodyRoute("good"));
  const std::string f = server.url("/f.bin");
  server.set("/list.ini", bodyRoute(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      "|1|up|d|s|x|" + f + "|..\\up.sh|运行|",
      "|1|abs|d|s|x|" + f + "|/tmp/abs.sh|运行|",
      "|1|unc|d|s|x|" + f + "|\\\\server\\share\\x.sh|运行|",
      "|1|drive|d|s|x|" + f + "|c:\\x.sh|运行|",
      "|1|target|d|s|x|" + f + "|t.bin|..\\..\\etc\\passwd|",
      "|1|target2|d|s|x|" + f + "|t2.bin|c:\\windows\\x.dll|",
      "|1|folder|d|s|x|" + server.url("/slip.zip") + "|a.zip|解压|..\\outside",
      "|1|slip|d|s|x|" + server.url("/slip.zip") + "|b.zip|解压|",
      "|1|good|d|s|x|" + server.url("/good.txt") + "|good.txt|later.txt|",
  })));
  writeSettings(server.url("/list.ini"));
  Harness r;
  r.go();
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.run.problems().size(), 8u);
  EXPECT_EQ(logItem(2), "good\\d|");  // only the sound item counts as installed
  EXPECT_EQ(testsupport::readFile(folder / "later.txt"), "good");
  EXPECT_FALSE(testsupport::exists(fs::path(folder.path()).parent_path() / "up.sh"));
  EXPECT_FALSE(testsupport::exists("/tmp/abs.sh"));
  EXPECT_FALSE(testsupport::exists(fs::path(folder.path()).parent_path() / "slip.txt"));
  EXPECT_FALSE(testsupport::exists(folder / "fine.txt"));  // the refused archive wrote nothing
  EXPECT_FALSE(testsupport::exists(folder / "b.zip"));     // and its download is removed
  EXPECT_FALSE(testsupport::exists(outside));
  QThread::msleep(200);
  EXPECT_FALSE(testsupport::exists("/tmp/quennar-should-not-run"));
}

TEST(UpdaterRun, DeferredReplacementThatFailsIsKeptForTheNextStart) {
  ProgramFolder folder;
  testsupport::writeFile(folder / "src1.bin", "one");
  testsupport::writeFile(folder / "src2.bin", "two");
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::writeFile(folder / "evil.bin", "evil");
  const std::string pending = (folder / "src1.bin") + ";" + (folder / "ok/one.bin") + "|" + (folder / "src2.bin") +
                              ";" + (folder / "blocker/two.bin") + "|" + (folder / "evil.bin") + ";/tmp/evil-target|" +
                              "no separator|" + (folder / "missing.bin") + ";" + (folder / "m.bin") + "|";
  common::writeItemFile(localPath(kResetFile), {"no such window", "nomain", pending});
  writeSettings("http://127.0.0.1:1/never");
  for (int attempt = 1; attempt <= kResetAttempts; ++attempt) {
    Harness r;
    r.go();
    ASSERT_TRUE(r.ended);
    EXPECT_FALSE(r.run.listRead());  // the run only applied reset.ini
    if (attempt < kResetAttempts) {
      EXPECT_TRUE(testsupport::exists(folder / kResetFile)) << attempt;
      auto items = common::readItemFile(localPath(kResetFile), 4).value();
      EXPECT_EQ(items[2], (folder / "src2.bin") + ";" + (folder / "blocker/two.bin") + "|");
      EXPECT_EQ(items[3], std::to_string(attempt));
    }
  }
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));  // given up after the last attempt
  // A reset file with nothing pending is removed, so that later runs fetch the list again.
  common::writeItemFile(localPath(kResetFile), {"t", "m", ""});
  {
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
  }
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(testsupport::readFile(folder / "ok/one.bin"), "one");
  EXPECT_FALSE(testsupport::exists(folder / "src1.bin"));
  EXPECT_TRUE(testsupport::exists(folder / "src2.bin"));  // a failed copy loses nothing
  EXPECT_FALSE(testsupport::exists("/tmp/evil-target"));
}

TEST(UpdaterRun, StopDuringADownloadLeavesNothingUnderTheItemsName) {
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route slow = bodyRoute(std::string(400 * 1024, 's'));
  slow.delayMsPerChunk = 50;
  slow.chunkSize = 8 * 1024;
  server.set("/slow.bin", slow);
  server.set("/list.ini", bodyRoute(listText({"版本=v1", "更新=自动", "|1|slow|d|s|x|" + server.url("/slow.bin") +
                                                                    "|slow.bin|运行|"})));
  writeSettings(server.url("/list.ini"));
  Harness r;
  r.run.load();
  // The display tick runs during the transfer and shows speed and times.
  ASSERT_TRUE(spinUntil([&] { return r.run.state().elapsedSeconds >= 2; }, 10000));
  EXPECT_TRUE(r.run.displayTimerActive());
  EXPECT_FALSE(r.run.queueTimerActive());
  EXPECT_NE(r.run.form().label2[2].find("KB/s"), std::string::npos);
  EXPECT_EQ(r.run.form().label2[3], "0:0:1");
  EXPECT_FALSE(r.run.form().label2[4].empty());
  EXPECT_EQ(r.run.form().psbMax, 400 * 1024);
  EXPECT_GT(r.run.form().psbValue, 0);
  EXPECT_NE(r.run.form().text1.find('%'), std::string::npos);
  EXPECT_EQ(r.run.form().label1, kCaptionStop);
  r.run.startstop();  // 暂停升级: the program ends
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.run.state().stopRequested);
  EXPECT_FALSE(testsupport::exists(folder / "slow.bin"));
  EXPECT_FALSE(testsupport::exists(folder / ".slow.bin.download"));
  EXPECT_FALSE(testsupport::exists(folder / kLogFile));
}

TEST(UpdaterRun, DeferredArchivesAreUnpackedIntoTheProgramFolder) {
  ProgramFolder scratch;
  // The system installed in a folder whose own name holds "zip": plain files
  // are still copied, not taken for archives.
  const std::string folder = scratch / "gzipper";
  fs::create_directories(folder);
  common::setProgramFolder(folder);
  testhttp::Server server;
  server.set("/patch.zip", bodyRoute(testsupport::zipBytes({{ZipEntry::File, "web/new.htm", "new page"}}, folder)));
  server.set("/lib.dat", bodyRoute("library v2"));
  server.set("/list.ini", bodyRoute(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      "|1|patch|d|s|x|" + server.url("/patch.zip") + "|patch.zip||",
      "|1|lib|d|s|x|" + server.url("/lib.dat") + "|lib.new|lib.dat|",
      "|1|nowhere|d|s|x|" + server.url("/lib.dat") + "|plain.new||",
  })));
  testsupport::writeFile(folder + "/lib.dat", "library v1");
  writeSettings(server.url("/list.ini"));
  const std::string settingsBefore = testsupport::readFile(folder + "/upset.ini");
  Harness r;
  r.go();
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(testsupport::readFile(folder + "/web/new.htm"), "new page");
  EXPECT_FALSE(testsupport::exists(folder + "/patch.zip"));
  EXPECT_EQ(testsupport::readFile(folder + "/lib.dat"), "library v2");
  EXPECT_FALSE(testsupport::exists(folder + "/lib.new"));
  EXPECT_FALSE(testsupport::exists(folder + "/" + kResetFile));
  // A plain file without a target has nowhere to go: refused, not recorded.
  ASSERT_EQ(r.run.problems().size(), 1u);
  EXPECT_EQ(logItem(2), "patch\\d|lib\\d|");
  // A list without 定制 and an empty selection rewrites nothing in upset.ini.
  EXPECT_EQ(testsupport::readFile(folder + "/upset.ini"), settingsBefore);
}
