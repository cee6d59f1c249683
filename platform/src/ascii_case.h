// ASCII-only letter case, as the Windows file system compares names here:
// bytes outside 'A'..'Z' are left alone, whatever the locale.
#ifndef MAROVETIN_PLATFORM_SRC_ASCII_CASE_H_
#define MAROVETIN_PLATFORM_SRC_ASCII_CASE_H_

namespace platform {
namespace internal {

inline unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_ASCII_CASE_H_
