// Win32 implementation of the file and directory calls. Windows itself takes
// "\" and "/" alike and matches names without regard to case, so the path
// translation that the POSIX layer emulates is nearly nothing here.
// Directory enumeration lives in directory_listing_win32.cc, the sync calls
// in file_sync_win32.cc.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "windows_api.h"

namespace platform {

namespace {

using internal::NativePath;

DWORD Attributes(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesA(NativePath(path).c_str());
}

// msvcrt reports a bad descriptor through its invalid-parameter handler,
// whose default ends the process; while this object lives a bad descriptor
// only makes the call fail.
class QuietInvalidParameters {
 public:
  QuietInvalidParameters() : previous_(_set_invalid_parameter_handler(&Ignore)) {}
  ~QuietInvalidParameters() { _set_invalid_parameter_handler(previous_); }

 private:
  static void Ignore(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}
  _invalid_parameter_handler previous_;
};

}  // namespace

std::string ResolvePath(const std::string& path) { return NativePath(path); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  if (path.empty() || mode == nullptr) return nullptr;
  // A directory does not open as a file on Windows: fopen fails by itself.
  return std::fopen(NativePath(path).c_str(), mode);
}

int OpenReadDescriptor(const std::string& path) {
  if (path.empty()) return -1;
  return ::_open(NativePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

void CloseDescriptorIfOpen(int fd) {
  if (fd < 0) return;
  QuietInvalidParameters quiet;
  if (::_get_osfhandle(fd) == -1) return;
  ::_close(fd);
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

bool CreateDirectory(const std::string& path) {
  return !path.empty() && ::CreateDirectoryA(NativePath(path).c_str(), nullptr) != 0;
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && ::RemoveDirectoryA(NativePath(path).c_str()) != 0;
}

bool DeleteFile(const std::string& path) {
  return !path.empty() && ::DeleteFileA(NativePath(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  // Write-through: the call returns once the new name is on the disk, which
  // is what the POSIX layer gets from the directory sync that follows.
  return ::MoveFileExA(NativePath(from).c_str(), NativePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool SetAttributesNormal(const std::string& path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // A directory keeps its directory bit; only read-only and the like go.
  DWORD normal = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FILE_ATTRIBUTE_DIRECTORY
                                                              : FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesA(NativePath(path).c_str(), normal) != 0;
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

}  // namespace platform
