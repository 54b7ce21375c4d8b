#pragma once
// The group dialog Frmsoftsf ("选择更新"): one check box per offered group in
// two columns 500 twips apart, "确定" and "取消". The result is the dialog's
// Tag: the ticked names, each followed by a backslash; empty when cancelled.
// A long list scrolls inside the dialog instead of running past its buttons.
#include <QDialog>
#include <QRect>

#include <string>
#include <vector>

class QCheckBox;
class QPushButton;
class QScrollArea;
class QWidget;

namespace updater {

class Frmsoftsf : public QDialog {
  Q_OBJECT

 public:
  explicit Frmsoftsf(QWidget* parent = nullptr);

  // Fills the dialog: list holds the names separated by "|"; a name is ticked
  // when current contains it followed by "\".
  void setsf(const std::string& list, const std::string& current);

  const std::string& Tag() const { return tag_; }
  // Click on cmdqd(index): 0 "确定" takes the ticked names, 1 "取消" does not.
  void cmdqdClick(int index);

  // For tests: the check boxes and their places in twips.
  int checkCount() const { return static_cast<int>(checks_.size()); }
  QCheckBox* Check1(int i) const { return checks_.at(static_cast<size_t>(i)); }
  QRect checkTwips(int i) const { return places_.at(static_cast<size_t>(i)); }
  QPushButton* cmdqd(int i) const { return buttons_[i]; }

 private:
  void arrange();

  std::string tag_;
  std::vector<QCheckBox*> checks_;
  std::vector<QRect> places_;
  QPushButton* buttons_[2] = {nullptr, nullptr};
  QScrollArea* scroll_ = nullptr;
  QWidget* board_ = nullptr;
};

// Shows the dialog for choices and selection, modally, owned by parent, and
// returns its result text (empty: leave the selection as it is).
std::string choosegroups(QWidget* parent, const std::string& choices, const std::string& selection);

}  // namespace updater
