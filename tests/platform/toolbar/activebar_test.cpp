// The toolbar control: bands and tools by name and position, captions, combo
// lists and texts, hosted controls, the client area and the two events.
#include "platform/toolbar/activebar.h"

#include <gtest/gtest.h>

#include "support/widgets_app.h"

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

using namespace platform;

namespace {
QApplication& app() { return testsupport::widgetsApp(); }
}  // namespace

TEST(ActiveBar, FindsBandsAndToolsAndReportsClicksAndChoices) {
  app();
  ActiveBar bar;
  Band* strip = bar.addBand("Band1", BandKind::Strip, BandDock::Top, "查找");
  Tool* combo = strip->addTool("comfind", ToolKind::Combo, "查找范围");
  Tool* button = strip->addTool("Toolfind", ToolKind::Button, "查找");
  Band* pane = bar.addBand("Band2", BandKind::Pane, BandDock::Left);
  Band* child = pane->addChildBand("ChildBand1", "目录导航");
  Tool* host = child->addTool("", ToolKind::Custom);

  EXPECT_EQ(bar.Bands("Band1"), strip);
  EXPECT_EQ(bar.Tools("Toolfind"), button);
  EXPECT_EQ(pane->ChildBands(0)->Tools(0), host);
  EXPECT_THROW(bar.Bands("band1"), std::out_of_range) << "names are exact";
  EXPECT_THROW(bar.Tools("nothing"), std::out_of_range);
  EXPECT_THROW(pane->ChildBands(1), std::out_of_range);
  EXPECT_THROW(strip->Tools(2), std::out_of_range);
  EXPECT_THROW(button->AddItem("x"), std::logic_error);

  button->setCaption("在线咨询");
  EXPECT_EQ(button->caption(), "在线咨询");
  combo->AddItem("产品名称");
  combo->AddItem("生产厂家");
  EXPECT_EQ(combo->items(), (std::vector<std::string>{"产品名称", "生产厂家"}));
  combo->setText("生产厂家");
  EXPECT_EQ(combo->text(), "生产厂家");
  combo->setText("别的");
  EXPECT_EQ(combo->text(), "") << "a text not in the list selects nothing";

  auto* grid = new QLabel("grid");
  host->setCustom(grid);
  EXPECT_EQ(host->custom(), grid);
  EXPECT_TRUE(bar.isAncestorOf(grid));
  auto* client = new QLabel("page");
  bar.setClientAreaControl(client);
  EXPECT_EQ(bar.clientAreaControl(), client);
  bar.RecalcLayout();

  std::vector<std::string> clicks, choices;
  QObject::connect(&bar, &ActiveBar::ToolClick, [&](Tool* t) { clicks.push_back(t->name()); });
  QObject::connect(&bar, &ActiveBar::ComboSelChange, [&](Tool* t) { choices.push_back(t->text()); });
  button->click();
  combo->choose("产品名称");
  combo->setText("生产厂家");  // set by the program: no event
  EXPECT_EQ(clicks, std::vector<std::string>{"Toolfind"});
  EXPECT_EQ(choices, std::vector<std::string>{"产品名称"});
  EXPECT_THROW(combo->choose("没有"), std::out_of_range);

  bar.resize(800, 600);
  bar.show();
  QApplication::processEvents();
  EXPECT_TRUE(grid->isVisible());
  EXPECT_TRUE(client->isVisible());
  EXPECT_GT(client->width(), 0);
  EXPECT_LT(client->width(), 800) << "the pane takes its side";
}

