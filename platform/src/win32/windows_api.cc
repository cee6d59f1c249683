// Windows error codes turned into results, in one place; paths as Windows
// takes them; and the standard streams in binary mode.
#include "platform/path_spelling.h"
#include "windows_api.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {
namespace internal {

namespace {

// The system writes its lines with "\n" and means exactly those bytes: in the
// C runtime's text mode standard output and error would turn each into
// "\r\n", and a script reading the program (or a comparison with the Linux
// program) would see other bytes. Set before main, in this file because every
// program that uses the layer links it (NativePath).
[[maybe_unused]] const bool binaryStandardStreams = [] {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace

int ErrnoFromWindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
      return EINVAL;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return EIO;
    default:
      return 0;
  }
}

Status StatusFromWindowsError(DWORD error, std::string context) {
  if (int mapped = ErrnoFromWindowsError(error))
    return Status::FromErrno(mapped, std::move(context));
  char text[256] = {};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
  // The system's text ends with a line break; a status is one line.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  std::string message =
      length > 0 ? std::string(text, length) : "Windows error " + std::to_string(error);
  return Status::Error(Status::Code::kIoError, std::move(context), std::move(message));
}

std::string NativePath(const std::string& path) { return WithForwardSlashes(path); }

}  // namespace internal
}  // namespace platform
