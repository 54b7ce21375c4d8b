// Selecting rows in a grid view and copying them: the clicks still move the
// current row and raise Click() one by one, and the clipboard gets the rows
// as the grid shows them.
#include "platform/grid/gridview.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include "support/widgets_app.h"

using namespace platform;

namespace {

QApplication& app() { return testsupport::widgetsApp(); }

// 名称 | 价格-含税 价格-除税, a price format, the hidden id column, six rows.
void fill(VSFlexGrid& g) {
  g.setFixedRows(3);
  g.setFixedCols(1);
  g.setRows(3);
  g.setCols(5);
  const char* upper[] = {" ", "名称", "价格", "价格", ""};
  const char* lower[] = {" ", "名称", "含税", "除税", ""};
  for (int c = 0; c < 5; ++c) {
    g.setTextMatrix(0, c, upper[c]);
    g.setTextMatrix(1, c, lower[c]);
    g.setMergeCol(c, true);
    g.setColWidth(c, 1200);
  }
  g.setMergeRow(0, true);
  g.setMergeRow(1, true);
  g.setRowHidden(2, true);
  g.setColHidden(4, true);
  g.setColFormat(2, "#,##0.00");
  g.setColFormat(3, "0.00");
  for (int i = 0; i < 6; ++i) {
    g.setRows(g.Rows() + 1);
    const int r = g.Rows() - 1;
    g.setTextMatrix(r, 1, "钢材<" + std::to_string(i) + ">\t甲");
    g.setTextMatrix(r, 2, std::to_string(1000 + i) + ".5");
    g.setTextMatrix(r, 3, std::to_string(i) + ".25");
    g.setTextMatrix(r, 4, std::to_string(100 + i));
  }
  g.flushChanges();
}

struct View {
  QApplication& application = app();
  GridView view;
  int clicks = 0;
  View() {
    view.resize(600, 400);
    fill(view.grid());
    view.show();
    QObject::connect(&view.grid(), &VSFlexGrid::Click, [this] { ++clicks; });
  }
  void click(int row, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, mods, view.cellRect(row, 1).center());
  }
};

}  // namespace

TEST(GridViewSelection, ClicksWithShiftAndCtrlSelectAndStillRaiseOneClickEach) {
  View v;
  v.click(4);
  EXPECT_EQ(v.view.grid().Row(), 4);
  EXPECT_EQ(v.clicks, 1);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{4}));
  v.click(7, Qt::ShiftModifier);
  EXPECT_EQ(v.view.grid().Row(), 7);
  EXPECT_EQ(v.clicks, 2);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{4, 5, 6, 7}));
  v.click(5, Qt::ControlModifier);
  EXPECT_EQ(v.clicks, 3);
  EXPECT_EQ(v.view.grid().Row(), 5);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{4, 6, 7}));
  v.click(3, Qt::ControlModifier);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{3, 4, 6, 7}));
  if (const QByteArray dir = qgetenv("VELMORA_SCREENSHOT_DIR"); !dir.isEmpty())
    v.view.grab().save(QString::fromLocal8Bit(dir) + "/grid-selection.png");
  // Shift extends from the last clicked row.
  v.click(5, Qt::ShiftModifier);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{3, 4, 5}));
  // A plain click selects its row alone; a header click moves nothing.
  v.click(8);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{8}));
  const int before = v.clicks;
  QTest::mouseClick(v.view.viewport(), Qt::LeftButton, Qt::ShiftModifier, v.view.cellRect(0, 1).center());
  EXPECT_EQ(v.clicks, before);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{8}));
  // Shift with the arrow keys extends; Ctrl+A takes every shown row.
  QTest::keyClick(v.view.viewport(), Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{7, 8}));
  EXPECT_EQ(v.view.grid().Row(), 7);
  QTest::keyClick(&v.view, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{3, 4, 5, 6, 7, 8}));
  // A fill renumbers the rows: the selection goes, the current row stands for it.
  v.view.grid().setRows(5);
  v.view.grid().setRow(4);
  v.view.grid().flushChanges();
  EXPECT_EQ(v.view.selectedRows(), (std::vector<int>{4}));
}

TEST(GridViewCopy, CtrlCPutsTheSelectedRowsAsShownWithTitlesAsTextAndHtml) {
  View v;
  v.click(3);
  v.click(5, Qt::ControlModifier);
  QApplication::clipboard()->clear();
  QTest::keyClick(&v.view, Qt::Key_C, Qt::ControlModifier);
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_EQ(mime->text().toStdString(),
            "名称\t价格-含税\t价格-除税\n"
            "钢材<0> 甲\t1,000.50\t0.25\n"
            "钢材<2> 甲\t1,002.50\t2.25\n");
  const std::string html = mime->html().toStdString();
  EXPECT_NE(html.find("<tr><th rowspan=\"2\">名称</th><th colspan=\"2\">价格</th></tr>\n<tr><th>含税</th><th>除税</th></tr>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<tr><td>钢材&lt;0&gt;\t甲</td><td>1,000.50</td><td>0.25</td></tr>"), std::string::npos) << html;
  EXPECT_EQ(html.find("<td>100</td>"), std::string::npos) << "the hidden id column stays out";

  // The context menu's 复制 copies the same; with nothing selected, the current row.
  QApplication::clipboard()->clear();
  v.view.selectRows({});
  v.view.grid().setRow(8);
  v.view.copyAction()->trigger();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "名称\t价格-含税\t价格-除税\n钢材<5> 甲\t1,005.50\t5.25\n");
  EXPECT_EQ(v.view.copyAction()->text().toStdString(), "复制");
}
