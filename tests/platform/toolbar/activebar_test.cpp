// The toolbar control: bands and tools by name and position, captions, combo
// lists and texts, hosted controls, the client area and the two events.
#include "platform/toolbar/activebar.h"

#include <gtest/gtest.h>

#include "support/widgets_app.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>

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
