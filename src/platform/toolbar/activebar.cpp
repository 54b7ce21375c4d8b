#include "platform/toolbar/activebar.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <stdexcept>

namespace platform {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

Qt::DockWidgetArea dockArea(BandDock d) {
  switch (d) {
    case BandDock::Left: return Qt::LeftDockWidgetArea;
    case BandDock::Right: return Qt::RightDockWidgetArea;
    case BandDock::Bottom: return Qt::BottomDockWidgetArea;
    case BandDock::Top: break;
  }
  return Qt::TopDockWidgetArea;
}

Qt::ToolBarArea stripArea(BandDock d) {
  switch (d) {
    case BandDock::Left: return Qt::LeftToolBarArea;
    case BandDock::Right: return Qt::RightToolBarArea;
    case BandDock::Bottom: return Qt::BottomToolBarArea;
    case BandDock::Top: break;
  }
  return Qt::TopToolBarArea;
}
}  // namespace

// ---- Tool ----

Tool::Tool(ActiveBar* bar, Band* band, std::string name, ToolKind kind)
    : bar_(bar), band_(band), name_(std::move(name)), kind_(kind) {}

std::string Tool::caption() const { return caption_; }

void Tool::setCaption(const std::string& caption) {
  caption_ = caption;
  if (action_) action_->setText(q(caption));
  if (label_) label_->setText(q(caption));
}

void Tool::AddItem(const std::string& text) {
  if (!combo_) throw std::logic_error("tool " + name_ + " has no list");
  combo_->addItem(q(text));
}

std::vector<std::string> Tool::items() const {
  std::vector<std::string> out;
  if (combo_)
    for (int i = 0; i < combo_->count(); ++i) out.push_back(combo_->itemText(i).toStdString());
  return out;
}

std::string Tool::text() const {
  if (combo_) return combo_->currentText().toStdString();
  if (edit_) return edit_->text().toStdString();
  return caption_;
}

void Tool::setText(const std::string& text) {
  if (combo_) {
    int i = combo_->findText(q(text), Qt::MatchExactly);
    if (i >= 0) {
      combo_->setCurrentIndex(i);
    } else {
      // A text that is not in the list is shown as it is, selecting nothing.
      combo_->setCurrentIndex(-1);
      combo_->setPlaceholderText(q(text));
    }
    return;
  }
  if (edit_) {
    edit_->setText(q(text));
    return;
  }
  setCaption(text);
}

void Tool::setCustom(QWidget* control) {
  if (kind_ != ToolKind::Custom) throw std::logic_error("tool " + name_ + " hosts no control");
  if (!band_->page_) throw std::logic_error("custom tools live in child bands");
  QLayout* layout = band_->page_->layout();
  if (custom_) {
    layout->removeWidget(custom_);
    custom_->hide();
  }
  custom_ = control;
  if (control) {
    control->setParent(band_->page_);
    layout->addWidget(control);
    control->show();
  }
}

void Tool::click() {
  if (action_) {
    action_->trigger();
    return;
  }
  emit bar_->ToolClick(this);
}

void Tool::choose(const std::string& entry) {
  if (!combo_) throw std::logic_error("tool " + name_ + " has no list");
  int i = combo_->findText(q(entry), Qt::MatchExactly);
  if (i < 0) throw std::out_of_range("no entry " + entry + " in " + name_);
  combo_->setCurrentIndex(i);
  emit combo_->activated(i);
}

QWidget* Tool::widget() const {
  if (combo_) return combo_;
  if (edit_) return edit_;
  if (custom_) return custom_;
  if (action_ && band_->strip_) return band_->strip_->widgetForAction(action_);
  return nullptr;
}

// ---- Band ----

Band::Band(ActiveBar* bar, Band* parent, std::string name, BandKind kind, std::string caption)
    : bar_(bar), parent_(parent), name_(std::move(name)), kind_(kind), caption_(std::move(caption)) {}

void Band::setCaption(const std::string& caption) {
  caption_ = caption;
  if (strip_) strip_->setWindowTitle(q(caption));
  if (dock_) dock_->setWindowTitle(q(caption));
  if (page_ && parent_ && parent_->tabs_) {
    int i = parent_->tabs_->indexOf(page_);
    if (i >= 0) parent_->tabs_->setTabText(i, q(caption));
  }
}

