// Which file a path names: its volume serial number and file index.
// The final path of an open handle gives the canonical spelling.
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"
#include "windows_api.h"
#include "system_files.h"

namespace platform {

namespace {

// The file or directory itself, opened with no access rights: only its
// identity and name are read. Backup semantics lets a directory open too.
HANDLE OpenForIdentity(const std::string& path) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  return ::CreateFileA(internal::NativePath(path).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The information of the file path leads to; false, errno saying why, when
// there is none or it cannot be opened.
bool InfoOf(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE file = OpenForIdentity(path);
  if (file == INVALID_HANDLE_VALUE) {
    errno = path.empty() ? ENOENT : internal::ErrnoFromWindowsError(::GetLastError());
    return false;
  }
  const bool ok = ::GetFileInformationByHandle(file, info) != 0;
  if (!ok) errno = internal::ErrnoFromWindowsError(::GetLastError());
  ::CloseHandle(file);
  return ok;
}

// "\\?\C:\dir" as "C:\dir" and "\\?\UNC\server\share" as "\\server\share":
// the long-path prefix is for the API, not for people or path comparisons.
std::string WithoutLongPathPrefix(std::string path) {
  if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\" + path.substr(7);
  if (path.compare(0, 4, "\\\\?\\") == 0) return path.substr(4);
  return path;
}

// The absolute path without "." and ".." levels, when the final path of a
// handle cannot be had (links are then not seen through).
std::string FullPathName(const std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetFullPathNameA(internal::NativePath(path).c_str(), static_cast<DWORD>(buffer.size()),
                           buffer.data(), nullptr);
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

namespace {

FileStamp StampFromInfo(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                         info.nFileSizeLow);
  // 100-nanosecond units; the write time stands for both times.
  const std::uint64_t written =
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime;
  stamp.modifiedNs = static_cast<std::int64_t>(written) * 100;
  stamp.changedNs = stamp.modifiedNs;
  return stamp;
}

}  // namespace

bool StampPath(const std::string& path, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  *stamp = FileStamp();
  if (!InfoOf(path, &info)) return false;
  *stamp = StampFromInfo(info);
  return true;
}

std::FILE* OpenFileToRead(const std::string& path, FileStamp* stamp) {
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE || ::GetFileInformationByHandle(handle, &info) == 0) {
    std::fclose(file);
    errno = EIO;
    return nullptr;
  }
  *stamp = StampFromInfo(info);
  return file;
}

bool IsSymbolicLink(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(internal::NativePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::string CanonicalPath(const std::string& path) {
  HANDLE file = OpenForIdentity(path);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::vector<char> buffer(MAX_PATH);
  std::string result;
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleA(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) break;
    if (length < buffer.size()) {
      result = WithoutLongPathPrefix(std::string(buffer.data(), length));
      break;
    }
    buffer.resize(length + 1);
  }
  ::CloseHandle(file);
  if (result.empty()) result = FullPathName(path);
  // One separator throughout, so that callers can compare and nest these
  // paths by "/" as on POSIX; Windows takes it as well as "\".
  return WithForwardSlashes(std::move(result));
}

}  // namespace platform
