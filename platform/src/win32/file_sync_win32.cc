// Durability of directory entries and of whole volumes on Windows. A file's
// own data are flushed through RandomAccessFile::Sync.
#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/path_spelling.h"
#include "windows_api.h"
#include "system_files.h"

namespace platform {

namespace {

using internal::NativePath;
using internal::StatusFromWindowsError;

Status FlushHandleOf(const std::string& openName, const std::string& context, DWORD flags) {
  HANDLE handle = ::CreateFileA(openName.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return StatusFromWindowsError(::GetLastError(), context);
  Status status = Status::Ok();
  if (!::FlushFileBuffers(handle)) status = StatusFromWindowsError(::GetLastError(), context);
  ::CloseHandle(handle);
  return status;
}

}  // namespace

namespace {

Status SyncDirectoryNow(const std::string& path) {
  const std::string native = NativePath(path.empty() ? std::string(".") : path);
  if (!IsDirectory(native)) {
    return StatusFromWindowsError(PathExists(native) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND,
                                  path);
  }
  Status status = FlushHandleOf(native, path, FILE_FLAG_BACKUP_SEMANTICS);
  // The file systems that refuse to flush a directory (access denied, or not
  // supported) journal their entries: a rename or create made write-through
  // (RenameFile does) is already durable when the call returns.
  if (!status.ok() && status.code() == Status::Code::kIoError) return Status::Ok();
  return status;
}

Status SyncFileSystemNow(const std::string& path) {
  const std::string native = NativePath(path.empty() ? std::string(".") : path);
  if (!PathExists(native)) return StatusFromWindowsError(ERROR_PATH_NOT_FOUND, path);
  char volume[MAX_PATH + 1] = {};
  if (::GetVolumePathNameA(native.c_str(), volume, sizeof volume)) {
    // "C:\" names the root directory; "\\.\C:" the volume, whose flush
    // writes out every cached file on it.
    std::string device = volume;
    while (!device.empty() && IsPathSeparator(device.back())) device.pop_back();
    if (device.size() == 2 && device[1] == ':' && FlushHandleOf("\\\\.\\" + device, path, 0).ok()) {
      return Status::Ok();
    }
  }
  // Flushing a volume needs administrator rights (and not every volume can
  // be flushed). Without that, the nearest thing is the file at path itself
  // (a flush through any handle writes out all of the file's cached data)
  // or, for a directory, its entries.
  if (IsDirectory(native)) return SyncDirectory(path);
  return FlushHandleOf(native, path, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

Status SyncDirectory(const std::string& path) { return SyncDirectoryNow(path); }

Status SyncFileSystemOf(const std::string& path) { return SyncFileSystemNow(path); }

}  // namespace platform
