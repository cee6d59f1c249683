// Positioned reads and writes on one descriptor (pread/pwrite, so that no
// shared file offset has to be guarded), whole-file advisory locking, and the
// write and sync fault seams used by crash-point tests.
#include "platform/random_access_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "file_events.h"
#include "platform/clock.h"
#include "platform/fault_plan.h"
#include "platform/file_system.h"
#include "whole_file_lock.h"

namespace platform {

namespace {

WriteFaultHook& FaultHook() {
  static WriteFaultHook hook;
  return hook;
}

SyncFaultHook& SyncHook() {
  static SyncFaultHook hook;
  return hook;
}

FileEventObserver*& Observer() {
  static FileEventObserver* observer = nullptr;
  return observer;
}

// Writes length bytes at offset, resuming after short writes and signals.
// Returns the number of bytes that reached the file; *error gets the errno
// that stopped it (ENOSPC for a write that made no progress without one).
std::size_t WriteFully(int fd, std::uint64_t offset, const unsigned char* data, std::size_t length,
                       int* error) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      break;
    }
    if (n == 0) {
      *error = ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

namespace internal {

FileEventObserver* CurrentObserver() { return Observer(); }

Status SyncFaultVerdict(const std::string& path) {
  if (const SyncFaultHook& hook = SyncHook()) return hook(path);
  return Status::Ok();
}

}  // namespace internal

std::unique_ptr<RandomAccessFile> RandomAccessFile::Open(const std::string& path, Mode mode) {
  if (path.empty()) return nullptr;
  int flags = O_RDWR | O_CLOEXEC;
  if (mode == Mode::kCreateReadWrite) flags |= O_CREAT | O_TRUNC;
  std::string resolved = ResolvePath(path);
  if (mode == Mode::kCreateReadWrite && Observer() != nullptr && !Observer()->OnCreate(path)) {
    return nullptr;
  }
  int fd;
  do {
    fd = ::open(resolved.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<RandomAccessFile>(new RandomAccessFile(fd, path));
}

RandomAccessFile::RandomAccessFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

RandomAccessFile::~RandomAccessFile() { ::close(fd_); }

long long RandomAccessFile::ReadAt(std::uint64_t offset, void* data, std::size_t length) {
  if (const int injected = NextIoFault(IoCall::kRead)) {
    errno = injected;
    return -1;
  }
  unsigned char* out = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;  // end of file
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

std::size_t RandomAccessFile::WriteAllowed(std::uint64_t offset, const void* data,
                                           std::size_t length, int* error) {
  const unsigned char* in = static_cast<const unsigned char*>(data);
  if (const int injected = NextIoFault(IoCall::kWrite)) {
    errno = injected;
    *error = injected;
    return 0;
  }
  std::size_t allowed = length;
  if (const WriteFaultHook& hook = FaultHook()) {
    WriteDecision decision = hook(path_, offset, length);
    if (decision.kind != WriteDecision::kProceed)
      *error = decision.error != 0 ? decision.error : EIO;
    if (decision.kind == WriteDecision::kFail) return 0;
    if (decision.kind == WriteDecision::kTear && decision.tearAfter < length) {
      allowed = decision.tearAfter;
    }
  }
  if (allowed == 0) return 0;
  if (Observer() != nullptr && !Observer()->OnWrite(path_, offset, in, allowed)) {
    *error = EIO;
    return 0;
  }
  return WriteFully(fd_, offset, in, allowed, error);
}

std::size_t RandomAccessFile::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
  int error = 0;
  return WriteAllowed(offset, data, length, &error);
}

Status RandomAccessFile::Write(std::uint64_t offset, const void* data, std::size_t length) {
  int error = 0;
  if (WriteAllowed(offset, data, length, &error) == length) return Status::Ok();
  return Status::FromErrno(error != 0 ? error : EIO, path_);
}

Status RandomAccessFile::Sync() {
  if (const int injected = NextIoFault(IoCall::kSync)) return Status::FromErrno(injected, path_);
  return internal::SyncThroughSeams(SyncScope::kFile, path_, [this] {
    int result;
    do {
      result = ::fdatasync(fd_);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return Status::FromErrno(errno, path_);
    return Status::Ok();
  });
}

std::uint64_t RandomAccessFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool RandomAccessFile::IsFileAt(const std::string& path) const {
  struct stat open;
  struct stat named;
  if (::fstat(fd_, &open) != 0 || ::stat(ResolvePath(path).c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

Status RandomAccessFile::LockExclusive(int timeoutMilliseconds,
                                       const std::function<void()>& onWait) {
  using internal::LockType;
  using internal::SetWholeFileLock;
  if (SetWholeFileLock(fd_, LockType::kExclusive, false)) return Status::Ok();
  if (!internal::HeldElsewhere(errno)) return Status::FromErrno(errno, path_);
  const Status busy = Status::Error(Status::Code::kBusy, path_, "another process has it open");
  if (timeoutMilliseconds == 0) return busy;
  if (onWait) onWait();
  if (timeoutMilliseconds < 0) {
    if (SetWholeFileLock(fd_, LockType::kExclusive, true)) return Status::Ok();
    return Status::FromErrno(errno, path_);
  }
  // There is no timed lock call: poll, a little less often as the wait grows.
  const std::uint32_t started = TickMilliseconds();
  unsigned pause = 5;
  for (;;) {
    const std::uint32_t waited = TickMilliseconds() - started;
    if (waited >= static_cast<std::uint32_t>(timeoutMilliseconds)) break;
    const unsigned left = static_cast<unsigned>(timeoutMilliseconds) - waited;
    ::usleep(1000u * std::min(pause, left));
    pause = std::min(pause * 2, 100u);
    if (SetWholeFileLock(fd_, LockType::kExclusive, false)) return Status::Ok();
    if (!internal::HeldElsewhere(errno)) return Status::FromErrno(errno, path_);
  }
  return Status::Error(
      Status::Code::kBusy, path_,
      "another process has held it open for " + std::to_string(timeoutMilliseconds / 1000) + " s");
}

void SetWriteFaultHook(WriteFaultHook hook) { FaultHook() = std::move(hook); }

void SetSyncFaultHook(SyncFaultHook hook) { SyncHook() = std::move(hook); }

void SetFileEventObserver(FileEventObserver* observer) { Observer() = observer; }

}  // namespace platform
