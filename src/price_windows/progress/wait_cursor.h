#pragma once
// The wait cursor over every window of the program while the object lives
// (a comparison, a history, an export), put back however the work ends.
#include <QApplication>
#include <QCursor>

namespace price_windows {

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace price_windows
