// The updater's pieces without a network: counters, versions, display texts,
// the list grammar, the local files and the path checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/items.h"
#include "support/test_support.h"
#include "updater/install.h"
#include "updater/local_files.h"
#include "updater/progress.h"
#include "updater/update_list.h"
#include "updater/version.h"

using namespace updater;
using testsupport::ProgramFolder;

TEST(UpdaterState, CountersSaturateAt32767) {
  Counter16 c(32766);
  c.increment();
  EXPECT_EQ(c, 32767);
  c.increment();
  EXPECT_EQ(c, 32767);
  UpdaterState s;
  EXPECT_EQ(s.currentRow, 0);
  EXPECT_FALSE(s.stopRequested);
  EXPECT_TRUE(s.mainTitle.empty());
}

TEST(Version, ComparesAsOneDecimalNumberAfterTheFirstCharacter) {
  EXPECT_FALSE(isNewerVersion("v1.10", "v1.9"));  // 1.10 < 1.9
  EXPECT_TRUE(isNewerVersion("v10.0", "v2.0"));
  EXPECT_TRUE(isNewerVersion("v2.16", "v2.15"));
  EXPECT_FALSE(isNewerVersion("v2.15", "v2.15"));
  EXPECT_EQ(versionNumber("2.5"), 0.5);  // the first character goes whatever it is
  EXPECT_EQ(versionNumber("版3.5"), 3.5);  // a whole Chinese character is dropped
  // A remainder that is no number is never newer, nor beaten.
  EXPECT_FALSE(versionNumber("v2.1.3"));
  EXPECT_FALSE(versionNumber("vbeta"));
  EXPECT_FALSE(versionNumber("v"));
  EXPECT_FALSE(versionNumber(""));
  EXPECT_FALSE(isNewerVersion("vbeta", "v1.0"));
  EXPECT_FALSE(isNewerVersion("v9.0", "vbeta"));
}

TEST(DisplayTexts, SizeTimeAndPercentage) {
  EXPECT_EQ(sizeText(1536), "1.5kb");
  EXPECT_EQ(sizeText(0), "0kb");
  EXPECT_EQ(sizeText(1024), "1kb");
  EXPECT_EQ(sizeText(1034), "1.01kb");  // 1.0097...
  EXPECT_EQ(sizeText(5), "0kb");         // 0.0048... -> 0
  // ties to even: 0.125 kb = 128 bytes -> 0.12, 0.375 kb = 384 bytes -> 0.38
  EXPECT_EQ(sizeText(128), "0.12kb");
  EXPECT_EQ(sizeText(384), "0.38kb");
  EXPECT_EQ(hmsText(65), "0:1:5");
  EXPECT_EQ(hmsText(0), "0:0:0");
  EXPECT_EQ(hmsText(3725), "1:2:5");
  EXPECT_EQ(percentText(57, 100), "57%");
  EXPECT_EQ(percentText(1, 8), "12%");   // 0.125 -> 0.12
  EXPECT_EQ(percentText(3, 8), "38%");   // 0.375 -> 0.38
  EXPECT_EQ(percentText(100, 100), "100%");
  EXPECT_EQ(roundHalfEven(5, 2), 2);
  EXPECT_EQ(roundHalfEven(7, 2), 4);
}

