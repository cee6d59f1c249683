// Win32 implementation of the file and directory calls. Windows itself takes
// "\" and "/" alike and matches names without regard to case, so the path
// translation that the POSIX layer emulates is nearly nothing here.
// Directory enumeration lives in directory_listing_win32.cc, the sync calls
// in file_sync_win32.cc.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "windows_api.h"
#include "system_files.h"

namespace platform {

namespace {

using internal::NativePath;

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesA(NativePath(path).c_str());
}

}  // namespace

std::string ResolvePath(const std::string& path) { return NativePath(path); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  if (path.empty() || mode == nullptr) return nullptr;
  // A directory does not open as a file on Windows: fopen fails by itself,
  // saying EACCES; the reason is told as on POSIX systems.
  std::FILE* file = std::fopen(NativePath(path).c_str(), mode);
  if (file == nullptr && IsDirectory(path)) errno = EISDIR;
  return file;
}

// One fread of an unbuffered stream: the C library reads on until the count
// or the end, which is what a regular file gives in one read anyway.
long long ReadSomeFromFile(std::FILE* file, void* data, std::size_t length) {
  return ReadFromFile(file, data, length);
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsReadableFile(const std::string& path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  HANDLE file = ::CreateFileA(NativePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// False for a call that just failed, errno saying why as the POSIX calls do
// (the Env reads it).
bool FailedWith(DWORD error) {
  errno = internal::ErrnoFromWindowsError(error);
  return false;
}

bool EmptyPath() {
  errno = EINVAL;
  return false;
}

}  // namespace

bool CreateDirectory(const std::string& path) {
  if (path.empty()) return EmptyPath();
  return ::CreateDirectoryA(NativePath(path).c_str(), nullptr) != 0 ||
         FailedWith(::GetLastError());
}

bool RemoveDirectory(const std::string& path) {
  if (path.empty()) return EmptyPath();
  return ::RemoveDirectoryA(NativePath(path).c_str()) != 0 || FailedWith(::GetLastError());
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return EmptyPath();
  return ::DeleteFileA(NativePath(path).c_str()) != 0 || FailedWith(::GetLastError());
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return EmptyPath();
  // Write-through: the call returns once the new name is on the disk, which
  // is what the POSIX layer gets from the directory sync that follows.
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (::MoveFileExA(source.c_str(), target.c_str(), flags) != 0) return true;
  // Windows refuses to replace a read-only file, where POSIX asks only the
  // directory: the target loses that bit for the move and gets it back when
  // the move fails all the same.
  const DWORD error = ::GetLastError();
  const DWORD attributes = Attributes(to);
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::SetLastError(error);
    return FailedWith(error);
  }
  if (::SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) == 0) {
    ::SetLastError(error);
    return FailedWith(error);
  }
  if (::MoveFileExA(source.c_str(), target.c_str(), flags) != 0) return true;
  const DWORD again = ::GetLastError();
  ::SetFileAttributesA(target.c_str(), attributes);
  ::SetLastError(again);
  return FailedWith(again);
}

bool SetAttributesNormal(const std::string& path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailedWith(::GetLastError());
  // A directory keeps its directory bit; only read-only and the like go.
  DWORD normal = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_ATTRIBUTE_DIRECTORY
                                                              : FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesA(NativePath(path).c_str(), normal) != 0 ||
         FailedWith(::GetLastError());
}

bool RenameResolvedFile(const std::string& from, const std::string& to) {
  return RenameFile(from, to);
}

bool LinkAsNewFile(const std::string&, const std::string&) {
  // NTFS has hard links, but a file's attributes and security would come
  // along with it: the bytes are copied instead.
  errno = ENOSYS;
  return false;
}

bool CopyPermissions(const std::string& from, const std::string& to) {
  const DWORD source = Attributes(from);
  if (source == INVALID_FILE_ATTRIBUTES || Attributes(to) == INVALID_FILE_ATTRIBUTES) {
    return FailedWith(::GetLastError());
  }
  // What Windows keeps of a file's permissions are its attributes; read-only
  // goes, since a read-only file could not be replaced by the next update,
  // and what describes the storage rather than the file stays behind.
  const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = source & kept;
  return ::SetFileAttributesA(NativePath(to).c_str(),
                              attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) != 0 ||
         FailedWith(::GetLastError());
}

bool GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) {
  return (Attributes(delivered) != INVALID_FILE_ATTRIBUTES &&
          Attributes(to) != INVALID_FILE_ATTRIBUTES) ||
         FailedWith(::GetLastError());
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string GetCurrentDirectory() {
  std::vector<char> buffer(1024);
  for (;;) {
    DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);  // length is the size needed, with the terminator
  }
}

bool SetCurrentDirectory(const std::string& path) {
  return !path.empty() && ::SetCurrentDirectoryA(NativePath(path).c_str()) != 0;
}

// Windows matches names without regard to case itself: there is nothing to
// keep between look-ups.
NameMatchCacheScope::NameMatchCacheScope() = default;
NameMatchCacheScope::~NameMatchCacheScope() = default;

}  // namespace platform
