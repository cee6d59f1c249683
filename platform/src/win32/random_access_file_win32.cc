// Positioned reads and writes on a Windows file handle (ReadFile/WriteFile
// with an offset each, so that no shared file position needs guarding),
// FlushFileBuffers for sync, LockFileEx for the volume lock, and the write
// fault seam used by crash-point tests.
#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "file_events.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "windows_api.h"

namespace platform {

namespace {

using internal::HandleToInt;
using internal::IntToHandle;

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

// One ReadFile or WriteFile moves at most this much.
constexpr DWORD kMaxChunk = 1u << 30;

// Windows locks are mandatory: a lock on the data would keep every other
// handle, a reader in this very process included, from reading it. The
// volume lock therefore covers one byte far past the end of any volume,
// which excludes other lockers and nothing else.
constexpr DWORD kLockOffsetHigh = 0x40000000u;
constexpr DWORD kLockOffsetLow = 0;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

std::size_t WriteFully(HANDLE file, std::uint64_t offset, const unsigned char* data,
                       std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kMaxChunk));
    OVERLAPPED at = At(offset + done);
    DWORD written = 0;
    if (!::WriteFile(file, data + done, chunk, &written, &at) || written == 0) break;
    done += written;
  }
  return done;
}

// The errors LockFileEx gives when another handle holds the lock.
bool HeldElsewhere(DWORD error) {
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
}

bool TryLock(HANDLE file, bool wait) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  return ::LockFileEx(file, flags, 0, 1, 0, &at) != 0;
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
  if (mode == Mode::kCreateReadWrite && Observer() != nullptr && !Observer()->OnCreate(path)) {
    return nullptr;
  }
  // Others may read, write and delete meanwhile, as on POSIX; a directory
  // does not open this way.
  HANDLE file = ::CreateFileA(internal::NativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              mode == Mode::kCreateReadWrite ? CREATE_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  // Callers name the reason from errno, as they do on POSIX.
  if (file == INVALID_HANDLE_VALUE) {
    errno = internal::ErrnoFromWindowsError(::GetLastError());
    return nullptr;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    errno = EINVAL;
    return nullptr;
  }
  return std::unique_ptr<RandomAccessFile>(new RandomAccessFile(HandleToInt(file), path));
}

RandomAccessFile::RandomAccessFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

RandomAccessFile::~RandomAccessFile() { ::CloseHandle(IntToHandle(fd_)); }

long long RandomAccessFile::ReadAt(std::uint64_t offset, void* data, std::size_t length) {
  unsigned char* out = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kMaxChunk));
    OVERLAPPED at = At(offset + done);
    DWORD read = 0;
    if (!::ReadFile(IntToHandle(fd_), out + done, chunk, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (read == 0) break;  // end of file
    done += read;
  }
  return static_cast<long long>(done);
}

std::size_t RandomAccessFile::WriteAllowed(std::uint64_t offset, const void* data,
                                           std::size_t length, int* error) {
  const unsigned char* in = static_cast<const unsigned char*>(data);
  std::size_t allowed = length;
  if (const WriteFaultHook& hook = FaultHook()) {
    WriteDecision decision = hook(path_, offset, length);
    if (decision.kind != WriteDecision::kProceed) {
      *error = decision.error != 0 ? decision.error : EIO;
    }
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
  const std::size_t done = WriteFully(IntToHandle(fd_), offset, in, allowed);
  if (done < allowed) {
    const DWORD failure = ::GetLastError();
    *error = failure == ERROR_DISK_FULL || failure == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
  }
  return done;
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
  return internal::SyncThroughSeams(SyncScope::kFile, path_, [this] {
    if (!::FlushFileBuffers(IntToHandle(fd_))) {
      return internal::StatusFromWindowsError(::GetLastError(), path_);
    }
    return Status::Ok();
  });
}

std::uint64_t RandomAccessFile::Size() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(IntToHandle(fd_), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

// The same volume serial number and file index as the file that path opens.
bool RandomAccessFile::IsFileAt(const std::string& path) const {
  BY_HANDLE_FILE_INFORMATION open;
  if (::GetFileInformationByHandle(IntToHandle(fd_), &open) == 0) return false;
  HANDLE named = ::CreateFileA(internal::NativePath(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(named, &info) != 0;
  ::CloseHandle(named);
  return ok && info.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
         info.nFileIndexHigh == open.nFileIndexHigh && info.nFileIndexLow == open.nFileIndexLow;
}

Status RandomAccessFile::LockExclusive(int timeoutMilliseconds,
                                       const std::function<void()>& onWait) {
  HANDLE file = IntToHandle(fd_);
  if (TryLock(file, false)) return Status::Ok();
  if (!HeldElsewhere(::GetLastError())) {
    return internal::StatusFromWindowsError(::GetLastError(), path_);
  }
  const Status busy = Status::Error(Status::Code::kBusy, path_, "another process has it open");
  if (timeoutMilliseconds == 0) return busy;
  if (onWait) onWait();
  if (timeoutMilliseconds < 0) {
    if (TryLock(file, true)) return Status::Ok();
    return internal::StatusFromWindowsError(::GetLastError(), path_);
  }
  // A synchronous handle has no timed lock call: poll, a little less often as
  // the wait grows.
  const std::uint32_t started = TickMilliseconds();
  DWORD pause = 5;
  for (;;) {
    const std::uint32_t waited = TickMilliseconds() - started;
    if (waited >= static_cast<std::uint32_t>(timeoutMilliseconds)) break;
    const DWORD left = static_cast<DWORD>(timeoutMilliseconds) - waited;
    ::Sleep(std::min(pause, left));
    pause = std::min<DWORD>(pause * 2, 100);
    if (TryLock(file, false)) return Status::Ok();
    if (!HeldElsewhere(::GetLastError())) {
      return internal::StatusFromWindowsError(::GetLastError(), path_);
    }
  }
  return Status::Error(
      Status::Code::kBusy, path_,
      "another process has held it open for " + std::to_string(timeoutMilliseconds / 1000) + " s");
}

void SetWriteFaultHook(WriteFaultHook hook) { FaultHook() = std::move(hook); }

void SetSyncFaultHook(SyncFaultHook hook) { SyncHook() = std::move(hook); }

void SetFileEventObserver(FileEventObserver* observer) { Observer() = observer; }

}  // namespace platform
