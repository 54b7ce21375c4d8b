// Whole runs of the updater against a server on 127.0.0.1, driven headless in
// an event loop: list download, decision, queue, installation and the
// deferred replacement with a stand-in main program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <signal.h>

#include <csignal>

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

using testhttp::body;
using testsupport::listText;

bool spinUntil(const std::function<bool()>& done, int ms = 15000) {
  return testsupport::spinUntil(done, ms);
}

class TestView : public UpdaterView {
 public:
  std::string groupsAnswer;
  int dialogs = 0;
  std::function<void()> onListChanged;
  std::string chooseGroups(const std::string&, const std::string&) override {
    ++dialogs;
    return groupsAnswer;
  }
  void listChanged() override {
    if (onListChanged) onListChanged();
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

void writeSettings(const std::string& url, const std::string& selection = "", const std::string& title = "",
                   const std::string& exe = "") {
  EXPECT_TRUE(common::writeItemFile(localPath(kSettingsFile), {title, exe, url, selection}));
}

std::string settingsItem(int index) {
  auto items = common::readItemFile(localPath(kSettingsFile), 4).value_or(std::vector<std::string>{});
  items.resize(4);
  return items[index];
}

// Starts the stand-in main program in folder under caption; stay: it does not
// close when asked. Its process id (0 when it did not start).
qint64 startStandIn(const ProgramFolder& folder, const std::string& caption, bool stay = false) {
  fs::copy_file(STUB_MAIN_PATH, folder / "velmora", fs::copy_options::overwrite_existing);
  EXPECT_TRUE(common::writeItemFile(folder / "stub.ini", {caption, std::string(stay ? "stay" : "")}));
  qint64 pid = 0;
  if (!QProcess::startDetached(QString::fromStdString(folder / "velmora"), {}, {}, &pid)) return 0;
  if (!spinUntil([&] { return platform::isListening(caption); }, 5000)) return 0;
  return pid;
}

std::string logItem(int index) {
  auto items = common::readItemFile(localPath(kLogFile), 3).value_or(std::vector<std::string>{});
  items.resize(3);
  return items[index];
}

}  // namespace

TEST(UpdaterRun, HiddenAutomaticRunInstallsEveryKindAndRestartsTheMainProgram) {
  ProgramFolder folder;
  testhttp::Server server;
  platform::MessageBoxRecorder boxes;
  const std::string caption = "Velmora stand-in " + std::to_string(::getpid());

  // The stand-in main program, running.
  fs::copy_file(STUB_MAIN_PATH, folder / "velmora");
  EXPECT_TRUE(common::writeItemFile(folder / "stub.ini", {caption}));
  ASSERT_TRUE(QProcess::startDetached(QString::fromStdString(folder / "velmora"), {}));
  ASSERT_TRUE(spinUntil([&] { return platform::isListening(caption); }, 5000));

  server.set("/run.sh", testhttp::body("#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n"));
  server.set("/pages.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "index.htm", "<p>page</p>"},
                                                            {ZipEntry::File, "img/a.png", "png"}},
                                                           folder.path())));
  server.set("/root.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "root.txt", "root"}}, folder.path())));
  server.set("/new.dat", testhttp::body(std::string(5000, 'N')));
  testhttp::Route cut = testhttp::body(std::string(100000, 'c'));
  cut.sendBytes = 4000;
  server.set("/cut.bin", cut);
  testhttp::Route plain = testhttp::body(std::string(3000, 'p'));
  plain.contentLength = false;
  server.set("/plain.bin", plain);
  server.set("/never.bin", testhttp::body("never"));

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
  server.set("/list.ini", testhttp::body(list));
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
    server.set("/list.ini", testhttp::body(listText(l)));
  };
  server.set("/f.bin", testhttp::body("f"));
  writeSettings(server.url("/list.ini"));
  EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1.9", "2026-01-01", "old\\d|"}));

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
    EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1.9", "2026-01-01", "old\\d|"}));
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
  EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1.5", "2026-01-01", "a\\b|"}));
  server.set("/page.ini", testhttp::body("<html>版本 missing</html>"));
  testhttp::Route err = testhttp::body("版本=v9");
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
    server.set("/hidden.ini", testhttp::body(listText({"版本=v1", "方式=隐藏", "|1|f|d|s|x|u|l|m|f"})));
    writeSettings(server.url("/hidden.ini"));
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.run.form().visible);
  }
}

