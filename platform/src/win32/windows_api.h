// The Windows API for the Win32 implementation files, with the ANSI macros
// that collide with the platform layer's own names taken away: windows.h
// maps CreateDirectory to CreateDirectoryA and so on, which would rename the
// layer's functions in these files only. The code calls the A functions by
// their full names instead.
#ifndef MAROVETIN_PLATFORM_SRC_WIN32_WINDOWS_API_H_
#define MAROVETIN_PLATFORM_SRC_WIN32_WINDOWS_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateDirectory
#undef RemoveDirectory
#undef DeleteFile
#undef GetCurrentDirectory
#undef SetCurrentDirectory

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace platform {
namespace internal {

// The errno that stands for a Windows error code, so that callers that look
// at Status::error() see the same values on both systems; 0 when there is no
// close counterpart.
int ErrnoFromWindowsError(DWORD error);

// The failure of a Windows call on context: errno-based when the error has a
// counterpart, otherwise with the system's own text.
Status StatusFromWindowsError(DWORD error, std::string context);

// The path as Windows wants it: "/" is as good as "\" to the API, so only the
// empty path needs care (it means nothing and is refused by callers).
std::string NativePath(const std::string& path);

// Kernel handles carry 32 significant bits on 64-bit Windows too (they are
// passed between 32- and 64-bit processes that way), so an int can hold one.
inline int HandleToInt(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
inline HANDLE IntToHandle(int value) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_WIN32_WINDOWS_API_H_
