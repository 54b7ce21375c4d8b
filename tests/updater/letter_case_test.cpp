// Whole runs against a server that serves only the exact spelling of each
// address, in a program folder whose files carry capital letters, as the
// lists were written for a file system that ignores case: every update must
// reach the real file, and no second file whose name differs only in case may
// appear.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <clocale>
#include <map>

#include "common/items.h"
#include "common/text_case.h"
#include "platform/process/process.h"
#include "support/test_server.h"
#include "support/test_support.h"
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

// One hidden automatic run in the current program folder, to its end.
std::vector<std::string> runOnce() {
  spinUntil([] { return true; }, 0);
  bool ended = false;
  UpdaterRun run;
  run.setEndProgram([&] { ended = true; });
  run.setTransferTimeoutMs(3000);
  run.setCloseWaitMs(3000);
  run.load();
  EXPECT_TRUE(spinUntil([&] { return ended; }, 20000));
  return run.problems();
}

// Names anywhere below folder that equal another name of their folder in
// another letter case.
std::vector<std::string> caseTwins(const std::string& folder) {
  std::vector<std::string> twins;
  std::map<std::string, std::string> seen;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    auto [it, fresh] = seen.emplace(common::lowerText(name), name);
    if (!fresh) twins.push_back(folder + ": " + it->second + " / " + name);
    if (e.is_directory()) {
      auto below = caseTwins(e.path().string());
      twins.insert(twins.end(), below.begin(), below.end());
    }
  }
  return twins;
}

