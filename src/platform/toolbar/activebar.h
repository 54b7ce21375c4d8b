#pragma once
// The toolbar control of the main window. A toolbar holds named bands; a band
// is either a strip of tools (buttons, label-like buttons, combos, text boxes)
// or a docked pane of child bands, each child band hosting one control in its
// first tool. The control left over in the middle is the client area.
//
// Underneath it is a QMainWindow used as a child widget: strips are Qt
// toolbars, panes are dock widgets, so the user can resize the panes with the
// mouse and the arrangement follows the window when it is resized.
//
// Lookups by name or position throw std::out_of_range when nothing answers to
// them, so that a caller's skip-on-error policy abandons the statement.
#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QTabWidget;
class QToolBar;

namespace platform {

class ActiveBar;
class Band;

enum class ToolKind { Button, Label, Combo, TextBox, Custom };
enum class BandKind { Strip, Pane };
enum class BandDock { Top, Left, Right, Bottom };

class Tool {
 public:
  const std::string& name() const { return name_; }
  ToolKind kind() const { return kind_; }

  std::string caption() const;
  void setCaption(const std::string& caption);

  // Combo tools: appends an entry to the list.
  void AddItem(const std::string& text);
  std::vector<std::string> items() const;
  // Combo: the shown text (setting it to a listed entry selects that entry).
  // Text box: its text.
  std::string text() const;
  void setText(const std::string& text);

  // Custom tools: the hosted control (the tool takes it into its band).
  void setCustom(QWidget* control);
  QWidget* custom() const { return custom_; }

  // What the user does, for tests and scripted runs: a click on a button, or
  // the choice of a combo entry; both report to the toolbar like the user's.
  void click();
  void choose(const std::string& entry);

  QWidget* widget() const;  // the control that shows the tool, if any

 private:
  friend class ActiveBar;
  friend class Band;
  Tool(ActiveBar* bar, Band* band, std::string name, ToolKind kind);

  ActiveBar* bar_;
  Band* band_;
  std::string name_;
  ToolKind kind_;
  std::string caption_;
  QAction* action_ = nullptr;       // button, label
  QLabel* label_ = nullptr;         // caption in front of a combo or text box
  QComboBox* combo_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QWidget* custom_ = nullptr;
};

class Band {
 public:
  const std::string& name() const { return name_; }
  BandKind kind() const { return kind_; }
  std::string caption() const { return caption_; }
  void setCaption(const std::string& caption);

  // Design-time building.
  Tool* addTool(const std::string& name, ToolKind kind, const std::string& caption = "");
  Band* addChildBand(const std::string& name, const std::string& caption);
  // Preferred size of a pane across its dock side, in pixels; applied by RecalcLayout.
  void setDockExtent(int pixels) { extent_ = pixels; }

  Tool* Tools(int index) const;       // by position
  int toolCount() const { return static_cast<int>(tools_.size()); }
  Band* ChildBands(int index) const;  // by position
  int childBandCount() const { return static_cast<int>(children_.size()); }

  QToolBar* strip() const { return strip_; }
  QDockWidget* pane() const { return dock_; }

 private:
  friend class ActiveBar;
  friend class Tool;
  Band(ActiveBar* bar, Band* parent, std::string name, BandKind kind, std::string caption);

  ActiveBar* bar_;
  Band* parent_;
  std::string name_;
  BandKind kind_;
  std::string caption_;
  std::vector<Tool*> tools_;
  std::vector<std::unique_ptr<Band>> children_;
  QToolBar* strip_ = nullptr;     // Strip bands
  QDockWidget* dock_ = nullptr;   // Pane bands
  QTabWidget* tabs_ = nullptr;    // Pane bands: one page per child band
  QWidget* page_ = nullptr;       // child bands: their page in the parent's tabs
  int extent_ = 0;
};

class ActiveBar : public QMainWindow {
  Q_OBJECT
 public:
  explicit ActiveBar(QWidget* parent = nullptr);
  ~ActiveBar() override;

  // Design-time building. A strip starting a new row (breakBefore) goes
  // under the strips added before it.
  Band* addBand(const std::string& name, BandKind kind, BandDock dock, const std::string& caption = "",
                bool breakBefore = false);

  Band* Bands(const std::string& name) const;  // by name
  Tool* Tools(const std::string& name) const;  // toolbar-wide, by name
  int bandCount() const { return static_cast<int>(bands_.size()); }

  // The control that fills the client area.
  void setClientAreaControl(QWidget* control);
  QWidget* clientAreaControl() const { return centralWidget(); }

  // Arranges bands and client area again (applies pending pane extents).
  void RecalcLayout();

 signals:
  void ToolClick(platform::Tool* tool);
  void ComboSelChange(platform::Tool* tool);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  friend class Band;
  friend class Tool;
  Tool* makeTool(Band* band, const std::string& name, ToolKind kind);

  std::vector<std::unique_ptr<Band>> bands_;
  std::vector<std::unique_ptr<Tool>> tools_;
};

}  // namespace platform
