#include "fault_env.h"
#include "random_access_file_system.h"
#include "platform/random_access_file.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "platform/clock.h"
#include "test_support.h"

namespace {

using platform::RandomAccessFile;
using platform::internal::SystemFile;
using testing_support::WriteDecision;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class RandomAccessFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(RandomAccessFileTest, OpenModes) {
  EXPECT_EQ(SystemFile::Open(dir_.Join("missing"), RandomAccessFile::Mode::kReadWrite),
            nullptr);
  EXPECT_EQ(SystemFile::Open(dir_.path(), RandomAccessFile::Mode::kReadWrite), nullptr);
  WriteFile(dir_.Join("Vol.pak"), "old content");
  auto file = SystemFile::Open(dir_.path() + "\\vol.PAK", RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 11u);
  file = SystemFile::Open(dir_.Join("vol.pak"), RandomAccessFile::Mode::kCreateReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Size(), 0u);  // truncated
}

TEST_F(RandomAccessFileTest, PositionedReadsAndWrites) {
  auto file = SystemFile::Open(dir_.Join("f"), RandomAccessFile::Mode::kCreateReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->WriteAt(4, "abcd", 4), 4u);  // extends with a zero-filled gap
  EXPECT_EQ(file->Size(), 8u);
  EXPECT_EQ(file->WriteAt(0, "XY", 2), 2u);
  char buffer[16];
  EXPECT_EQ(file->ReadAt(0, buffer, sizeof buffer), 8);  // short at end of file
  EXPECT_EQ(std::string(buffer, 8), std::string("XY\0\0abcd", 8));
  EXPECT_EQ(file->ReadAt(6, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "cd");
  EXPECT_EQ(file->ReadAt(100, buffer, 4), 0);
  EXPECT_EQ(file->path(), dir_.Join("f"));
}

TEST_F(RandomAccessFileTest, AFaultEnvFailsOrTearsWrites) {
  testing_support::FaultEnv faults;
  std::unique_ptr<RandomAccessFile> file;
  ASSERT_TRUE(
      faults.OpenFile(dir_.Join("f"), RandomAccessFile::Mode::kCreateReadWrite, &file).ok());
  int calls = 0;
  faults.onWrite = [&](const std::string& path, std::uint64_t offset, std::size_t n) {
    ++calls;
    EXPECT_EQ(path, dir_.Join("f"));
    WriteDecision d;
    if (offset == 0) d.kind = WriteDecision::kFail;
    if (offset == 10) {
      d.kind = WriteDecision::kTear;
      d.tearAfter = 3;
    }
    EXPECT_EQ(n, 6u);
    return d;
  };
  EXPECT_EQ(file->WriteAt(0, "123456", 6), 0u);
  EXPECT_EQ(file->Size(), 0u);
  EXPECT_EQ(file->WriteAt(10, "abcdef", 6), 3u);
  EXPECT_EQ(file->Size(), 13u);
  EXPECT_EQ(file->WriteAt(20, "ghijkl", 6), 6u);
  EXPECT_EQ(calls, 3);
  faults.onWrite = nullptr;
  EXPECT_EQ(file->WriteAt(0, "123456", 6), 6u);
  std::string content = ReadFile(dir_.Join("f"));
  EXPECT_EQ(content.substr(10, 3), "abc");
  EXPECT_EQ(content.substr(13, 7), std::string(7, '\0'));
  EXPECT_EQ(content.substr(20), "ghijkl");
}

#ifdef _WIN32
// Windows locks belong to the handle, so a second open in this process stands
// for another process: refused at once, refused after a bounded wait, and
// granted to a waiter when the first handle goes. Data stay readable through
// any handle meanwhile (the lock lies past the end of any volume).
TEST_F(RandomAccessFileTest, ExclusiveLockBlocksAnotherHandle) {
  WriteFile(dir_.Join("vol"), "data");
  auto file = SystemFile::Open(dir_.Join("vol"), RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->LockExclusive(0).ok());
  auto second = SystemFile::Open(dir_.Join("VOL"), RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->LockExclusive(0).code(), platform::Status::Code::kBusy);
  char read[4] = {};
  EXPECT_EQ(second->ReadAt(0, read, sizeof read), 4);
  EXPECT_EQ(ReadFile(dir_.Join("vol")), "data");
  int waits = 0;
  platform::Status timedOut = second->LockExclusive(120, [&] { ++waits; });
  EXPECT_EQ(timedOut.code(), platform::Status::Code::kBusy);
  EXPECT_EQ(waits, 1);

  std::atomic<bool> locked{false};
  std::thread waiter([&] { locked = second->LockExclusive(-1, [&] { ++waits; }).ok(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(locked.load());
  file.reset();  // releases the lock
  waiter.join();
  EXPECT_TRUE(locked.load());
  EXPECT_EQ(waits, 2);
}
#else
TEST_F(RandomAccessFileTest, ExclusiveLockBlocksAnotherProcess) {
  WriteFile(dir_.Join("vol"), "x");
  int toChild[2], fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  // Fork before opening: a child that inherited the parent's descriptor would
  // share its open file, and so its lock.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::alarm(30);  // never outlive a parent that failed early
    char go = 0;
    if (::read(toChild[0], &go, 1) != 1) _exit(9);
    auto mine = SystemFile::Open(dir_.Join("vol"), RandomAccessFile::Mode::kReadWrite);
    if (!mine) _exit(10);
    if (mine->LockExclusive(0).ok()) _exit(11);
    int waits = 0;
    bool locked = mine->LockExclusive(-1,
                                      [&] {
                                        ++waits;
                                        char c = 'w';
                                        if (::write(fromChild[1], &c, 1) != 1) _exit(12);
                                      })
                      .ok();
    _exit(locked && waits == 1 ? 0 : 13);
  }
  auto file = SystemFile::Open(dir_.Join("vol"), RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->LockExclusive(0).ok());
  // A second open in the same process conflicts as well, and a bounded wait
  // gives up with a reason that names the file.
  auto second = SystemFile::Open(dir_.Join("vol"), RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(second->LockExclusive(0).ok());
  int waits = 0;
  const std::uint32_t before = platform::TickMilliseconds();
  platform::Status timedOut = second->LockExclusive(120, [&] { ++waits; });
  EXPECT_GE(platform::TickMilliseconds() - before, 120u);
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(timedOut.code(), platform::Status::Code::kBusy);
  EXPECT_NE(timedOut.ToString().find(dir_.Join("vol") + ": another process"), std::string::npos);
  second.reset();

  ASSERT_EQ(::write(toChild[1], "g", 1), 1);
  char c = 0;
  ASSERT_EQ(::read(fromChild[0], &c, 1), 1);  // the child is about to block
  EXPECT_EQ(c, 'w');
  ::usleep(50 * 1000);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);  // still blocked
  file.reset();                                    // releases the lock
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
}
#endif

}  // namespace
