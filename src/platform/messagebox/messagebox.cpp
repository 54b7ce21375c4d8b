#include "platform/messagebox/messagebox.h"

namespace platform {
namespace {
MessageBoxHandler& handler() {
  static MessageBoxHandler h;
  return h;
}
std::string& title() {
  static std::string t;
  return t;
}
}  // namespace

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h) {
  MessageBoxHandler previous = std::move(handler());
  handler() = std::move(h);
  return previous;
}

void setApplicationTitle(const std::string& t) { title() = t; }
const std::string& applicationTitle() { return title(); }

MsgResult MsgBox(const std::string& text, MsgButtons buttons, const std::string& boxTitle) {
  MessageBoxRequest request{text, boxTitle.empty() ? title() : boxTitle, buttons};
  if (handler()) return handler()(request);
  return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

MessageBoxRecorder::MessageBoxRecorder(MsgResult answer) : answer_(answer) {
  previous_ = setMessageBoxHandler([this](const MessageBoxRequest& r) {
    boxes_.push_back(r);
    return answer_;
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { setMessageBoxHandler(std::move(previous_)); }

}  // namespace platform
