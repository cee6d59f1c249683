#include "platform/shared_memory.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "test_support.h"

namespace {

using platform::NamedSharedMemory;
using Origin = NamedSharedMemory::Origin;

// Every test works on its own object, named through the environment, so that
// suites running in parallel never meet.
class SharedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
#ifdef _WIN32
    unique_ = "marovetin-shm-test-" + std::to_string(_getpid()) + "-" + std::to_string(++counter);
    osName_ = unique_;  // the session namespace is per user already
#else
    unique_ = "marovetin-shm-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    osName_ = "/" + unique_ + "." + std::to_string(::getuid());
#endif
    ::setenv("MAROVETIN_SHM_NAME", unique_.c_str(), 1);
  }
  void TearDown() override {
#ifndef _WIN32
    ::shm_unlink(osName_.c_str());
#endif
    ::unsetenv("MAROVETIN_SHM_NAME");
  }

  bool ObjectExists() const {
#ifdef _WIN32
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, osName_.c_str());
    if (mapping == nullptr) return false;
    ::CloseHandle(mapping);
    return true;
#else
    int fd = ::shm_open(osName_.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
#endif
  }

  static std::unique_ptr<NamedSharedMemory> Open(Origin* origin) {
    std::string error;
    auto block = NamedSharedMemory::OpenOrCreate("Marovetin", 8, origin, &error);
    EXPECT_NE(block, nullptr) << error;
    return block;
  }

  static std::uint32_t* Words(const std::unique_ptr<NamedSharedMemory>& block) {
    return static_cast<std::uint32_t*>(block->data());
  }

#ifndef _WIN32
  // Runs body in a child process and returns its exit status (-1 if killed).
  template <typename Body>
  static int InChild(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(30);
      _exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
#endif

  std::string unique_;
  std::string osName_;
};

TEST_F(SharedMemoryTest, FirstHolderCreatesSecondOpensAndSeesItsWrites) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); two Windows processes share the block in the end-to-end suite";
#else
  Origin origin = Origin::kOpened;
  auto first = Open(&origin);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(origin, Origin::kCreated);
  EXPECT_EQ(first->size(), 8u);
  EXPECT_EQ(Words(first)[0], 0u);
  EXPECT_EQ(Words(first)[1], 0u);
  Words(first)[0] = 2;
  Words(first)[1] = 41;
  EXPECT_TRUE(ObjectExists());

  int status = InChild([] {
    Origin o = Origin::kCreated;
    std::string error;
    auto second = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
    if (!second) return 10;
    if (o != Origin::kOpened) return 11;
    auto* words = static_cast<std::uint32_t*>(second->data());
    if (words[0] != 2 || words[1] != 41) return 12;
    words[1] += 1;
    second.reset();  // releases; the parent still holds the block
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Words(first)[1], 42u);
  EXPECT_TRUE(ObjectExists());

  first.reset();
  EXPECT_FALSE(ObjectExists());  // the last holder removed the name
  auto next = Open(&origin);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(origin, Origin::kCreated);
  EXPECT_EQ(Words(next)[0], 0u);
  EXPECT_EQ(Words(next)[1], 0u);
#endif
}

TEST_F(SharedMemoryTest, HoldersInOneProcessAreCountedApart) {
  Origin a = Origin::kOpened, b = Origin::kCreated;
  auto first = Open(&a);
  auto second = Open(&b);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(a, Origin::kCreated);
  EXPECT_EQ(b, Origin::kOpened);
  Words(first)[1] = 7;
  EXPECT_EQ(Words(second)[1], 7u);
  first.reset();
  EXPECT_TRUE(ObjectExists());
  Origin c = Origin::kCreated;
  auto third = Open(&c);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(c, Origin::kOpened);
  EXPECT_EQ(Words(third)[1], 7u);
  second.reset();
  third.reset();
  EXPECT_FALSE(ObjectExists());
}

