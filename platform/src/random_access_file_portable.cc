// The parts of the file classes that are the same on every system: the
// shorter forms of a write, the bounded wait for the volume lock, the
// system's file around its calls, and reads of stdio files. The system calls
// themselves are in random_access_file_system.h.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "random_access_file_system.h"
#include "system_files.h"

namespace platform {

Status RandomAccessFile::Write(std::uint64_t offset, const void* data, std::size_t length) {
  std::size_t written = 0;
  return WritePart(offset, data, length, &written);
}

std::size_t RandomAccessFile::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
  std::size_t written = 0;
  WritePart(offset, data, length, &written);
  return written;
}

Status RandomAccessFile::LockExclusive(int timeoutMilliseconds,
                                       const std::function<void()>& onWait) {
  Status attempt = TryLockExclusive(false);
  if (attempt.code() != Status::Code::kBusy) return attempt;  // granted, or a failure
  if (timeoutMilliseconds == 0) {
    return Status::Error(Status::Code::kBusy, path(), "another process has it open");
  }
  if (onWait) onWait();
  if (timeoutMilliseconds < 0) return TryLockExclusive(true);
  // There is no timed lock call: poll, a little less often as the wait grows.
  const std::uint32_t started = TickMilliseconds();
  unsigned pause = 5;
  for (;;) {
    const std::uint32_t waited = TickMilliseconds() - started;
    if (waited >= static_cast<std::uint32_t>(timeoutMilliseconds)) break;
    const unsigned left = static_cast<unsigned>(timeoutMilliseconds) - waited;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(pause, left)));
    pause = std::min(pause * 2, 100u);
    attempt = TryLockExclusive(false);
    if (attempt.code() != Status::Code::kBusy) return attempt;
  }
  return Status::Error(
      Status::Code::kBusy, path(),
      "another process has held it open for " + std::to_string(timeoutMilliseconds / 1000) + " s");
}

namespace internal {

long long SystemFile::ReadAt(std::uint64_t offset, void* data, std::size_t length) {
  return SystemReadAt(fd_, offset, data, length);
}

Status SystemFile::WritePart(std::uint64_t offset, const void* data, std::size_t length,
                             std::size_t* written) {
  int error = 0;
  *written = SystemWriteAt(fd_, offset, static_cast<const unsigned char*>(data), length, &error);
  if (*written == length) return Status::Ok();
  return Status::FromErrno(error != 0 ? error : EIO, path());
}

void SystemFile::StartWriteback() { SystemStartWriteback(fd_); }

Status SystemFile::Sync() { return SystemSyncData(fd_, path()); }

Status SystemFile::TryLockExclusive(bool wait) { return SystemLockExclusive(fd_, path(), wait); }

}  // namespace internal

long long ReadFromFile(std::FILE* file, void* data, std::size_t length) {
  errno = 0;
  const std::size_t got = std::fread(data, 1, length, file);
  if (got < length && std::ferror(file) != 0) {
    if (errno == 0) errno = EIO;
    return -1;
  }
  return static_cast<long long>(got);
}

}  // namespace platform