TEST(TransferProgress, CountsWholeBlocksAndCapsAtMax) {
  UpdaterState st;
  TransferProgress p;
  p.setText("earlier");
  // A file smaller than one block: Value jumps to Max, the text stays, no kb.
  p.begin(500);
  p.add(500, st);
  p.finish(st);
  EXPECT_EQ(p.value(), 500);
  EXPECT_EQ(p.text(), "earlier");
  EXPECT_EQ(st.kbThisSecond, 0);

  // 2.5 blocks arriving in odd pieces: two counted blocks, the last short one not.
  p.begin(2560);
  p.add(700, st);
  p.add(700, st);
  EXPECT_EQ(p.value(), 1024);
  EXPECT_EQ(p.text(), "40%");
  p.add(1160, st);
  EXPECT_EQ(p.value(), 2048);
  EXPECT_EQ(p.text(), "80%");
  p.finish(st);
  EXPECT_EQ(p.value(), 2560);
  EXPECT_EQ(st.kbThisSecond, 2);

  // No Content-length: Value counts the bytes, the text shows the size received.
  st.kbThisSecond.set(0);
  p.begin(0);
  EXPECT_FALSE(p.sizeKnown());
  p.add(3000, st);
  p.finish(st);
  EXPECT_EQ(p.value(), 3000);
  EXPECT_EQ(p.text(), "2.93kb");
  EXPECT_EQ(st.kbThisSecond, 2);
}

TEST(ListGrammar, ClassesIconsAndTicks) {
  EXPECT_EQ(classify("a=b|c"), ItemClass::Key);   // "=" wins over "|"
  EXPECT_EQ(classify("{a|b"), ItemClass::Note);   // "{" wins over "|"
  EXPECT_EQ(classify("|1|x"), ItemClass::File);
  EXPECT_EQ(classify("<grp"), ItemClass::Group);
  EXPECT_EQ(toLowerText("ABC中文Xy"), "abc中文xy");
  // Full-width, Greek and Cyrillic capitals of the code page are lowered too.
  EXPECT_EQ(toLowerText("ＡＢＣ－ΣΩ－ДЖ"), "ａｂｃ－σω－дж");
  EXPECT_EQ(toLowerText(std::string("A\xff\xc3")), std::string("a\xff\xc3"));  // bad bytes stay
  EXPECT_EQ(iconForAddress(""), 10);
  EXPECT_EQ(iconForAddress("http://h/a.bin"), 8);
  EXPECT_EQ(iconForAddress("http://h/a.zip"), 1);
  EXPECT_EQ(iconForAddress("http://h/a.exe"), 3);
  EXPECT_EQ(iconForAddress("http://h/a.doc"), 5);
  EXPECT_EQ(iconForAddress("http://h/a.xls"), 6);
  EXPECT_EQ(iconForAddress("http://h/a.txt"), 7);
  EXPECT_EQ(iconForAddress("http://h/a.chm"), 4);
  EXPECT_EQ(iconForAddress("http://h/docs.zip"), 5);  // a later rule replaces an earlier one
  EXPECT_EQ(iconForAddress("http://h/tavo.exe"), 8);
  EXPECT_EQ(iconForAddress("http://h/nopi"), 12);
  EXPECT_EQ(iconForAddress("http://h/dufa"), 11);
  EXPECT_EQ(iconForAddress("http://h/lozu.melu"), 13);
  EXPECT_TRUE(ticksBox("1"));
  EXPECT_TRUE(ticksBox("-1"));
  EXPECT_FALSE(ticksBox("0"));
  EXPECT_FALSE(ticksBox(""));
  EXPECT_FALSE(ticksBox("yes"));
}

