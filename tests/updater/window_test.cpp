// The updater's window and group dialog, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>

#include "common/items.h"
#include "platform/screen/twips.h"
#include "support/test_server.h"
#include "support/test_support.h"
#include "updater/frmsoftsf.h"
#include "updater/frmsoftup.h"
#include "updater/local_files.h"

using namespace updater;
using testsupport::ProgramFolder;

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "window_test";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

bool spinUntil(const std::function<bool()>& done, int ms = 15000) {
  app();
  return testsupport::spinUntil(done, ms);
}

}  // namespace

TEST(Frmsoftsf, TwoColumnsSubstringTicksAndResult) {
  app();
  Frmsoftsf dialog;
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("选择更新"));
  dialog.setsf("a|b|c", "ab\\");
  ASSERT_EQ(dialog.checkCount(), 3);
  EXPECT_EQ(dialog.checkTwips(0), QRect(240, 240, 1575, 255));
  EXPECT_EQ(dialog.checkTwips(1).topLeft(), QPoint(2315, 240));
  EXPECT_EQ(dialog.checkTwips(2).topLeft(), QPoint(240, 740));
  EXPECT_FALSE(dialog.Check1(0)->isChecked());
  EXPECT_TRUE(dialog.Check1(1)->isChecked());  // b\ occurs in ab\ .
  EXPECT_FALSE(dialog.Check1(2)->isChecked());
  EXPECT_EQ(dialog.cmdqd(0)->text(), QString::fromUtf8("确定"));
  EXPECT_EQ(dialog.cmdqd(1)->text(), QString::fromUtf8("取消"));
  dialog.Check1(2)->setChecked(true);
  dialog.cmdqdClick(1);  // 取消 keeps nothing
  EXPECT_EQ(dialog.Tag(), "");
  dialog.cmdqdClick(0);
  EXPECT_EQ(dialog.Tag(), "b\\c\\");

  Frmsoftsf none;
  none.setsf("x|y", "");
  none.cmdqdClick(0);
  EXPECT_EQ(none.Tag(), "");  // nothing ticked: the selection stays as it was

  // A list without choices gives one box without a name, which "\" of any
  // selection would tick: confirming it must not turn the selection into "\".
  Frmsoftsf unnamed;
  unnamed.setsf("", "a\\");
  ASSERT_EQ(unnamed.checkCount(), 1);
  unnamed.cmdqdClick(0);
  EXPECT_EQ(unnamed.Tag(), "");
  Frmsoftsf gap;
  gap.setsf("a||b", "a\\");
  gap.cmdqdClick(0);
  EXPECT_EQ(gap.Tag(), "a\\");

  // A long list keeps every box reachable above the buttons.
  Frmsoftsf many;
  std::string names;
  for (int i = 0; i < 40; ++i) names += (i ? "|g" : "g") + std::to_string(i);
  many.setsf(names, "");
  ASSERT_EQ(many.checkCount(), 40);
  EXPECT_EQ(many.checkTwips(39).topLeft(), QPoint(2315, 240 + 19 * 500));
  EXPECT_LE(many.height(), platform::twipsToPixels(12000));
  // Every box can be brought into view, whole, above the buttons and inside
  // the dialog: by growing the dialog or by scrolling its boxes.
  auto reachable = [](Frmsoftsf& dialog, int index) {
    dialog.show();
    QApplication::processEvents();
    QCheckBox* box = dialog.Check1(index);
    if (auto* scroll = dialog.findChild<QScrollArea*>()) scroll->ensureWidgetVisible(box, 0, 0);
    QApplication::processEvents();
    const QRect onDialog(box->mapTo(&dialog, QPoint(0, 0)), box->size());
    const QRect shown = box->visibleRegion().boundingRect();
    const bool whole = shown.size() == box->size();
    const bool above = onDialog.bottom() < dialog.cmdqd(0)->geometry().top();
    const bool inside = QRect(QPoint(0, 0), dialog.size()).contains(onDialog);
    dialog.hide();
    return whole && above && inside;
  };
  for (int i : {0, 1, 20, 38, 39}) EXPECT_TRUE(reachable(many, i)) << i;
  Frmsoftsf some;  // taller than the design, shorter than the limit
  some.setsf("a|b|c|d|e|f|g|h|i|j|k|l|m|n", "");
  EXPECT_GT(some.height(), platform::twipsToPixels(4320));
  for (int i : {0, 12, 13}) EXPECT_TRUE(reachable(some, i)) << i;
}

