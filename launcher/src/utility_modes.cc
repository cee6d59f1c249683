#include "launcher/utility_modes.h"

#include <cstdio>
#include <limits>

#include "platform/byte_order.h"
#include "platform/file_system.h"

namespace launcher {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Closes the stream and tells whether everything written reached the file.
bool CloseAfterWriting(std::FILE* file, bool written) {
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

}  // namespace

ConvertResult ConvertBinaryToText(const std::string& source, const std::string& target) {
  std::FILE* in = platform::OpenFile(source, "rb");
  if (in == nullptr) return ConvertResult::kSourceMissing;
  unsigned char bytes[4] = {0, 0, 0, 0};
  const std::size_t ignored = std::fread(bytes, 1, sizeof bytes, in);
  static_cast<void>(ignored);
  std::fclose(in);
  const auto value = static_cast<std::int32_t>(platform::LoadU32(bytes));

  std::FILE* out = platform::OpenFile(target, "w");
  if (out == nullptr) return ConvertResult::kTargetNotWritten;
  const bool written = std::fprintf(out, "%d", static_cast<int>(value)) > 0;
  return CloseAfterWriting(out, written) ? ConvertResult::kWritten
                                         : ConvertResult::kTargetNotWritten;
}

std::int32_t ParseDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // The magnitude is clamped at 2^31, so it never overflows and the lowest
  // 32-bit value is still reachable with a minus sign.
  constexpr long long kLowest = std::numeric_limits<std::int32_t>::min();
  long long magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > -kLowest) magnitude = -kLowest;
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(value);
}

std::string DecimalValueNote(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t digits = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  const std::string wrote = std::to_string(ParseDecimal(text));
  if (i == digits || i != text.size()) return text + ": not a number, wrote " + wrote;
  // Digits only: the number fits unless the conversion had to saturate.
  const std::string typed = text.substr(digits);
  const std::size_t first = typed.find_first_not_of('0');
  const std::string magnitude = first == std::string::npos ? "0" : typed.substr(first);
  const std::string written = wrote[0] == '-' ? wrote.substr(1) : wrote;
  if (magnitude != written) return text + ": out of range, wrote " + wrote;
  return std::string();
}

bool WriteUpdateIndex(const std::string& currentDir, const std::string& value, std::string* path) {
  const std::string indexPath = currentDir + kUpdateIndexPath;
  if (path != nullptr) *path = indexPath;
  unsigned char bytes[4];
  platform::StoreU32(bytes, static_cast<std::uint32_t>(ParseDecimal(value)));

  std::FILE* file = platform::OpenFile(indexPath, "wb+");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
  return CloseAfterWriting(file, written);
}

}  // namespace launcher
