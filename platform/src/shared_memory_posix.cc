// Named shared memory with the lifetime of a Windows paging-file mapping: the
// block lives while some process holds it and is gone once the last holder
// has ended.
//
// POSIX shared memory objects outlive their processes, so the lifetime is
// tracked with record locks on the object itself. Every holder keeps a shared
// (read) lock for as long as it holds the block. Whoever can take the
// exclusive (write) lock without waiting therefore holds the block alone:
//   - on opening, that means the object was just created, or was left behind
//     by a holder that was killed: its content is cleared and the block is
//     reported as created;
//   - on release (after dropping its own shared lock), that means this was
//     the last holder: the name is removed.
// Record locks convert between shared and exclusive atomically, which flock()
// does not guarantee, and they vanish with the process however it ends.
#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "shared_memory_system.h"
#include "whole_file_lock.h"

namespace platform {

namespace {

// Opening and creating the name races with other processes creating and
// removing it; a few retries settle every such race.
constexpr int kMaxAttempts = 1000;

using internal::LockType;

bool Lock(int fd, LockType type, bool wait) { return internal::SetWholeFileLock(fd, type, wait); }

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// True when osName still names the object open as fd. A holder that was the
// last one may have removed the name (and another process may have created a
// new object under it) between our open and our lock.
bool StillNamed(int fd, const std::string& osName) {
  struct stat mine, current;
  if (::fstat(fd, &mine) != 0) return false;
  int probe = ::shm_open(osName.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (probe < 0) return false;
  bool same = ::fstat(probe, &current) == 0 && current.st_dev == mine.st_dev &&
              current.st_ino == mine.st_ino;
  ::close(probe);
  return same;
}

// Opens the object, creating it when it does not exist. -1 on failure.
int OpenOrCreateObject(const std::string& osName, std::string* error) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    int fd = ::shm_open(osName.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != ENOENT) break;
    fd = ::shm_open(osName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
    // Another process created it in between: open that one.
  }
  *error = Failure("shm_open");
  return -1;
}

}  // namespace

namespace internal {

std::string SystemBlockName(const std::string& name) {
  return "/" + name + "." + std::to_string(static_cast<unsigned long>(::getuid()));
}

BlockAttempt OpenOrCreateBlock(const std::string& systemName, std::size_t size, MappedBlock* block,
                               std::string* error) {
  int fd = OpenOrCreateObject(systemName, error);
  if (fd < 0) return BlockAttempt::kFailed;

  struct stat st;
  if (::fstat(fd, &st) != 0 || (static_cast<std::uint64_t>(st.st_size) < size &&
                                ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    *error = Failure("shared memory size");
    ::close(fd);
    return BlockAttempt::kFailed;
  }

  bool alone = Lock(fd, LockType::kExclusive, false);
  if (!alone && !Lock(fd, LockType::kShared, true)) {
    *error = Failure("shared memory lock");
    ::close(fd);
    return BlockAttempt::kFailed;
  }
  if (!StillNamed(fd, systemName)) {
    ::close(fd);  // drops the lock with it
    return BlockAttempt::kRaced;
  }

  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    *error = Failure("mmap");
    ::close(fd);
    return BlockAttempt::kFailed;
  }
  if (alone) {
    // Fresh, or left by a holder that was killed: start from zeros, then
    // let others in.
    std::memset(data, 0, size);
    Lock(fd, LockType::kShared, false);  // downgrade: always granted to the sole holder
  }
  block->handle = fd;
  block->data = data;
  block->created = alone;
  return BlockAttempt::kMapped;
}

}  // namespace internal

NamedSharedMemory::~NamedSharedMemory() {
  ::munmap(data_, size_);
  // Drop the shared lock before asking for the exclusive one: two holders
  // that leave together would otherwise each see the other's shared lock and
  // neither would remove the name. In the gap a newcomer may take the object
  // over as unheld, which is right: nobody holds it any more.
  Lock(fd_, LockType::kUnlock, false);
  // Whoever now gets the exclusive lock is the last holder and removes the
  // name; holding that lock keeps newcomers out until the object is closed.
  if (Lock(fd_, LockType::kExclusive, false) && StillNamed(fd_, osName_))
    ::shm_unlink(osName_.c_str());
  ::close(fd_);
}

}  // namespace platform