// What each kind of tool shows follows what it is given, and the caption in
// front of a combo or text box with it.
TEST(ActiveBar, EachToolShowsItsTextAndCaption) {
  app();
  ActiveBar bar;
  Band* strip = bar.addBand("Band1", BandKind::Strip, BandDock::Top, "工具");
  Tool* label = strip->addTool("lblunit", ToolKind::Label, "单位：");
  Tool* box = strip->addTool("txtfind", ToolKind::TextBox, "名称");
  Tool* combo = strip->addTool("comfind", ToolKind::Combo, "范围");
  Tool* button = strip->addTool("Toolfind", ToolKind::Button, "查找");

  auto* edit = qobject_cast<QLineEdit*>(box->widget());
  auto* list = qobject_cast<QComboBox*>(combo->widget());
  auto* knob = qobject_cast<QToolButton*>(button->widget());
  auto* plate = qobject_cast<QToolButton*>(label->widget());
  ASSERT_TRUE(edit && list && knob && plate);
  EXPECT_EQ(knob->text(), "查找");
  EXPECT_EQ(plate->text(), "单位：");

  box->setText("钢筋");
  EXPECT_EQ(edit->text(), "钢筋");
  edit->setText("水泥");  // typed by the user
  EXPECT_EQ(box->text(), "水泥");
  EXPECT_EQ(box->caption(), "名称") << "a text box's text is not its caption";

  // A button's or a label's text is its caption, shown at once.
  button->setText("停止");
  EXPECT_EQ(button->caption(), "停止");
  EXPECT_EQ(button->text(), "停止");
  EXPECT_EQ(knob->text(), "停止");
  label->setCaption("单价：");
  EXPECT_EQ(plate->text(), "单价：");

  // The caption in front of a combo or a text box is that tool's.
  const auto captions = [&] {
    std::vector<std::string> out;
    for (QLabel* l : strip->strip()->findChildren<QLabel*>()) out.push_back(l->text().trimmed().toStdString());
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(captions(), (std::vector<std::string>{"名称", "范围"}));
  box->setCaption("厂家");
  combo->setCaption("查找范围");
  EXPECT_EQ(captions(), (std::vector<std::string>{"厂家", "查找范围"}));

  // A text not in a combo's list is shown as it is, selecting nothing.
  combo->AddItem("产品名称");
  combo->setText("别的");
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(list->placeholderText(), "别的");
  combo->setText("产品名称");
  EXPECT_EQ(list->currentIndex(), 0);

  // A tool without a button of its own still reports a click.
  std::vector<std::string> clicks;
  QObject::connect(&bar, &ActiveBar::ToolClick, [&](Tool* t) { clicks.push_back(t->name()); });
  box->click();
  knob->click();
  EXPECT_EQ(clicks, (std::vector<std::string>{"txtfind", "Toolfind"}));
}

TEST(ActiveBar, BandCaptionsAndToolsInTheWrongBandAreRefused) {
  app();
  ActiveBar bar;
  Band* strip = bar.addBand("Band1", BandKind::Strip, BandDock::Top, "查找");
  Band* pane = bar.addBand("Band2", BandKind::Pane, BandDock::Left, "导航");
  Band* plain = bar.addBand("Band3", BandKind::Pane, BandDock::Right);
  Band* first = pane->addChildBand("ChildBand1", "目录");
  Band* second = pane->addChildBand("ChildBand2", "收藏");
  Tool* button = strip->addTool("Toolfind", ToolKind::Button, "查找");

  strip->setCaption("查询");
  EXPECT_EQ(strip->caption(), "查询");
  EXPECT_EQ(strip->strip()->windowTitle(), "查询");
  pane->setCaption("导航栏");
  EXPECT_EQ(pane->pane()->windowTitle(), "导航栏");
  auto* tabs = qobject_cast<QTabWidget*>(pane->pane()->widget());
  ASSERT_TRUE(tabs);
  second->setCaption("最近");
  first->setCaption("分类");
  EXPECT_EQ(tabs->tabText(0), "分类");
  EXPECT_EQ(tabs->tabText(1), "最近");
  // A pane without a caption shows no title bar.
  EXPECT_EQ(pane->pane()->titleBarWidget(), nullptr);
  EXPECT_NE(plain->pane()->titleBarWidget(), nullptr);

  // Tools only where they can live; a refused tool is not found afterwards.
  EXPECT_THROW(strip->addTool("hosted", ToolKind::Custom), std::logic_error);
  EXPECT_THROW(pane->addTool("knob", ToolKind::Button), std::logic_error);
  EXPECT_THROW(strip->addChildBand("child", "子"), std::logic_error);
  EXPECT_THROW(bar.Tools("hosted"), std::out_of_range);
  EXPECT_THROW(bar.Tools("knob"), std::out_of_range);
  EXPECT_EQ(strip->toolCount(), 1);
  EXPECT_EQ(pane->toolCount(), 0);
  QLabel stray("x");
  EXPECT_THROW(button->setCustom(&stray), std::logic_error);
  EXPECT_THROW(button->choose("x"), std::logic_error);
  // Hosting tools have no name: no name finds them.
  first->addTool("", ToolKind::Custom);
  EXPECT_THROW(bar.Tools(""), std::out_of_range);
}

// A hosted control or the client area can be replaced; the one replaced is
// hidden and stays the caller's (the window switches between a page and a grid).
TEST(ActiveBar, ReplacedControlsAreHiddenAndKept) {
  app();
  ActiveBar bar;
  Band* pane = bar.addBand("Band2", BandKind::Pane, BandDock::Left, "导航");
  Tool* host = pane->addChildBand("ChildBand1", "目录")->addTool("", ToolKind::Custom);
  auto* tree = new QLabel("tree");
  auto* list = new QLabel("list");
  host->setCustom(tree);
  host->setCustom(list);
  EXPECT_EQ(host->custom(), list);
  EXPECT_EQ(host->widget(), list);
  QLayout* layout = list->parentWidget()->layout();
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->indexOf(tree), -1);
  EXPECT_GE(layout->indexOf(list), 0);

  QPointer<QLabel> page = new QLabel("page");
  QPointer<QLabel> grid = new QLabel("grid");
  bar.setClientAreaControl(page);
  bar.setClientAreaControl(grid);
  bar.setClientAreaControl(grid);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // a deletion put off would happen here
  ASSERT_TRUE(page) << "the replaced client control was deleted";
  EXPECT_EQ(bar.clientAreaControl(), grid.data());
  bar.resize(800, 600);
  bar.show();
  QApplication::processEvents();
  EXPECT_FALSE(tree->isVisible());
  EXPECT_TRUE(list->isVisible());
  EXPECT_FALSE(page->isVisible());
  EXPECT_TRUE(grid->isVisible());
  bar.setClientAreaControl(page);
  QApplication::processEvents();
  EXPECT_TRUE(page->isVisible());
  EXPECT_FALSE(grid->isVisible());
  ASSERT_TRUE(grid);
  host->setCustom(nullptr);
  EXPECT_EQ(host->custom(), nullptr);
  EXPECT_FALSE(list->isVisible());
  delete tree;
  delete list;
  delete grid;
}

