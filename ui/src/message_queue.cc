#include "ui/message_queue.h"

#include "ui/interrupt.h"

namespace ui {

void MessageQueue::Post(std::uint32_t message, WParam wParam, LParam lParam) {
  messages_.push_back(Message{message, wParam, lParam});
}

bool MessageQueue::PumpOne(const Handler& handler) {
  if (messages_.empty()) return false;
  Message next = messages_.front();
  messages_.pop_front();
  if (next.message == kQuitMessage) {
    if (!ending_) {
      ending_ = true;
      result_ = kModalQuit;
    }
    return false;
  }
  handler(next);
  return true;
}

int MessageQueue::RunModal(const Handler& handler) {
  // An EndModal that came before the loop (from a dialog's initialisation)
  // ends the run at once, as it does on Windows.
  while (!ending_) {
    if (TakeCloseRequest()) Post(kCommandMessage, kCancelCommand, 0);
    if (messages_.empty()) break;
    PumpOne(handler);
  }
  messages_.clear();
  int result = result_;
  ending_ = false;
  result_ = kModalQuit;
  return result;
}

void MessageQueue::EndModal(int result) {
  if (ending_) return;
  ending_ = true;
  result_ = result;
}

}  // namespace ui