TEST(UpdaterRun, ListsFromAnUntrustedServerCannotReachOutsideTheFolder) {
  ProgramFolder elsewhere;  // a scratch folder of its own, outside the program folder
  ProgramFolder folder;
  testhttp::Server server;
  const std::string outside = (fs::path(folder.path()).parent_path() / ("quennar-outside-" + std::to_string(::getpid()))).string();
  const std::string ranMarker = elsewhere / "should-not-run";
  const std::string absolute = elsewhere / "abs.sh";
  server.set("/f.bin", testhttp::body("#!/bin/sh\necho bad > " + ranMarker + "\n"));
  server.set("/slip.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "fine.txt", "ok"},
                                                           {ZipEntry::File, "../slip.txt", "x"}},
                                                          folder.path())));
  server.set("/good.txt", testhttp::body("good"));
  const std::string f = server.url("/f.bin");
  server.set("/list.ini", testhttp::body(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      "|1|up|d|s|x|" + f + "|..\\up.sh|运行|",
      "|1|abs|d|s|x|" + f + "|" + absolute + "|运行|",
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
  EXPECT_FALSE(testsupport::exists(absolute));
  EXPECT_FALSE(testsupport::exists(fs::path(folder.path()).parent_path() / "slip.txt"));
  EXPECT_FALSE(testsupport::exists(folder / "fine.txt"));  // the refused archive wrote nothing
  EXPECT_FALSE(testsupport::exists(folder / "b.zip"));     // and its download is removed
  EXPECT_FALSE(testsupport::exists(outside));
  QThread::msleep(200);
  EXPECT_FALSE(testsupport::exists(ranMarker));
}

TEST(UpdaterRun, DeferredReplacementThatFailsIsKeptForTheNextStart) {
  ProgramFolder elsewhere;  // outside the program folder
  ProgramFolder folder;
  const std::string evilTarget = elsewhere / "evil-target";
  testsupport::writeFile(folder / "src1.bin", "one");
  testsupport::writeFile(folder / "src2.bin", "two");
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::writeFile(folder / "evil.bin", "evil");
  const std::string pending = (folder / "src1.bin") + ";" + (folder / "ok/one.bin") + "|" + (folder / "src2.bin") +
                              ";" + (folder / "blocker/two.bin") + "|" + (folder / "evil.bin") + ";" + evilTarget + "|" +
                              "no separator|" + (folder / "missing.bin") + ";" + (folder / "m.bin") + "|";
  EXPECT_TRUE(common::writeItemFile(localPath(kResetFile), {"no such window", "nomain", pending}));
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
  EXPECT_TRUE(common::writeItemFile(localPath(kResetFile), {"t", "m", ""}));
  {
    Harness r;
    r.go();
    EXPECT_TRUE(r.ended);
  }
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(testsupport::readFile(folder / "ok/one.bin"), "one");
  EXPECT_FALSE(testsupport::exists(folder / "src1.bin"));
  EXPECT_TRUE(testsupport::exists(folder / "src2.bin"));  // a failed copy loses nothing
  EXPECT_FALSE(testsupport::exists(evilTarget));
  EXPECT_TRUE(testsupport::exists(elsewhere.path()));
}

TEST(UpdaterRun, StopDuringADownloadLeavesNothingUnderTheItemsName) {
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route slow = testhttp::body(std::string(400 * 1024, 's'));
  slow.delayMsPerChunk = 50;
  slow.chunkSize = 8 * 1024;
  server.set("/slow.bin", slow);
  server.set("/list.ini", testhttp::body(listText({"版本=v1", "更新=自动", "|1|slow|d|s|x|" + server.url("/slow.bin") +
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
  server.set("/patch.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "web/new.htm", "new page"}}, folder)));
  server.set("/lib.dat", testhttp::body("library v2"));
  server.set("/list.ini", testhttp::body(listText({
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

TEST(UpdaterRun, AStartUpLaunchThatFindsANewerVersionShowsItself) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/list.ini", testhttp::body(listText({"版本=V2.0", "提示=有新版本，现在更新吗？", "|1|f|d|s|x|u|f.bin|f2.bin|"})));
  server.set("/quiet.ini", testhttp::body(listText({"版本=V2.0", "|1|f|d|s|x|u|f.bin|f2.bin|"})));
  for (const char* path : {"/list.ini", "/quiet.ini"}) {
    writeSettings(server.url(path));
    EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1.9", "2026-01-01", "old\\d|"}));
    testsupport::writeFile(folder / kMarkerFile, "\"Velmora\"\r\n");
    platform::MessageBoxRecorder boxes(platform::MsgResult::Yes);
    Harness r;
    r.go();
    // Answered Yes, or asked nothing: the window shows and waits for the user.
    EXPECT_FALSE(r.ended) << path;
    EXPECT_TRUE(r.run.form().visible) << path;
    EXPECT_EQ(r.run.form().label1, kCaptionStart) << path;
    EXPECT_EQ(boxes.boxes().size(), std::string(path) == "/list.ini" ? 1u : 0u) << path;
    ASSERT_EQ(r.run.rows().size(), 2u) << path;
    r.run.closeWindow();
    EXPECT_FALSE(testsupport::exists(folder / kMarkerFile)) << path;
  }
}

TEST(UpdaterRun, TheConfigureButtonWritesTheChangedSelection) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/list.ini", testhttp::body(listText({"版本=v1", "定制=a|b|c", "<a", "|1|fa|d|s|x|u|fa.bin|fa2.bin|", "</>"})));
  writeSettings(server.url("/list.ini"), "a\\", "Velmora", "velmora");
  {
    // Cancelled: the selection and upset.ini stay as they were.
    const std::string before = testsupport::readFile(folder / kSettingsFile);
    Harness r;
    r.go();
    ASSERT_TRUE(r.run.form().visible);
    EXPECT_EQ(r.view.dialogs, 0);  // a selection was made before: no dialog while the list is read
    r.run.configure();
    EXPECT_EQ(r.view.dialogs, 1);
    r.run.closeWindow();
    EXPECT_EQ(testsupport::readFile(folder / kSettingsFile), before);
  }
  {
    Harness r;
    r.view.groupsAnswer = "b\\c\\";
    r.go();
    ASSERT_TRUE(r.run.form().visible);
    r.run.configure();
    EXPECT_EQ(r.view.dialogs, 1);
    EXPECT_EQ(r.run.state().selection, "b\\c\\");
    // The rows already listed stay; the choice takes effect at the next run.
    EXPECT_EQ(r.run.rows().size(), 3u);
    r.run.closeWindow();
  }
  EXPECT_EQ(settingsItem(3), "b\\c\\");
  EXPECT_EQ(settingsItem(0), "Velmora");
  EXPECT_EQ(settingsItem(2), server.url("/list.ini"));
}

TEST(UpdaterRun, ItemsTheUpdatersFilesCannotCarryAreRefusedWhenTheListIsRead) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/a.bin", testhttp::body("library bytes"));
  server.set("/b.bin", testhttp::body("project bytes"));
  server.set("/c.bin", testhttp::body("c"));
  server.set("/own.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "fine.txt", "fine"},
                                                          {ZipEntry::File, "sub/../Reset.INI", "x"}},
                                                         folder.path())));
  server.set("/own2.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "fine.txt", "fine"},
                                                           {ZipEntry::File, "./UPSET.ini", "[elsewhere]"}},
                                                          folder.path())));
  server.set("/own3.zip", testhttp::body(testsupport::zipBytes({{ZipEntry::File, "fine.txt", "fine"},
                                                           {ZipEntry::File, "QUENNAR", "#!/bin/sh\n"}},
                                                          folder.path())));
  const std::string a = server.url("/a.bin"), b = server.url("/b.bin"), c = server.url("/c.bin");
  server.set("/list.ini", testhttp::body(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      // Two deferred items of one local name: the second is refused before its download.
      "|1|lib|d|s|x|" + a + "|update.tmp|lib.zdj|",
      "|1|pro|d|s|x|" + b + "|update.tmp|pro.mdb|",
      // A ";" splits reset.ini's entry, a '"' cuts Quennar.log short.
      "|1|semi|d|s|x|" + c + "|pro.mdb;web/x|readme.txt|",
      "|1|semi2|d|s|x|" + c + "|readme.txt|readme;v2.txt|",
      "|1|quo\"te|d|s|x|" + c + "|q1.txt|q2.txt|",
      "|1|q2|2026\"12|s|x|" + c + "|q3.txt|q4.txt|",
      // The updater's own program, as local name, 运行 file or target.
      "|1|self|d|s|x|" + c + "|QUENNAR|运行|",
      "|1|self2|d|s|x|" + c + "|new.bin|Quennar|",
      // Archives that would write the updater's own files.
      "|1|own|d|s|x|" + server.url("/own2.zip") + "|own2.zip|解压|",
      "|1|own3|d|s|x|" + server.url("/own3.zip") + "|own3.zip|解压|",
      "|1|owndeferred|d|s|x|" + server.url("/own2.zip") + "|later.zip||",
      "|1|ownslip|d|s|x|" + server.url("/own.zip") + "|own.zip|解压|",
      "|1|after|d|s|x|" + c + "|after.txt|after2.txt|",
  })));
  testsupport::writeFile(folder / "pro.mdb", "project v1");
  testsupport::writeFile(folder / "lib.zdj", "library v1");
  writeSettings(server.url("/list.ini"), "", "no such window", "");
  const std::string settings = testsupport::readFile(folder / kSettingsFile);
  Harness r;
  r.go();
  ASSERT_TRUE(r.ended);
  // Never downloaded: refused when read, or before the download.
  EXPECT_EQ(server.hits("/b.bin"), 0);
  EXPECT_EQ(server.hits("/c.bin"), 1);  // only the last, sound item
  std::vector<std::string> names;
  for (size_t i = 1; i < r.run.rows().size(); ++i) names.push_back(r.run.rows()[i].cells[1]);
  EXPECT_EQ(names, (std::vector<std::string>{"lib", "pro", "own", "own3", "owndeferred", "ownslip", "after"}));
  // Every file kept its own bytes; nothing over the updater's files.
  EXPECT_EQ(testsupport::readFile(folder / "lib.zdj"), "library bytes");
  EXPECT_EQ(testsupport::readFile(folder / "pro.mdb"), "project v1");
  EXPECT_FALSE(testsupport::exists(folder / "fine.txt"));
  EXPECT_FALSE(testsupport::exists(folder / "QUENNAR"));
  EXPECT_FALSE(testsupport::exists(folder / "Quennar"));
  EXPECT_EQ(testsupport::readFile(folder / kSettingsFile), settings);
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(testsupport::readFile(folder / "after2.txt"), "c");
  // Only what was installed is recorded, and the log reads back whole.
  EXPECT_EQ(logItem(2), "lib\\d|after\\d|");
  EXPECT_GE(r.run.problems().size(), 11u);
}