TEST_F(SharedMemoryTest, BlockOfEndedHoldersIsCreatedAfresh) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); two Windows processes share the block in the end-to-end suite";
#else
  // Two overlapping holders in other processes; neither is alive afterwards.
  int ready[2], go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::alarm(30);
    Origin o = Origin::kOpened;
    std::string error;
    auto block = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
    if (!block || o != Origin::kCreated) _exit(10);
    static_cast<std::uint32_t*>(block->data())[1] = 5;
    char c = 'r';
    if (::write(ready[1], &c, 1) != 1) _exit(11);
    if (::read(go[0], &c, 1) != 1) _exit(12);  // until the parent says go
    block.reset();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(InChild([] {
              Origin o = Origin::kCreated;
              std::string error;
              auto block = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
              if (!block || o != Origin::kOpened) return 10;
              return static_cast<std::uint32_t*>(block->data())[1] == 5 ? 0 : 11;
            }),
            0);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
  EXPECT_FALSE(ObjectExists());

  Origin origin = Origin::kOpened;
  auto block = Open(&origin);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(origin, Origin::kCreated);
  EXPECT_EQ(Words(block)[1], 0u);
#endif
}

TEST_F(SharedMemoryTest, KilledHoldersLeftoverIsTreatedAsCreated) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); two Windows processes share the block in the end-to-end suite";
#else
  int pipeFd[2];
  ASSERT_EQ(::pipe(pipeFd), 0);
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::alarm(30);
    Origin o;
    std::string error;
    auto block = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
    if (!block) _exit(10);
    auto* words = static_cast<std::uint32_t*>(block->data());
    words[0] = 2;
    words[1] = 99;
    char c = 'r';
    if (::write(pipeFd[1], &c, 1) != 1) _exit(11);
    for (;;) ::pause();
  }
  char c = 0;
  ASSERT_EQ(::read(pipeFd[0], &c, 1), 1);
  ::kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  ::close(pipeFd[0]);
  ::close(pipeFd[1]);
  EXPECT_TRUE(ObjectExists());  // nobody released it

  Origin origin = Origin::kOpened;
  auto block = Open(&origin);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(origin, Origin::kCreated);
  EXPECT_EQ(Words(block)[0], 0u);
  EXPECT_EQ(Words(block)[1], 0u);
  block.reset();
  EXPECT_FALSE(ObjectExists());
#endif
}

TEST_F(SharedMemoryTest, HolderKeptInAStaticIsReleasedAtNormalExit) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); two Windows processes share the block in the end-to-end suite";
#else
  int status = -1;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::alarm(30);
    static std::unique_ptr<NamedSharedMemory> held;
    Origin o;
    std::string error;
    held = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
    std::exit(held ? 0 : 10);  // static destruction releases the block
  }
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(ObjectExists());
#endif
}

TEST_F(SharedMemoryTest, EnvironmentNameAndPermissions) {
  Origin origin;
  auto block = Open(&origin);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(ObjectExists());
#ifndef _WIN32
  int fd = ::shm_open(osName_.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  struct stat st;
  ASSERT_EQ(::fstat(fd, &st), 0);
  ::close(fd);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, ::getuid());
  EXPECT_GE(st.st_size, 8);
#endif

  // Another name in the environment is another block.
  ::setenv("MAROVETIN_SHM_NAME", (unique_ + "-other").c_str(), 1);
  Origin other = Origin::kOpened;
  auto separate = Open(&other);
  ASSERT_NE(separate, nullptr);
  EXPECT_EQ(other, Origin::kCreated);
  separate.reset();

  std::string error;
  EXPECT_EQ(NamedSharedMemory::OpenOrCreate("Marovetin", 0, &origin, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST_F(SharedMemoryTest, ConcurrentHoldersComingAndGoingLeaveNothingBehind) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork(); two Windows processes share the block in the end-to-end suite";
#else
  constexpr int kChildren = 4;
  constexpr int kRounds = 200;
  // A counter outside the block: each child counts the rounds it completed.
  auto* done = static_cast<std::atomic<int>*>(::mmap(nullptr, sizeof(std::atomic<int>),
                                                     PROT_READ | PROT_WRITE,
                                                     MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(done, MAP_FAILED);
  new (done) std::atomic<int>(0);
  pid_t children[kChildren];
  for (pid_t& child : children) {
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(60);
      for (int round = 0; round < kRounds; ++round) {
        Origin o;
        std::string error;
        auto block = NamedSharedMemory::OpenOrCreate("Marovetin", 8, &o, &error);
        if (!block) _exit(10);
        static_cast<std::uint32_t*>(block->data())[0] = 2;
        done->fetch_add(1);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(done->load(), kChildren * kRounds);
  ::munmap(done, sizeof(std::atomic<int>));
  EXPECT_FALSE(ObjectExists());
#endif
}

}  // namespace
