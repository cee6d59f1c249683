// The parts of RandomAccessFile that are the same on every system: the write
// and sync fault seams, the file-event observer and the fault source that
// tests install (io_observer.h), reads of stdio files through the same fault
// source, and the bounded wait for the volume lock. The system calls
// themselves are in random_access_file_system.h.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "file_events.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "random_access_file_system.h"

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

std::atomic<IoFaultSource>& FaultSource() {
  static std::atomic<IoFaultSource> source{nullptr};
  return source;
}

}  // namespace

namespace internal {

FileEventObserver* CurrentObserver() { return Observer(); }

int InjectedFault(IoCall call) {
  const IoFaultSource source = FaultSource().load(std::memory_order_relaxed);
  return source != nullptr ? source(call) : 0;
}

Status SyncFaultVerdict(const std::string& path) {
  if (const SyncFaultHook& hook = SyncHook()) return hook(path);
  return Status::Ok();
}

bool WritesAreWatched() {
  return FaultHook() || SyncHook() || Observer() != nullptr ||
         FaultSource().load(std::memory_order_relaxed) != nullptr;
}

}  // namespace internal

std::unique_ptr<RandomAccessFile> RandomAccessFile::Open(const std::string& path, Mode mode) {
  return internal::SystemFile::Open(path, mode);
}

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
  if (const int injected = InjectedFault(IoCall::kRead)) {
    errno = injected;
    return -1;
  }
  return SystemReadAt(fd_, offset, data, length);
}

Status SystemFile::WritePart(std::uint64_t offset, const void* data, std::size_t length,
                             std::size_t* written) {
  *written = 0;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  if (const int injected = InjectedFault(IoCall::kWrite)) return Status::FromErrno(injected, path());
  std::size_t allowed = length;
  int error = 0;
  if (const WriteFaultHook& hook = FaultHook()) {
    WriteDecision decision = hook(path(), offset, length);
    if (decision.kind != WriteDecision::kProceed) error = decision.error != 0 ? decision.error : EIO;
    if (decision.kind == WriteDecision::kFail) return Status::FromErrno(error, path());
    if (decision.kind == WriteDecision::kTear && decision.tearAfter < length) {
      allowed = decision.tearAfter;
    }
  }
  if (allowed > 0) {
    if (Observer() != nullptr && !Observer()->OnWrite(path(), offset, in, allowed)) {
      return Status::FromErrno(EIO, path());
    }
    *written = SystemWriteAt(fd_, offset, in, allowed, &error);
  }
  if (*written == length) return Status::Ok();
  return Status::FromErrno(error != 0 ? error : EIO, path());
}

void SystemFile::StartWriteback() { SystemStartWriteback(fd_); }

Status SystemFile::Sync() {
  if (const int injected = InjectedFault(IoCall::kSync)) return Status::FromErrno(injected, path());
  return SyncThroughSeams(SyncScope::kFile, path(), [this] { return SystemSyncData(fd_, path()); });
}

Status SystemFile::TryLockExclusive(bool wait) { return SystemLockExclusive(fd_, path(), wait); }

}  // namespace internal

void SetWriteFaultHook(WriteFaultHook hook) { FaultHook() = std::move(hook); }

void SetSyncFaultHook(SyncFaultHook hook) { SyncHook() = std::move(hook); }

void SetIoFaultSource(IoFaultSource source) { FaultSource().store(source); }

long long ReadFromFile(std::FILE* file, void* data, std::size_t length) {
  if (internal::FaultInjected(IoCall::kRead)) return -1;
  errno = 0;
  const std::size_t got = std::fread(data, 1, length, file);
  if (got < length && std::ferror(file) != 0) {
    if (errno == 0) errno = EIO;
    return -1;
  }
  return static_cast<long long>(got);
}

void SetFileEventObserver(FileEventObserver* observer) { Observer() = observer; }

}  // namespace platform
