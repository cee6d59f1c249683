// Positioned reads and writes on a Windows file handle (ReadFile/WriteFile
// with an offset each, so that no shared file position needs guarding),
// FlushFileBuffers for sync and LockFileEx for the volume lock. The seams
// around these calls are in random_access_file_portable.cc.
#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "random_access_file_system.h"
#include "windows_api.h"

namespace platform {

namespace {

using internal::HandleToInt;
using internal::IntToHandle;

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

// The errors LockFileEx gives when another handle holds the lock.
bool HeldElsewhere(DWORD error) {
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
}

}  // namespace

namespace internal {

long long SystemReadAt(int fd, std::uint64_t offset, void* data, std::size_t length) {
  unsigned char* out = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kMaxChunk));
    OVERLAPPED at = At(offset + done);
    DWORD read = 0;
    if (!::ReadFile(IntToHandle(fd), out + done, chunk, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (read == 0) break;  // end of file
    done += read;
  }
  return static_cast<long long>(done);
}

std::size_t SystemWriteAt(int fd, std::uint64_t offset, const unsigned char* data,
                          std::size_t length, int* error) {
  std::size_t done = 0;
  while (done < length) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kMaxChunk));
    OVERLAPPED at = At(offset + done);
    DWORD written = 0;
    if (!::WriteFile(IntToHandle(fd), data + done, chunk, &written, &at) || written == 0) {
      const DWORD failure = ::GetLastError();
      *error = failure == ERROR_DISK_FULL || failure == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
      break;
    }
    done += written;
  }
  return done;
}

void SystemStartWriteback(int) {}  // Windows writes back on its own schedule

Status SystemSyncData(int fd, const std::string& path) {
  if (!::FlushFileBuffers(IntToHandle(fd))) return StatusFromWindowsError(::GetLastError(), path);
  return Status::Ok();
}

Status SystemLockExclusive(int fd, const std::string& path, bool wait) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (::LockFileEx(IntToHandle(fd), flags, 0, 1, 0, &at)) return Status::Ok();
  const DWORD error = ::GetLastError();
  if (HeldElsewhere(error)) {
    return Status::Error(Status::Code::kBusy, path, "another process has it open");
  }
  return StatusFromWindowsError(error, path);
}

std::unique_ptr<SystemFile> SystemFile::Open(const std::string& path, Mode mode) {
  if (path.empty()) return nullptr;
  // Others may read, write and delete meanwhile, as on POSIX; a directory
  // does not open this way.
  const DWORD access = mode == Mode::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  HANDLE file = ::CreateFileA(NativePath(path).c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              mode == Mode::kCreateReadWrite ? CREATE_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  // Callers name the reason from errno, as they do on POSIX.
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoFromWindowsError(::GetLastError());
    return nullptr;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    errno = EINVAL;
    return nullptr;
  }
  return std::unique_ptr<SystemFile>(new SystemFile(HandleToInt(file), path));
}

SystemFile::~SystemFile() { ::CloseHandle(IntToHandle(fd_)); }

std::uint64_t SystemFile::Size() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(IntToHandle(fd_), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

// The same volume serial number and file index as the file that path opens.
bool SystemFile::IsFileAt(const std::string& path) const {
  BY_HANDLE_FILE_INFORMATION open;
  if (::GetFileInformationByHandle(IntToHandle(fd_), &open) == 0) return false;
  HANDLE named = ::CreateFileA(NativePath(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(named, &info) != 0;
  ::CloseHandle(named);
  return ok && info.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
         info.nFileIndexHigh == open.nFileIndexHigh && info.nFileIndexLow == open.nFileIndexLow;
}

}  // namespace internal
}  // namespace platform