TEST(Frmsoftup, ShowsTheListAndRunsTheQueue) {
  app();
  ProgramFolder folder;
  testhttp::Server server;
  testhttp::Route file;
  file.body = std::string(3000, 'z');
  server.set("/a.exe", file);
  std::string text = "版本=V3.0\r\n日期=2026-12-03\r\n标题=Title\r\n{note one\r\n<grp\r\n|1|Prog|d|3k|desc|" +
                     server.url("/a.exe") + "|a.bin|a2.bin|\r\n</>\r\n|0|Doc|d|1k|x||b.doc|b.doc|\r\n";
  testhttp::Route list;
  list.body = testsupport::gbk(text);
  server.set("/list.ini", list);
  EXPECT_TRUE(common::writeItemFile(localPath(kSettingsFile), {"", "", server.url("/list.ini"), "grp\\"}));

  Frmsoftup window;
  bool ended = false;
  window.run().setEndProgram([&] { ended = true; });
  EXPECT_EQ(window.windowTitle(), "Ostravel");
  EXPECT_FALSE(window.psb()->isVisible());
  window.run().load();
  ASSERT_TRUE(spinUntil([&] { return window.isVisible(); }));
  EXPECT_EQ(window.Label2(1)->text(), "v3.0");
  EXPECT_EQ(window.Label2(5)->text(), "2026-12-03");
  EXPECT_EQ(window.Label2(0)->text(), "title");
  EXPECT_TRUE(window.Text2()->toPlainText().startsWith("note one"));
  EXPECT_EQ(window.Label1()->text(), QString::fromUtf8("开始升级"));
  EXPECT_EQ(window.Label3()->text(), QString::fromUtf8("配置"));
  EXPECT_EQ(window.Image1(0)->toolTip(), QString::fromUtf8("关闭"));
  EXPECT_EQ(window.Image1(1)->toolTip(), QString::fromUtf8("最小化"));

  platform::VSFlexGrid& g = window.VSFlexGrid1()->grid();
  ASSERT_EQ(g.Rows(), 4);  // header, group, two files
  EXPECT_EQ(g.Cols(), 9);
  EXPECT_EQ(g.GridLines(), platform::flexGridNone);
  EXPECT_EQ(g.TextMatrix(0, 6), "更名");
  for (int c = 0; c < 9; ++c) EXPECT_EQ(g.ColHidden(c), c >= 5) << c;
  EXPECT_EQ(g.ColWidth(1), 2910);
  EXPECT_EQ(g.ColDataType(0), platform::flexDTBoolean);
  EXPECT_EQ(g.OutlineCol(), 1);
  EXPECT_TRUE(g.ColSwitch171(0));
  EXPECT_TRUE(g.IsSubtotal(1));
  EXPECT_EQ(g.RowOutlineLevel(1), 0);
  EXPECT_EQ(g.RowOutlineLevel(2), 1);
  EXPECT_EQ(g.TextMatrix(1, 1), "grp");
  EXPECT_TRUE(g.cellPicture(1, 1));
  EXPECT_TRUE(g.cellPicture(3, 1));
  EXPECT_EQ(g.cellChecked(2, 0), platform::flexChecked);
  EXPECT_EQ(g.cellChecked(3, 0), platform::flexUnchecked);

  // A tick set in the grid reaches the queue; so does an untick.
  g.setCell(platform::flexcpChecked, 3, 0, platform::flexChecked);
  g.flushChanges();
  EXPECT_TRUE(window.run().rows()[3].ticked);
  g.setCell(platform::flexcpChecked, 3, 0, platform::flexUnchecked);
  g.flushChanges();
  EXPECT_FALSE(window.run().rows()[3].ticked);

  emit window.Label1()->clicked();
  EXPECT_EQ(window.Label1()->text(), QString::fromUtf8("暂停升级"));
  EXPECT_TRUE(window.psb()->isVisible());
  EXPECT_TRUE(window.Text1()->isVisible());
  ASSERT_TRUE(spinUntil([&] { return window.Label1()->text() == QString::fromUtf8("完成"); }));
  EXPECT_EQ(window.Text1()->text(), QString::fromUtf8("完成"));
  EXPECT_EQ(g.cellChecked(2, 0), platform::flexUnchecked);  // downloaded rows are unticked
  EXPECT_EQ(window.psb()->value(), window.psb()->maximum());
  EXPECT_EQ(testsupport::readFile(folder / "a.bin"), std::string(3000, 'z'));
  window.close();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(testsupport::exists(folder / kResetFile));  // finished by closing: applied at the next start
}