TEST(ListParse, KeysNotesAndFlatFileRows) {
  UpdaterState st;
  const std::vector<std::string> items = {
      "版本=V2.0", "标题=Big Update", "日期=2026-12-01", "方式=", "提示=有新版本，更新吗", "更新=自动",
      "{First Note", "{second=not a note", "限制=9", "未知=1", "版本=V2.1",
      "|1|Prog|2026-12-01|10k|desc|HTTP://H/A.EXE|a.exe|运行|",
      "|0|Doc|2026-12-01|1k|d|http://h/b.doc|b.doc|sub\\b.doc|",
      "|1|NoAddr|2026-12-01|1k|d||c.dat|c.dat|",
      "|1|short",                              // three fields: skipped
      "|1|n|d|s|d|u|l|m|f|extra",              // eleven fields: skipped
      "|1|Four|2026",                          // exactly four fields (f0 to f3): kept
  };
  ParsedList list = parseList(items, st, nullptr);
  EXPECT_EQ(list.version, "v2.1");  // later value wins, lower case
  EXPECT_EQ(list.title, "big update");
  EXPECT_EQ(list.date, "2026-12-01");
  EXPECT_EQ(st.runMode, "");  // empty value ignored
  EXPECT_EQ(st.promptText, "有新版本，更新吗");
  EXPECT_EQ(list.updateMode, "自动");
  EXPECT_EQ(list.notes, "first note\r\n");  // the item with "=" is a key, not a note
  EXPECT_EQ(list.skippedItems, 2);
  ASSERT_EQ(list.rows.size(), 5u);
  EXPECT_TRUE(list.rows[0].header);
  EXPECT_EQ(list.rows[0].cells[8], "下载目录");
  const ListRow& prog = list.rows[1];
  EXPECT_FALSE(prog.group);
  EXPECT_EQ(prog.level(), 1);
  EXPECT_TRUE(prog.ticked);
  EXPECT_EQ(prog.cells[1], "prog");
  // The address keeps the list's letter case (a server may tell them apart);
  // the icon still goes by its lower case.
  EXPECT_EQ(prog.cells[5], "HTTP://H/A.EXE");
  EXPECT_EQ(prog.cells[7], "运行");
  EXPECT_EQ(prog.icon, 3);
  EXPECT_FALSE(list.rows[2].ticked);
  EXPECT_EQ(list.rows[2].cells[7], "sub\\b.doc");
  EXPECT_EQ(list.rows[3].icon, 10);
  EXPECT_EQ(list.rows[4].cells[2], "2026");
  EXPECT_EQ(list.rows[4].cells[3], "");
}

TEST(ListParse, GroupsSelectionAndInstalledList) {
  const std::vector<std::string> items = {
      "版本=v1",         "|1|top|d1|s|x|u|l|m|f",  "<ab",  "|1|in ab|d1|s|x|u|l|m|f", "</ab>",
      "|1|after|d1|s|x|u|l|m|f", "<zz", "|1|in zz|d1|s|x|u|l|m|f", "</>", "|1|done|d2|s|x|u|l|m|f"};
  // No selection: flat list without group rows.
  {
    UpdaterState st;
    auto list = parseList(items, st, nullptr);
    ASSERT_EQ(list.rows.size(), 6u);
    for (size_t i = 1; i < list.rows.size(); ++i) EXPECT_FALSE(list.rows[i].group);
  }
  // Selection cab\: ab is a substring of it, zz is not.
  {
    UpdaterState st;
    st.selection = "cab\\";
    auto list = parseList(items, st, nullptr);
    std::vector<std::string> names;
    for (size_t i = 1; i < list.rows.size(); ++i) names.push_back(list.rows[i].cells[1]);
    EXPECT_EQ(names, (std::vector<std::string>{"top", "ab", "in ab", "after", "done"}));
    EXPECT_TRUE(list.rows[2].group);
    EXPECT_EQ(list.rows[2].icon, kGroupIcon);
    EXPECT_EQ(list.rows[2].level(), 0);
  }
  // Installed items are not offered again; the same name with a new date is.
  {
    UpdaterState st;
    st.installedList = "top\\d1|done\\d1|";
    auto list = parseList(items, st, nullptr);
    std::vector<std::string> names;
    for (size_t i = 1; i < list.rows.size(); ++i) names.push_back(list.rows[i].cells[1]);
    EXPECT_EQ(names, (std::vector<std::string>{"in ab", "after", "in zz", "done"}));
  }
}

