#pragma once
// Modal message boxes with the information icon. Every box of both programs goes
// through MsgBox(); the windowing side installs the handler that shows it, and
// tests install a recorder instead.
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok = 1, Yes = 6, No = 7 };

struct MessageBoxRequest {
  std::string text;
  std::string title;  // the application title unless the caller names one
  MsgButtons buttons = MsgButtons::Ok;
};

using MessageBoxHandler = std::function<MsgResult(const MessageBoxRequest&)>;

// Installs the handler; returns the previous one. Without a handler a box is
// answered Ok (or No for a question) and nothing is shown.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

void setApplicationTitle(const std::string& title);
const std::string& applicationTitle();

// Shows a box; an empty title means the application title.
MsgResult MsgBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok, const std::string& title = "");

// For tests: records every box and answers with a fixed result while alive.
class MessageBoxRecorder {
 public:
  explicit MessageBoxRecorder(MsgResult answer = MsgResult::Ok);
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
  const std::vector<MessageBoxRequest>& boxes() const { return boxes_; }
  void setAnswer(MsgResult answer) { answer_ = answer; }
  void clear() { boxes_.clear(); }

 private:
  std::vector<MessageBoxRequest> boxes_;
  MsgResult answer_;
  MessageBoxHandler previous_;
};

}  // namespace platform