TEST(UpdaterRun, TransfersThatEndEarlyAreNotInstalled) {
  ProgramFolder folder;
  testhttp::Server server;
  server.set("/empty.bin", testhttp::body(""));
  testhttp::Route cut = testhttp::body(std::string(50000, 'c'));
  cut.sendBytes = 1000;
  server.set("/cut.bin", cut);
  server.set("/ok.bin", testhttp::body("ok"));
  server.set("/list.ini", testhttp::body(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      "|1|empty|d|s|x|" + server.url("/empty.bin") + "|empty.bin|empty2.bin|",
      "|1|emptyrun|d|s|x|" + server.url("/empty.bin") + "|run.sh|运行|",
      "|1|cut|d|s|x|" + server.url("/cut.bin") + "|cut.bin|cut2.bin|",
      "|1|ok|d|s|x|" + server.url("/ok.bin") + "|ok.bin|ok2.bin|",
  })));
  testsupport::writeFile(folder / "empty2.bin", "kept");
  writeSettings(server.url("/list.ini"));
  Harness r;
  r.go();
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(logItem(2), "ok\\d|");
  EXPECT_EQ(testsupport::readFile(folder / "empty2.bin"), "kept");
  EXPECT_FALSE(testsupport::exists(folder / "empty.bin"));
  EXPECT_FALSE(testsupport::exists(folder / "run.sh"));
  EXPECT_FALSE(testsupport::exists(folder / "cut.bin"));
  EXPECT_FALSE(testsupport::exists(folder / "cut2.bin"));
  EXPECT_EQ(testsupport::readFile(folder / "ok2.bin"), "ok");
}

