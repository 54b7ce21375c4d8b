#include "platform/messagebox/messagebox_qt.h"

#include "platform/messagebox/messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

void installQtMessageBoxes() {
  setMessageBoxHandler([](const MessageBoxRequest& r) {
    QMessageBox box(QMessageBox::Information, QString::fromStdString(r.title), QString::fromStdString(r.text),
                    r.buttons == MsgButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    QApplication::activeWindow());
    int answer = box.exec();
    if (r.buttons == MsgButtons::Ok) return MsgResult::Ok;
    return answer == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
  });
}

}  // namespace platform