TEST(ListParse, CustomKeyOpensTheDialogAndFiltersLaterItems) {
  const std::vector<std::string> items = {"版本=v1", "<a", "|1|early a|d|s|x|u|l|m|f", "</>", "定制=a|b",
                                          "<a", "|1|late a|d|s|x|u|l|m|f", "</>", "<b", "|1|late b|d|s|x|u|l|m|f"};
  UpdaterState st;
  int opened = 0;
  auto list = parseList(items, st, [&](UpdaterState& s) {
    ++opened;
    EXPECT_EQ(s.choices, "a|b");
    s.selection = "b\\";
  });
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(st.selectionAtLoad, "");
  std::vector<std::string> names;
  for (size_t i = 1; i < list.rows.size(); ++i) names.push_back(list.rows[i].cells[1]);
  EXPECT_EQ(names, (std::vector<std::string>{"early a", "b", "late b"}));

  // With a selection already made the dialog stays shut.
  UpdaterState chosen;
  chosen.selection = "a\\";
  parseList(items, chosen, [&](UpdaterState&) { ++opened; });
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(chosen.selectionAtLoad, "a\\");

  // Only the first 1000 items are read.
  std::vector<std::string> many(999, "{n");
  many.insert(many.begin(), "版本=v1");
  many.push_back("|1|beyond|d|s|x|u|l|m|f");
  UpdaterState st2;
  EXPECT_EQ(parseList(many, st2, nullptr).rows.size(), 1u);
}

TEST(LocalFiles, SettingsLogAndSaveStep) {
  ProgramFolder folder;
  UpdaterState st;
  EXPECT_FALSE(readset(st));
  st.mainTitle = "Velmora, 材料";  // a comma survives because the writer quotes
  st.mainExe = "Velmora";
  st.listUrl = "http://h/list.ini";
  st.selection = "a\\b\\";
  ASSERT_TRUE(writeset(st));
  UpdaterState back;
  ASSERT_TRUE(readset(back));
  EXPECT_EQ(back.mainTitle, "Velmora, 材料");
  EXPECT_EQ(back.selection, "a\\b\\");
  EXPECT_EQ(testsupport::readFile(folder / "upset.ini").find("材料") , std::string::npos);  // stored GBK

  // Missing items read as empty.
  testsupport::writeFile(folder / "Quennar.log", "\"v1.0\"\r\n");
  UpdaterState lg;
  lg.installedList = "stale";
  ASSERT_TRUE(readlog(lg));
  EXPECT_EQ(lg.installedVersion, "v1.0");
  EXPECT_EQ(lg.installedList, "");

  // A run that read no list keeps the version and date of the log.
  UpdaterState run;
  run.installedVersion = "v1.0";
  run.installedDate = "2026-01-01";
  run.installedList = "x\\d|";
  ASSERT_TRUE(savestate(run, "", "", false));
  UpdaterState again;
  readlog(again);
  EXPECT_EQ(again.installedVersion, "v1.0");
  EXPECT_EQ(again.installedDate, "2026-01-01");
  ASSERT_TRUE(savestate(run, "v2.0", "2026-12-01", true));
  readlog(again);
  EXPECT_EQ(again.installedVersion, "v2.0");

  // An empty installed list writes no log; equal selections write no settings.
  testsupport::fs::remove(folder / "Quennar.log");
  testsupport::fs::remove(folder / "upset.ini");
  UpdaterState quiet;
  ASSERT_TRUE(savestate(quiet, "v3", "d", true));
  EXPECT_FALSE(testsupport::exists(folder / "Quennar.log"));
  EXPECT_FALSE(testsupport::exists(folder / "upset.ini"));
  EXPECT_FALSE(testsupport::exists(folder / "reset.ini"));

  // A file that cannot be written stops the save step there.
  testsupport::fs::create_directories(folder / "Quennar.log");  // a folder in the way
  UpdaterState blocked;
  blocked.installedList = "x\\d|";
  blocked.selection = "a\\";
  EXPECT_FALSE(savestate(blocked, "v", "d", true));
  EXPECT_FALSE(testsupport::exists(folder / "upset.ini"));
  EXPECT_FALSE(FileExists(folder / "Quennar.log"));  // a folder is no file
  EXPECT_FALSE(FileExists(""));
  // What cannot be opened for reading, for any user (root included): a link
  // to nothing, a path through a file, a name with a NUL.
  testsupport::writeFile(folder / "Quennar.ini", "版本=v1");
  EXPECT_TRUE(FileExists(folder / "Quennar.ini"));
  testsupport::fs::create_symlink(folder / "gone.ini", folder / "dangling.ini");
  EXPECT_FALSE(FileExists(folder / "dangling.ini"));
  EXPECT_FALSE(FileExists(folder / "Quennar.ini/x"));
  EXPECT_FALSE(FileExists(folder / "Quennar.ini" + std::string(1, '\0') + "x"));
  testsupport::fs::create_symlink(folder / "Quennar.ini", folder / "link.ini");
  EXPECT_TRUE(FileExists(folder / "link.ini"));
}