TEST(UpdaterRun, LeftoversOfAKilledRunAreRemovedAtTheNextStart) {
  ProgramFolder folder;
  testsupport::writeFile(folder / ".unzip-4711/web/half.htm", "half");
  testsupport::writeFile(folder / "web/pages/.unzip-12/a", "half");
  testsupport::writeFile(folder / ".lib.zdj.download", "part of a library");
  testsupport::writeFile(folder / "web/.page.htm.download", "part");
  testsupport::writeFile(folder / "web/page.htm", "a page");
  writeSettings("");
  Harness r;
  r.go();
  ASSERT_TRUE(r.ended);
  EXPECT_FALSE(testsupport::exists(folder / ".unzip-4711"));
  EXPECT_FALSE(testsupport::exists(folder / "web/pages/.unzip-12"));
  EXPECT_FALSE(testsupport::exists(folder / ".lib.zdj.download"));
  EXPECT_FALSE(testsupport::exists(folder / "web/.page.htm.download"));
  EXPECT_EQ(testsupport::readFile(folder / "web/page.htm"), "a page");
  EXPECT_TRUE(testsupport::exists(folder / kSettingsFile));
}

TEST(UpdaterRun, RunStartsOnlyProgramsAndNeverTheDesktopsOpener) {
  ProgramFolder folder;
  testhttp::Server server;
  // An opener that would leave a mark, first on the path.
  const std::string opened = folder / "opened.txt";
  testsupport::writeFile(folder / "bin/xdg-open", "#!/bin/sh\necho \"$1\" >> " + opened + "\n");
  fs::permissions(folder / "bin/xdg-open", fs::perms::owner_all);
  const std::string oldPath = qEnvironmentVariable("PATH").toStdString();
  qputenv("PATH", QByteArray::fromStdString(folder / "bin") + ":" + QByteArray::fromStdString(oldPath));
  server.set("/doc.txt", testhttp::body("just a text"));
  server.set("/page.htm", testhttp::body("<html><script>x</script></html>"));
  server.set("/run.sh", testhttp::body("#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n"));
  server.set("/list.ini", testhttp::body(listText({
      "版本=v1", "方式=隐藏", "更新=自动",
      "|1|doc|d|s|x|" + server.url("/doc.txt") + "|doc.txt|运行|",
      "|1|page|d|s|x|" + server.url("/page.htm") + "|page.htm|运行|",
      "|1|script|d|s|x|" + server.url("/run.sh") + "|run.sh|运行|",
  })));
  writeSettings(server.url("/list.ini"));
  {
    Harness r;
    r.go();
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.run.problems().size(), 2u);
  }
  EXPECT_TRUE(spinUntil([&] { return testsupport::exists(folder / "ran.txt"); }, 5000));
  QThread::msleep(300);
  qputenv("PATH", QByteArray::fromStdString(oldPath));
  EXPECT_FALSE(testsupport::exists(opened));
  EXPECT_EQ(logItem(2), "script\\d|");
  EXPECT_FALSE(testsupport::exists(folder / "doc.txt"));
  EXPECT_FALSE(testsupport::exists(folder / "page.htm"));
}

