// Posted messages, the modal loop and the single-message pump.
#include "ui/message_queue.h"

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "ui/interrupt.h"

namespace {

using ui::Message;
using ui::MessageQueue;

TEST(MessageQueueTest, ModalLoopDispatchesInPostOrderUntilQuit) {
  MessageQueue queue;
  std::vector<std::uint32_t> seen;
  queue.Post(0x401, 7, 9);
  int result = queue.RunModal([&](const Message& m) {
    seen.push_back(m.message);
    if (m.message == 0x401) {
      EXPECT_EQ(m.wParam, 7u);
      EXPECT_EQ(m.lParam, 9);
      queue.Post(0x402);
      queue.Post(0x403);
    } else if (m.message == 0x403) {
      queue.Post(ui::kQuitMessage);
      queue.Post(0x404);  // behind the quit: never dispatched
    }
  });
  EXPECT_EQ(result, ui::kModalQuit);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0x401, 0x402, 0x403}));
  EXPECT_TRUE(queue.empty());
  EXPECT_FALSE(queue.ending());
}

TEST(MessageQueueTest, EndModalEndsAfterTheCurrentMessageWithItsResult) {
  MessageQueue queue;
  int dispatched = 0;
  queue.Post(1);
  queue.Post(2);
  int result = queue.RunModal([&](const Message&) {
    ++dispatched;
    queue.EndModal(2);
    queue.EndModal(5);  // the first end counts
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(dispatched, 1);
  EXPECT_TRUE(queue.empty());
}

TEST(MessageQueueTest, QueueThatRunsDryEndsTheRunInsteadOfWaiting) {
  MessageQueue queue;
  queue.Post(1);
  EXPECT_EQ(queue.RunModal([](const Message&) {}), ui::kModalQuit);
  EXPECT_EQ(queue.RunModal([](const Message&) {}), ui::kModalQuit);
}

TEST(MessageQueueTest, PumpTakesOneMessageAndNeverDispatchesQuit) {
  MessageQueue queue;
  int dispatched = 0;
  auto count = [&](const Message&) { ++dispatched; };
  EXPECT_FALSE(queue.PumpOne(count));
  queue.Post(1);
  queue.Post(ui::kQuitMessage);
  queue.Post(3);
  EXPECT_TRUE(queue.PumpOne(count));
  EXPECT_EQ(dispatched, 1);
  EXPECT_FALSE(queue.PumpOne(count));  // the quit
  EXPECT_EQ(dispatched, 1);
  EXPECT_TRUE(queue.ending());
  EXPECT_EQ(queue.size(), 1u);
}

TEST(MessageQueueTest, QuitTakenByAPumpInsideAHandlerEndsTheModalRun) {
  MessageQueue queue;
  std::vector<std::uint32_t> seen;
  queue.Post(1);
  queue.RunModal([&](const Message& m) {
    seen.push_back(m.message);
    if (m.message == 1) {
      queue.Post(ui::kQuitMessage);
      queue.Post(2);
      queue.PumpOne([&](const Message& inner) { seen.push_back(inner.message); });
    }
  });
  EXPECT_EQ(seen, std::vector<std::uint32_t>{1});
}

TEST(MessageQueueTest, CtrlCArrivesAsACancelCommand) {
#ifdef _WIN32
  GTEST_SKIP() << "Ctrl-C is a console event on Windows, not a signal raise() can send";
#else
  ui::CloseRequestGuard guard;
  MessageQueue queue;
  std::vector<Message> seen;
  queue.Post(0x401);
  queue.RunModal([&](const Message& m) {
    seen.push_back(m);
    if (m.message == 0x401) {
      std::raise(SIGINT);
      std::raise(SIGINT);  // two requests before the loop looks: one command
      queue.Post(0x402);
    }
  });
  // Queued when the loop next looks, behind what was already posted.
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].message, 0x402u);
  EXPECT_EQ(seen[2].message, ui::kCommandMessage);
  EXPECT_EQ(seen[2].wParam, ui::kCancelCommand);
#endif
}

TEST(CloseRequestGuardTest, RequestsAreRecordedOnlyWhileAGuardLives) {
#ifdef _WIN32
  GTEST_SKIP() << "Ctrl-C is a console event on Windows, not a signal raise() can send";
#else
  EXPECT_FALSE(ui::TakeCloseRequest());
  {
    ui::CloseRequestGuard outer;
    {
      ui::CloseRequestGuard inner;
      std::raise(SIGINT);
    }
    std::raise(SIGINT);  // the outer guard is back in force
    EXPECT_TRUE(ui::TakeCloseRequest());
    EXPECT_FALSE(ui::TakeCloseRequest());
  }
  // Afterwards SIGINT has its old effect again.
  EXPECT_EXIT(std::raise(SIGINT), testing::KilledBySignal(SIGINT), "");
#endif
}

}  // namespace
