// ASCII-only letter case, as the Windows file system compares names: bytes
// outside 'A'..'Z' are left alone, whatever the locale, so that a byte of a
// multi-byte character never changes or matches a letter.
#ifndef MAROVETIN_PLATFORM_ASCII_CASE_H_
#define MAROVETIN_PLATFORM_ASCII_CASE_H_

#include <string>

namespace platform {

inline unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// text with its ASCII letters lower-cased.
inline std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_ASCII_CASE_H_
