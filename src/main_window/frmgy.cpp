#include "main_window/frmgy.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace main_window {

Frmgy::Frmgy(std::function<void()> next, int intervalMs, std::function<void()> closedEarly)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      next_(std::move(next)),
      closedEarly_(std::move(closedEarly)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(520, 300);
  if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
  timer1_.setInterval(intervalMs);
  connect(&timer1_, &QTimer::timeout, this, &Frmgy::Timer1_Timer);
  timer1_.start();
}

void Frmgy::endProgram() { QCoreApplication::exit(0); }

void Frmgy::setVisible(bool visible) {
  inSetVisible_ = true;
  QWidget::setVisible(visible);
  inSetVisible_ = false;
  // The waiting tick comes back through the event loop, after the caller's show().
  if (tickWaiting_) {
    tickWaiting_ = false;
    if (next_) QTimer::singleShot(0, this, &Frmgy::Timer1_Timer);
  }
}

void Frmgy::Timer1_Timer() {
  if (inSetVisible_) {
    timer1_.stop();
    tickWaiting_ = true;
    return;
  }
  timer1_.stop();
  auto next = std::move(next_);
  next_ = nullptr;
  closedEarly_ = nullptr;
  close();
  if (next) next();
}

void Frmgy::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  // Closed before the hand-over: no main window will come.
  timer1_.stop();
  next_ = nullptr;
  if (auto closedEarly = std::move(closedEarly_)) {
    closedEarly_ = nullptr;
    closedEarly();
  }
}

void Frmgy::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, width(), height());
  g.setColorAt(0, QColor(0x1d, 0x4e, 0x89));
  g.setColorAt(1, QColor(0x0b, 0x2a, 0x4a));
  p.fillRect(rect(), g);
  p.setPen(QColor(255, 255, 255, 40));
  for (int x = -height(); x < width(); x += 18) p.drawLine(x, height(), x + height(), 0);
  p.setPen(Qt::white);
  QFont title = font();
  title.setPointSize(30);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(0, 60, width(), 70), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Velmora"));
  QFont sub = font();
  sub.setPointSize(14);
  p.setFont(sub);
  p.drawText(QRect(0, 140, width(), 40), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("建设工程材料指导价格查询"));
  QFont small = font();
  small.setPointSize(9);
  p.setFont(small);
  p.setPen(QColor(255, 255, 255, 170));
  p.drawText(QRect(0, height() - 40, width(), 24), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("正在启动……"));
  p.setPen(QColor(255, 255, 255, 90));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace main_window
