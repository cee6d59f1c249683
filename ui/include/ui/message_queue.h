// The window-message machinery a dialog runs on: one queue of posted messages
// per window, a modal loop that dispatches them until the quit message, and a
// single-message pump that a handler may call to let queued messages through
// while it works. Everything runs on the caller's thread; nothing waits.
#ifndef MAROVETIN_UI_MESSAGE_QUEUE_H_
#define MAROVETIN_UI_MESSAGE_QUEUE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace ui {

using WParam = std::uintptr_t;
using LParam = std::intptr_t;

// Message numbers the loop itself knows about.
constexpr std::uint32_t kQuitMessage = 0x0012;     // ends the modal run
constexpr std::uint32_t kCommandMessage = 0x0111;  // a command (wParam: its id)
constexpr WParam kCancelCommand = 2;               // the command a close request produces

// The result of a modal run that ended by the quit message (or that ran out
// of messages, see RunModal).
constexpr int kModalQuit = -1;

struct Message {
  std::uint32_t message = 0;
  WParam wParam = 0;
  LParam lParam = 0;
};

class MessageQueue {
 public:
  using Handler = std::function<void(const Message&)>;

  // Appends a message; it is dispatched after everything posted before it.
  void Post(std::uint32_t message, WParam wParam = 0, LParam lParam = 0);

  // The single-message pump: takes the oldest message and hands it to handler.
  // The quit message is not handed on; taking it ends the modal run in force
  // (after the handler that pumped returns). False when the queue was empty or
  // the message taken was the quit message.
  bool PumpOne(const Handler& handler);

  // The modal loop: dispatches messages oldest first until the quit message is
  // taken or EndModal is called. A close request (Ctrl-C, see interrupt.h)
  // is delivered as kCommandMessage with kCancelCommand. No other thread or
  // process can post to the queue, so a queue that runs empty before the run
  // has ended would wait forever: the run ends instead, as if quit. Returns
  // the EndModal result, or kModalQuit.
  int RunModal(const Handler& handler);

  // Ends the modal run once the message being dispatched has been handled;
  // messages still queued are dropped then.
  void EndModal(int result);

  bool empty() const { return messages_.empty(); }
  std::size_t size() const { return messages_.size(); }
  // The queued messages, oldest first.
  const std::deque<Message>& pending() const { return messages_; }
  // True once the modal run has been told to end (quit taken or EndModal).
  bool ending() const { return ending_; }

 private:
  std::deque<Message> messages_;
  bool ending_ = false;
  int result_ = kModalQuit;
};

}  // namespace ui

#endif  // MAROVETIN_UI_MESSAGE_QUEUE_H_