TEST(UpdaterRun, UnpackingLetsTheWindowRunAndACloseStopsIt) {
  ProgramFolder folder;
  testhttp::Server server;
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 50; ++i) entries.push_back({ZipEntry::File, "web/p" + std::to_string(i) + ".htm", "page"});
  server.set("/pages.zip", testhttp::body(testsupport::zipBytes(entries, folder.path())));
  server.set("/list.ini", testhttp::body(listText({"版本=v1", "方式=隐藏", "更新=自动",
                                              "|1|pages|d|s|x|" + server.url("/pages.zip") + "|pages.zip|解压|"})));
  writeSettings(server.url("/list.ini"));
  Harness r;
  // The download is done and the archive is about to be unpacked: a close is
  // queued now, and runs only if the window's events run during the unpacking.
  bool queued = false;
  r.view.onListChanged = [&] {
    if (queued || r.run.rows().size() < 2 || r.run.rows()[1].ticked) return;
    queued = true;
    QTimer::singleShot(0, &r.run, [&] { r.run.closeWindow(); });
  };
  r.go();
  ASSERT_TRUE(queued);
  ASSERT_TRUE(r.ended);
  // Stopped before anything moved: nothing unpacked, nothing recorded, no
  // unpack folder left.
  EXPECT_FALSE(testsupport::exists(folder / "web/p0.htm"));
  EXPECT_FALSE(testsupport::exists(folder / "web"));
  EXPECT_FALSE(testsupport::exists(folder / kLogFile));
  for (const auto& e : fs::directory_iterator(folder.path()))
    EXPECT_FALSE(platform::isUnpackFolderName(e.path().filename().string())) << e.path();
}

