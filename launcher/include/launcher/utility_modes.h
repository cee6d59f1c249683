// The launcher's two small utility modes: "-mbts" (a 4-byte binary number to
// decimal text) and "-sv" (write the update index).
#ifndef MAROVETIN_LAUNCHER_UTILITY_MODES_H_
#define MAROVETIN_LAUNCHER_UTILITY_MODES_H_

#include <cstdint>
#include <string>

namespace launcher {

// The update index file below the installation directory.
inline constexpr char kUpdateIndexPath[] = "/UpdateSetting/UpdateIndex.dat";

enum class ConvertResult {
  kWritten,           // the target holds the number as text
  kSourceMissing,     // the source did not open: nothing was written
  kTargetNotWritten,  // the target could not be opened or written
};

// Reads up to 4 bytes of source as a little-endian signed 32-bit number
// (missing high bytes are 0) and writes it to target as "%d" text, without a
// line end.
ConvertResult ConvertBinaryToText(const std::string& source, const std::string& target);

// The number in text as atoi reads it: leading blanks, an optional sign, then
// decimal digits up to the first other character; 0 when there are none.
// Values beyond the 32-bit range saturate.
std::int32_t ParseDecimal(const std::string& text);

// Empty when text is a decimal number in the 32-bit range (blanks before it
// and a sign allowed); otherwise what ParseDecimal makes of it, as
// "TEXT: not a number, wrote N" or "TEXT: out of range, wrote N".
std::string DecimalValueNote(const std::string& text);

// Writes ParseDecimal(value) as 4 little-endian bytes to currentDir +
// kUpdateIndexPath (created or truncated). The directory is not created.
// False when the file could not be opened or written; *path receives the
// index file's path either way.
bool WriteUpdateIndex(const std::string& currentDir, const std::string& value, std::string* path);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_UTILITY_MODES_H_