TEST(Paths, NamesFromTheListStayInTheProgramFolder) {
  ProgramFolder folder;
  EXPECT_EQ(pathInProgramFolder("a.exe"), folder / "a.exe");
  EXPECT_EQ(pathInProgramFolder("sub\\b.dll"), folder / "sub/b.dll");
  EXPECT_EQ(pathInProgramFolder("", true), folder.path());
  EXPECT_TRUE(pathInProgramFolder("web\\", true));
  for (const char* bad : {"", "..\\x.exe", "sub\\..\\..\\x", "../x", "/etc/passwd", "\\x.exe", "c:\\x.exe",
                          "c:x", "\\\\server\\share\\x", "sub\\", ".", "sub/../.."}) {
    EXPECT_FALSE(pathInProgramFolder(bad)) << bad;
  }
  EXPECT_FALSE(pathInProgramFolder("..", true));
  EXPECT_FALSE(pathInProgramFolder("d:\\", true));
  // A link inside the folder that points outside does not carry a name out.
  testsupport::fs::create_directory_symlink("/tmp", folder / "out");
  EXPECT_FALSE(pathInProgramFolder("out\\x.exe"));
  EXPECT_FALSE(insideProgramFolder(folder.path()));
  EXPECT_FALSE(startFromProgramFolder("/bin/true"));
}

TEST(TransferProgress, AnySplitOfTheBodyGivesTheSameDisplay) {
  // Reference: the body taken chunk by chunk, as the transfer control hands it out.
  auto reference = [](int64_t total, std::optional<int64_t> max) {
    UpdaterState st;
    int64_t value = 0;
    std::string text;
    for (int64_t left = total; left >= 2; left -= kBlock) {
      const int64_t chunk = std::min<int64_t>(kBlock, left);
      if (!max) {
        value += chunk;
        if (chunk == kBlock) st.kbThisSecond.increment();
        text = sizeText(value);
      } else if (value + kBlock > *max) {
        value = *max;
      } else {
        value += kBlock;
        st.kbThisSecond.increment();
        text = percentText(value, *max);
      }
    }
    return std::make_tuple(value, text, int(st.kbThisSecond));
  };
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int64_t total : {0, 1, 2, 1023, 1024, 1025, 2049, 100000, 777777}) {
    for (auto max : {std::optional<int64_t>(total), std::optional<int64_t>(total / 2 + 1), std::optional<int64_t>()}) {
      if (max && *max <= 0) continue;
      UpdaterState st;
      TransferProgress p;
      p.begin(max.value_or(0));
      for (int64_t sent = 0; sent < total;) {
        const int64_t piece = std::min<int64_t>(total - sent, 1 + next() % 5000);
        p.add(piece, st);
        sent += piece;
      }
      p.finish(st);
      auto [value, text, kb] = reference(total, max);
      if (!max && total % kBlock == 1) value += 1;  // the last single byte still counts as received
      if (!max) text = sizeText(value);                // and the end shows the size received
      EXPECT_EQ(p.value(), value) << total;
      EXPECT_EQ(p.text(), text) << total;
      EXPECT_EQ(int(st.kbThisSecond), kb) << total;
    }
  }
}
