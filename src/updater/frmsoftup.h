#pragma once
// The updater window Frmsoftup ("Ostravel"): a fixed-size window drawn on its
// own background, with its own close and minimise images, showing the run of
// UpdaterRun: title, version and date, the update list VSFlexGrid1, the release
// notes, the progress of the current download with speed and times, and the
// action and configure buttons.
#include <QLabel>
#include <QWidget>

#include <array>

#include "platform/grid/gridview.h"
#include "updater/updater_run.h"

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

namespace updater {

// A label used as a button.
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class Frmsoftup : public QWidget, public UpdaterView {
  Q_OBJECT

 public:
  explicit Frmsoftup(QWidget* parent = nullptr);
  ~Frmsoftup() override;

  UpdaterRun& run() { return run_; }

  // The window's controls, by their names.
  QLabel* Label2(int i) const { return label2_.at(static_cast<size_t>(i)); }
  platform::GridView* VSFlexGrid1() const { return grid_; }
  QPlainTextEdit* Text2() const { return text2_; }
  QProgressBar* psb() const { return psb_; }
  QLineEdit* Text1() const { return text1_; }
  ClickLabel* Label1() const { return label1_; }
  ClickLabel* Label3() const { return label3_; }
  ClickLabel* Image1(int i) const { return image1_.at(static_cast<size_t>(i)); }

  // UpdaterView
  void refresh() override;
  void listChanged() override;
  std::string chooseGroups(const std::string& choices, const std::string& selection) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void gridChanged();

  UpdaterRun run_;
  std::array<QLabel*, 6> label2_{};
  platform::GridView* grid_ = nullptr;
  QPlainTextEdit* text2_ = nullptr;
  QProgressBar* psb_ = nullptr;
  QLineEdit* text1_ = nullptr;
  ClickLabel* label1_ = nullptr;
  ClickLabel* label3_ = nullptr;
  std::array<ClickLabel*, 2> image1_{};
  bool syncing_ = false;
  QPoint dragFrom_;
};

}  // namespace updater
