#include "updater/frmsoftsf.h"

#include <QCheckBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include "platform/screen/twips.h"

namespace updater {

namespace {

constexpr int kBoxLeft = 240, kBoxTop = 240, kBoxWidth = 1575, kBoxHeight = 255, kGap = 500;
constexpr int kButtonTop = 3480, kButtonWidth = 960, kButtonHeight = 375;
constexpr int kOkLeft = 2400, kCancelLeft = 3840;
constexpr int kDialogWidth = 5040, kDialogHeight = 4320;
// Beyond this height the boxes scroll.
constexpr int kMaxBoardHeight = 9000;

int px(int twips) { return platform::twipsToPixels(twips); }

QRect pxRect(const QRect& t) { return QRect(px(t.x()), px(t.y()), px(t.width()), px(t.height())); }

}  // namespace

Frmsoftsf::Frmsoftsf(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("选择更新"));
  setModal(true);
  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  board_ = new QWidget;
  scroll_->setWidget(board_);
  const char* captions[2] = {"确定", "取消"};
  for (int i = 0; i < 2; ++i) {
    buttons_[i] = new QPushButton(QString::fromUtf8(captions[i]), this);
    connect(buttons_[i], &QPushButton::clicked, this, [this, i] { cmdqdClick(i); });
  }
  // Check1(0) exists from the start, at its design place.
  auto* first = new QCheckBox(board_);
  checks_.push_back(first);
  places_.push_back(QRect(kBoxLeft, kBoxTop, kBoxWidth, kBoxHeight));
  arrange();
}

void Frmsoftsf::setsf(const std::string& list, const std::string& current) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t bar = list.find('|', start);
    names.push_back(list.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  bool columnFlag = false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      QRect place;
      if (!columnFlag) {
        const QRect& left = places_[i - 1];
        place = QRect(left.x() + left.width() + kGap, left.y(), kBoxWidth, kBoxHeight);
        columnFlag = true;
      } else {
        const QRect& above = places_[i - 2];
        place = QRect(above.x(), above.y() + kGap, kBoxWidth, kBoxHeight);
        columnFlag = false;
      }
      checks_.push_back(new QCheckBox(board_));
      places_.push_back(place);
    }
    QCheckBox* box = checks_[i];
    box->setText(QString::fromStdString(names[i]));
    box->setToolTip(box->text());
    box->setChecked(current.find(names[i] + "\\") != std::string::npos);
    box->setVisible(true);
  }
  arrange();
}

void Frmsoftsf::arrange() {
  int bottom = 0;
  for (size_t i = 0; i < checks_.size(); ++i) {
    checks_[i]->setGeometry(pxRect(places_[i]));
    bottom = std::max(bottom, places_[i].bottom());
  }
  // The boxes' board takes what it needs; the dialog grows with it down to a
  // limit and scrolls beyond that.
  const int boardTwips = bottom + kBoxTop;
  const int shownTwips = std::min(std::max(boardTwips, kButtonTop - 120), kMaxBoardHeight);
  const int extra = shownTwips - (kButtonTop - 120);
  board_->resize(px(kDialogWidth), px(boardTwips));
  scroll_->setGeometry(0, 0, px(kDialogWidth), px(shownTwips));
  buttons_[0]->setGeometry(pxRect(QRect(kOkLeft, kButtonTop + extra, kButtonWidth, kButtonHeight)));
  buttons_[1]->setGeometry(pxRect(QRect(kCancelLeft, kButtonTop + extra, kButtonWidth, kButtonHeight)));
  setFixedSize(px(kDialogWidth), px(kDialogHeight + extra));
}

void Frmsoftsf::cmdqdClick(int index) {
  if (index == 0) {
    std::string result;
    for (QCheckBox* box : checks_)
      if (box->isChecked() && !box->text().isEmpty()) result += box->text().toStdString() + "\\";
    tag_ = result;
  }
  hide();
  done(index == 0 ? QDialog::Accepted : QDialog::Rejected);
}

std::string choosegroups(QWidget* parent, const std::string& choices, const std::string& selection) {
  Frmsoftsf dialog(parent);
  dialog.setsf(choices, selection);
  dialog.exec();
  return dialog.Tag();
}

}  // namespace updater
