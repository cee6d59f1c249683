#include "launcher/utility_modes.h"

#include <cstdio>

#include "platform/byte_order.h"
#include "platform/file_system.h"

namespace launcher {
namespace {

// Closes the stream and tells whether everything written reached the file.
bool CloseAfterWriting(std::FILE* file, bool written) {
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

}  // namespace

ConvertResult ConvertBinaryToText(const std::string& source, const std::string& target,
                                  std::size_t* sourceBytes, platform::Env* env) {
  std::FILE* in = nullptr;
  if (!env->OpenStream(source, "rb", &in).ok()) return ConvertResult::kSourceMissing;
  unsigned char bytes[4] = {0, 0, 0, 0};
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, in);
  std::fclose(in);
  if (sourceBytes != nullptr) *sourceBytes = got;
  // Zeros for the missing bytes would pass for a number nobody wrote.
  if (got != sizeof bytes) return ConvertResult::kSourceShort;
  const auto value = static_cast<std::int32_t>(platform::LoadU32(bytes));

  std::FILE* out = nullptr;
  if (!env->OpenStream(target, "w", &out).ok()) return ConvertResult::kTargetNotWritten;
  const bool written = std::fprintf(out, "%d", static_cast<int>(value)) > 0;
  return CloseAfterWriting(out, written) ? ConvertResult::kWritten
                                         : ConvertResult::kTargetNotWritten;
}

bool ParseUpdateIndex(const std::string& text, std::uint32_t* value) {
  if (text.empty()) return false;
  std::uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
    // Checked at every digit, so that no number of digits can overflow.
    if (number > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(number);
  return true;
}

bool WriteUpdateIndex(const std::string& currentDir, std::uint32_t value, std::string* path,
                      platform::Env* env) {
  const std::string indexPath = currentDir + kUpdateIndexPath;
  if (path != nullptr) *path = indexPath;
  unsigned char bytes[4];
  platform::StoreU32(bytes, value);

  std::FILE* file = nullptr;
  if (!env->OpenStream(indexPath, "wb+", &file).ok()) return false;
  const bool written = std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
  return CloseAfterWriting(file, written);
}

}  // namespace launcher
