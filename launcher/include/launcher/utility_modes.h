// The launcher's two small utility modes: "-mbts" (a 4-byte binary number to
// decimal text) and "-sv" (write the update index).
#ifndef MAROVETIN_LAUNCHER_UTILITY_MODES_H_
#define MAROVETIN_LAUNCHER_UTILITY_MODES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace launcher {

// The update index file below the installation directory.
inline constexpr char kUpdateIndexPath[] = "/UpdateSetting/UpdateIndex.dat";

enum class ConvertResult {
  kWritten,           // the target holds the number as text
  kSourceMissing,     // the source did not open: nothing was written
  kSourceShort,       // the source holds fewer than 4 bytes: nothing was written
  kTargetNotWritten,  // the target could not be opened or written
};

// Reads the first 4 bytes of source as a little-endian signed 32-bit number
// and writes it to target as "%d" text, without a line end. A source shorter
// than 4 bytes holds no number: the target is left as it is. *sourceBytes
// receives how many bytes were read (at most 4) when given.
ConvertResult ConvertBinaryToText(const std::string& source, const std::string& target,
                                  std::size_t* sourceBytes = nullptr,
                                  platform::Env* env = platform::Env::Default());

// The update index that text names: only decimal digits (leading zeros
// allowed), from 0 to 4294967295. False for anything else (a sign, blanks,
// letters, an empty text, a larger number), with *value untouched.
bool ParseUpdateIndex(const std::string& text, std::uint32_t* value);

// Writes value as 4 little-endian bytes to currentDir + kUpdateIndexPath
// (created or truncated). The directory is not created. False when the file
// could not be opened or written; *path receives the index file's path
// either way.
bool WriteUpdateIndex(const std::string& currentDir, std::uint32_t value, std::string* path,
                      platform::Env* env = platform::Env::Default());

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_UTILITY_MODES_H_

