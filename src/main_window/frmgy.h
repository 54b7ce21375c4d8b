#pragma once
// The splash window: one picture, and Timer1, whose first tick switches itself
// off, closes the splash and hands over to the main window.
#include <QTimer>
#include <QWidget>

#include <functional>

namespace main_window {

constexpr int kSplashMs = 2000;

class Frmgy : public QWidget {
  Q_OBJECT
 public:
  // next runs at the first tick, after the splash has closed.
  explicit Frmgy(std::function<void()> next, int intervalMs = kSplashMs);

  QTimer* Timer1() { return &timer1_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Timer1_Timer();

  QTimer timer1_;
  std::function<void()> next_;
};

}  // namespace main_window