// Bands go to the side they are given, a strip may start a row of its own,
// and a pane's preferred extent holds until the user resizes it.
TEST(ActiveBar, BandsDockOnTheirSideWithTheirExtent) {
  app();
  ActiveBar bar;
  Band* top = bar.addBand("PTop", BandKind::Pane, BandDock::Top, "上");
  Band* left = bar.addBand("PLeft", BandKind::Pane, BandDock::Left, "左");
  Band* right = bar.addBand("PRight", BandKind::Pane, BandDock::Right, "右");
  Band* bottom = bar.addBand("PBottom", BandKind::Pane, BandDock::Bottom, "下");
  EXPECT_EQ(bar.dockWidgetArea(top->pane()), Qt::TopDockWidgetArea);
  EXPECT_EQ(bar.dockWidgetArea(left->pane()), Qt::LeftDockWidgetArea);
  EXPECT_EQ(bar.dockWidgetArea(right->pane()), Qt::RightDockWidgetArea);
  EXPECT_EQ(bar.dockWidgetArea(bottom->pane()), Qt::BottomDockWidgetArea);
  Band* row1 = bar.addBand("S1", BandKind::Strip, BandDock::Top);
  Band* row2 = bar.addBand("S2", BandKind::Strip, BandDock::Top, "", true);
  Band* same = bar.addBand("S3", BandKind::Strip, BandDock::Top);
  Band* sideL = bar.addBand("S4", BandKind::Strip, BandDock::Left);
  Band* sideR = bar.addBand("S5", BandKind::Strip, BandDock::Right);
  Band* under = bar.addBand("S6", BandKind::Strip, BandDock::Bottom);
  for (Band* b : {row1, row2, same}) b->addTool(b->name() + "t", ToolKind::Button, b->name());
  EXPECT_EQ(bar.toolBarArea(row1->strip()), Qt::TopToolBarArea);
  EXPECT_EQ(bar.toolBarArea(sideL->strip()), Qt::LeftToolBarArea);
  EXPECT_EQ(bar.toolBarArea(sideR->strip()), Qt::RightToolBarArea);
  EXPECT_EQ(bar.toolBarArea(under->strip()), Qt::BottomToolBarArea);
  EXPECT_FALSE(bar.toolBarBreak(row1->strip()));
  EXPECT_TRUE(bar.toolBarBreak(row2->strip()));
  EXPECT_FALSE(bar.toolBarBreak(same->strip()));

  left->setDockExtent(260);
  bottom->setDockExtent(130);
  bar.setClientAreaControl(new QLabel("client"));
  bar.resize(1200, 800);
  bar.show();
  QApplication::processEvents();
  EXPECT_GT(row2->strip()->y(), row1->strip()->y()) << "a strip that breaks goes under";
  EXPECT_EQ(row2->strip()->y(), same->strip()->y());
  EXPECT_NEAR(left->pane()->width(), 260, 8);
  EXPECT_NEAR(bottom->pane()->height(), 130, 8);
  // The user's resizing wins over the extent from then on.
  bar.resizeDocks({left->pane()}, {400}, Qt::Horizontal);
  QApplication::processEvents();
  const int resized = left->pane()->width();
  EXPECT_GT(resized, 300);
  bar.RecalcLayout();
  QApplication::processEvents();
  EXPECT_EQ(left->pane()->width(), resized);
}