Tool* Band::addTool(const std::string& name, ToolKind kind, const std::string& caption) {
  // Refused before the tool is made: a tool that was refused answers to no name.
  if (kind == ToolKind::Custom && !page_) throw std::logic_error("custom tools live in child bands");
  if (kind != ToolKind::Custom && !strip_) throw std::logic_error("band " + name_ + " is not a strip");
  Tool* tool = bar_->makeTool(this, name, kind);
  tool->caption_ = caption;
  if (kind == ToolKind::Custom) {
    tools_.push_back(tool);
    return tool;
  }
  switch (kind) {
    case ToolKind::Button:
    case ToolKind::Label: {
      tool->action_ = strip_->addAction(q(caption));
      tool->action_->setObjectName(q(name));
      if (kind == ToolKind::Label) {
        if (auto* w = strip_->widgetForAction(tool->action_)) w->setStyleSheet("QToolButton { border: none; }");
      }
      QObject::connect(tool->action_, &QAction::triggered, bar_, [bar = bar_, tool] { emit bar->ToolClick(tool); });
      break;
    }
    case ToolKind::Combo: {
      tool->label_ = new QLabel(q(caption) + " ", strip_);
      strip_->addWidget(tool->label_);
      tool->combo_ = new QComboBox(strip_);
      tool->combo_->setObjectName(q(name));
      tool->combo_->setMinimumContentsLength(8);
      tool->combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
      strip_->addWidget(tool->combo_);
      QObject::connect(tool->combo_, &QComboBox::activated, bar_, [bar = bar_, tool](int) {
        emit bar->ComboSelChange(tool);
      });
      break;
    }
    case ToolKind::TextBox: {
      tool->label_ = new QLabel(q(caption) + " ", strip_);
      strip_->addWidget(tool->label_);
      tool->edit_ = new QLineEdit(strip_);
      tool->edit_->setObjectName(q(name));
      tool->edit_->setMinimumWidth(160);
      tool->edit_->setMaximumWidth(260);
      strip_->addWidget(tool->edit_);
      break;
    }
    case ToolKind::Custom: break;
  }
  tools_.push_back(tool);
  return tool;
}

Band* Band::addChildBand(const std::string& name, const std::string& caption) {
  if (!tabs_) throw std::logic_error("band " + name_ + " holds no child bands");
  auto child = std::unique_ptr<Band>(new Band(bar_, this, name, BandKind::Pane, caption));
  child->page_ = new QWidget(tabs_);
  auto* layout = new QVBoxLayout(child->page_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  tabs_->addTab(child->page_, q(caption));
  children_.push_back(std::move(child));
  return children_.back().get();
}

Tool* Band::Tools(int index) const {
  if (index < 0 || index >= static_cast<int>(tools_.size()))
    throw std::out_of_range("band " + name_ + " has no tool " + std::to_string(index));
  return tools_[index];
}

Band* Band::ChildBands(int index) const {
  if (index < 0 || index >= static_cast<int>(children_.size()))
    throw std::out_of_range("band " + name_ + " has no child band " + std::to_string(index));
  return children_[index].get();
}

// ---- ActiveBar ----

ActiveBar::ActiveBar(QWidget* parent) : QMainWindow(parent) {
  setWindowFlags(Qt::Widget);
  setDockOptions(QMainWindow::AnimatedDocks);
  setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
  setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
}

ActiveBar::~ActiveBar() = default;

Tool* ActiveBar::makeTool(Band* band, const std::string& name, ToolKind kind) {
  tools_.push_back(std::unique_ptr<Tool>(new Tool(this, band, name, kind)));
  return tools_.back().get();
}

Band* ActiveBar::addBand(const std::string& name, BandKind kind, BandDock dock, const std::string& caption,
                         bool breakBefore) {
  auto band = std::unique_ptr<Band>(new Band(this, nullptr, name, kind, caption));
  if (kind == BandKind::Strip) {
    band->strip_ = new QToolBar(q(caption), this);
    band->strip_->setObjectName(q(name));
    band->strip_->setMovable(false);
    band->strip_->setFloatable(false);
    band->strip_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    if (breakBefore) addToolBarBreak(stripArea(dock));
    addToolBar(stripArea(dock), band->strip_);
  } else {
    band->dock_ = new QDockWidget(q(caption), this);
    band->dock_->setObjectName(q(name));
    band->dock_->setFeatures(QDockWidget::NoDockWidgetFeatures);
    band->tabs_ = new QTabWidget(band->dock_);
    band->tabs_->setTabBarAutoHide(true);
    band->tabs_->setDocumentMode(true);
    band->dock_->setWidget(band->tabs_);
    if (caption.empty()) band->dock_->setTitleBarWidget(new QWidget(band->dock_));
    addDockWidget(dockArea(dock), band->dock_);
  }
  bands_.push_back(std::move(band));
  return bands_.back().get();
}

Band* ActiveBar::Bands(const std::string& name) const {
  for (const auto& b : bands_)
    if (b->name_ == name) return b.get();
  throw std::out_of_range("no band named " + name);
}

Tool* ActiveBar::Tools(const std::string& name) const {
  for (const auto& t : tools_)
    if (!t->name_.empty() && t->name_ == name) return t.get();
  throw std::out_of_range("no tool named " + name);
}

void ActiveBar::setClientAreaControl(QWidget* control) {
  if (QWidget* old = centralWidget(); old && old != control) {
    takeCentralWidget();
    old->hide();
  }
  if (control) {
    setCentralWidget(control);
    control->show();
  }
}

void ActiveBar::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  RecalcLayout();
}

void ActiveBar::RecalcLayout() {
  for (const auto& b : bands_) {
    if (!b->dock_ || b->extent_ <= 0) continue;
    Qt::DockWidgetArea area = dockWidgetArea(b->dock_);
    bool across = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
    resizeDocks({b->dock_}, {b->extent_}, across ? Qt::Horizontal : Qt::Vertical);
    if (isVisible()) b->extent_ = 0;  // from here on the user's resizing wins
  }
  if (layout()) {
    layout()->invalidate();
    layout()->activate();
  }
  updateGeometry();
}

}  // namespace platform
