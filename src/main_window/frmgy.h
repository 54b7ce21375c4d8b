#pragma once
// The splash window: one picture, and Timer1, whose first tick switches itself
// off, closes the splash and hands over to the main window. Until then the
// splash is the program's only window: closing it ends the program.
#include <QTimer>
#include <QWidget>

#include <functional>

namespace main_window {

constexpr int kSplashMs = 2000;

class Frmgy : public QWidget {
  Q_OBJECT
 public:
  // next runs at the first tick, after the splash has closed. closedEarly runs
  // instead when the splash is closed before that tick (the user closed it);
  // by default it ends the program.
  explicit Frmgy(std::function<void()> next, int intervalMs = kSplashMs,
                 std::function<void()> closedEarly = endProgram);

  // Ends the program's event loop.
  static void endProgram();

  QTimer* Timer1() { return &timer1_; }

  // Showing can dispatch events (the window system's answers); a tick that
  // comes meanwhile waits until the splash is shown, so the hand-over never
  // deletes the splash under its own show().
  void setVisible(bool visible) override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Timer1_Timer();

  QTimer timer1_;
  bool inSetVisible_ = false;
  bool tickWaiting_ = false;
  std::function<void()> next_;
  std::function<void()> closedEarly_;
};

}  // namespace main_window