TEST(UpdaterRun, DeferredReplacementsAreBoundedWhateverTheFilesAllow) {
  ProgramFolder folder;
  const std::string caption = "Velmora bounded " + std::to_string(::getpid());
  const qint64 pid = startStandIn(folder, caption);
  ASSERT_NE(pid, 0);
  writeSettings("http://127.0.0.1:1/never", "", caption, "velmora");
  testsupport::writeFile(folder / "blocker", "a file where a folder should be");
  testsupport::writeFile(folder / "src.bin", "new");
  const std::string failing = (folder / "src.bin") + ";" + (folder / "blocker/x.bin") + "|";

  // A forged attempt count gives up at once instead of keeping the entry for ever.
  for (const char* forged : {"-999999", "99999999999", "x"}) {
    EXPECT_TRUE(common::writeItemFile(localPath(kResetFile), {caption, "velmora", failing, std::string(forged), "src\\d|"}));
    EXPECT_TRUE(common::writeItemFile(localPath(kLogFile), {"v1", "d", "src\\d|other\\d|"}));
    Harness r;
    r.go();
    ASSERT_TRUE(r.ended);
    EXPECT_FALSE(testsupport::exists(folder / kResetFile)) << forged;
    EXPECT_EQ(logItem(2), "other\\d|") << forged;  // offered again by the next run
  }
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"), (std::vector<std::string>{"started"}));

  // A reset.ini that cannot be rewritten (no file can grow on this disk): the
  // step gives up without closing the main program, every time.
  std::signal(SIGXFSZ, SIG_IGN);
  for (int start = 0; start < kResetAttempts + 1; ++start) {
    EXPECT_TRUE(common::writeItemFile(localPath(kResetFile), {caption, "velmora", failing, std::string(""), "src\\d|"}));
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit none = old;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
    Harness r;
    r.go();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(r.ended);
    EXPECT_FALSE(r.run.problems().empty());
  }
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(platform::isListening(caption));
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"), (std::vector<std::string>{"started"}));
  EXPECT_EQ(testsupport::readFile(folder / "src.bin"), "new");
  platform::requestClose(caption);
  spinUntil([&] { return !platform::isListening(caption); }, 3000);
}

TEST(UpdaterRun, AMainProgramThatDoesNotCloseKeepsItsFilesAndRunsOnce) {
  ProgramFolder folder;
  const std::string caption = "Velmora hangs " + std::to_string(::getpid());
  const qint64 pid = startStandIn(folder, caption, true);
  ASSERT_NE(pid, 0);
  writeSettings("http://127.0.0.1:1/never", "", caption, "velmora");
  testsupport::writeFile(folder / "lib.zdj", "library v1");
  testsupport::writeFile(folder / "lib.new", "library v2");
  const std::string pending = (folder / "lib.new") + ";" + (folder / "lib.zdj") + "|";
  EXPECT_TRUE(common::writeItemFile(localPath(kResetFile), {caption, "velmora", pending, std::string(""), "lib\\d|"}));
  {
    Harness r;
    r.run.setCloseWaitMs(500);
    r.go();
    ASSERT_TRUE(r.ended);
  }
  EXPECT_EQ(testsupport::readFile(folder / "lib.zdj"), "library v1");
  EXPECT_EQ(testsupport::readFile(folder / "lib.new"), "library v2");
  // The pending list stays for the next run, uncounted.
  const auto items = common::readItemFile(localPath(kResetFile), 5).value_or(std::vector<std::string>{});
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[2], pending);
  EXPECT_EQ(parseAttempts(items[3], kResetAttempts), 0);
  EXPECT_EQ(items[4], "lib\\d|");
  QThread::msleep(300);
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"), (std::vector<std::string>{"started", "closed"}));
  ::kill(static_cast<pid_t>(pid), SIGTERM);
}