std::vector<std::string> names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(LetterCase, UpdatesReachTheRealFilesDeferredAndDirect) {
  ::setlocale(LC_CTYPE, "C.UTF-8");  // Chinese entry names in the archives made here
  ProgramFolder folder;
  testhttp::Server server;
  const std::string caption = "Velmora letter case " + std::to_string(::getpid());

  // The installed system: the main program Velmora, running, and its files.
  fs::copy_file(STUB_MAIN_PATH, folder / "Velmora");
  EXPECT_TRUE(common::writeItemFile(folder / "stub.ini", {caption}));
  ASSERT_TRUE(QProcess::startDetached(QString::fromStdString(folder / "Velmora"), {}));
  ASSERT_TRUE(spinUntil([&] { return platform::isListening(caption); }, 5000));
  testsupport::writeFile(folder / "MainPro.ini", "ini v1");
  testsupport::writeFile(folder / "Web/Orvanta.htm", "page v1");
  testsupport::writeFile(folder / "图标/steel.bmp", "icon v1");
  testsupport::writeFile(folder / "Tool.sh", "old tool");
  // upset.ini names the main program as the lists do, in lower case.
  EXPECT_TRUE(common::writeItemFile(localPath(kSettingsFile), {caption, "velmora", server.url("/List.ini"), ""}));

  // Deferred: each file downloaded under another name, replaced after the
  // main program closed.
  server.set("/Files/MainPro.ini", body("ini v2"));
  server.set("/Files/Web/Orvanta.htm", body("page v2"));
  server.set("/Files/Steel.BMP", body("icon v2"));
  server.set("/List.ini", body(testsupport::listText({
      "版本=v2", "方式=隐藏", "更新=自动",
      "|1|Ini|d1|s|x|" + server.url("/Files/MainPro.ini") + "|MainPro.new|MAINPRO.INI|",
      "|1|Page|d1|s|x|" + server.url("/Files/Web/Orvanta.htm") + "|WEB\\Orvanta.new|web\\orvanta.htm|",
      "|1|Icon|d1|s|x|" + server.url("/Files/Steel.BMP") + "|图标\\Steel.new|图标\\STEEL.BMP|",
  })));
  EXPECT_TRUE(runOnce().empty());
  EXPECT_EQ(testsupport::readFile(folder / "MainPro.ini"), "ini v2");
  EXPECT_EQ(testsupport::readFile(folder / "Web/Orvanta.htm"), "page v2");
  EXPECT_EQ(testsupport::readFile(folder / "图标/steel.bmp"), "icon v2");
  EXPECT_EQ(caseTwins(folder.path()), std::vector<std::string>{});
  EXPECT_EQ(names(folder / "Web"), std::vector<std::string>{"Orvanta.htm"});
  EXPECT_EQ(names(folder / "图标"), std::vector<std::string>{"steel.bmp"});
  EXPECT_FALSE(testsupport::exists(folder / "MainPro.new"));
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  EXPECT_EQ(server.hits("/files/mainpro.ini"), 0);
  // The main program, named velmora in upset.ini, was closed and started again.
  EXPECT_TRUE(spinUntil([&] { return testsupport::readLines(folder / "stub.log").size() >= 3; }, 5000));
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"), (std::vector<std::string>{"started", "closed", "started"}));
  ASSERT_TRUE(spinUntil([&] { return platform::isListening(caption); }, 5000));

  // Direct: each local name is the real file (a deferred item that is its own
  // target, a program to run), or an archive unpacked now into a folder
  // named in another case.
  server.set("/Files/MainPro.ini", body("ini v3"));
  server.set("/Files/Web/Orvanta.htm", body("page v3"));
  server.set("/Files/Icons.ZIP", body(testsupport::zipBytes({{ZipEntry::File, "STEEL.BMP", "icon v3"}}, folder.path())));
  server.set("/Files/Pages.zip", body(testsupport::zipBytes({{ZipEntry::File, "orvanta.HTM", "page v4"},
                                                             {ZipEntry::File, "Extra.htm", "extra"}},
                                                            folder.path())));
  server.set("/Files/Tool.SH", body("#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\n"));
  server.set("/List.ini", body(testsupport::listText({
      "版本=v3", "方式=隐藏", "更新=自动",
      "|1|Ini|d2|s|x|" + server.url("/Files/MainPro.ini") + "|mainpro.ini|MAINPRO.INI|",
      "|1|Page|d2|s|x|" + server.url("/Files/Web/Orvanta.htm") + "|web\\orvanta.htm|WEB\\ORVANTA.HTM|",
      "|1|Icons|d2|s|x|" + server.url("/Files/Icons.ZIP") + "|icons.zip|解压|图标",
      "|1|Pages|d2|s|x|" + server.url("/Files/Pages.zip") + "|pages.zip|解压|WEB",
      "|1|Tool|d2|s|x|" + server.url("/Files/Tool.SH") + "|TOOL.sh|运行|",
  })));
  EXPECT_TRUE(runOnce().empty());
  EXPECT_EQ(testsupport::readFile(folder / "MainPro.ini"), "ini v3");
  EXPECT_EQ(testsupport::readFile(folder / "图标/steel.bmp"), "icon v3");
  EXPECT_EQ(testsupport::readFile(folder / "Web/Orvanta.htm"), "page v4");
  EXPECT_EQ(testsupport::readFile(folder / "Web/Extra.htm"), "extra");
  EXPECT_TRUE(spinUntil([&] { return testsupport::exists(folder / "ran.txt"); }, 5000));
  EXPECT_NE(testsupport::readFile(folder / "Tool.sh"), "old tool");
  EXPECT_EQ(caseTwins(folder.path()), std::vector<std::string>{});
  EXPECT_FALSE(testsupport::exists(folder / "icons.zip"));
  EXPECT_FALSE(testsupport::exists(folder / kResetFile));
  auto items = common::readItemFile(localPath(kLogFile), 3).value_or(std::vector<std::string>{});
  items.resize(3);
  EXPECT_EQ(items[2], "ini\\d1|page\\d1|icon\\d1|ini\\d2|page\\d2|icons\\d2|pages\\d2|tool\\d2|");
  EXPECT_TRUE(spinUntil([&] { return testsupport::readLines(folder / "stub.log").size() >= 5; }, 5000));
  EXPECT_EQ(testsupport::readLines(folder / "stub.log"),
            (std::vector<std::string>{"started", "closed", "started", "closed", "started"}));
  platform::requestClose(caption);
  spinUntil([&] { return !platform::isListening(caption); }, 3000);
}
