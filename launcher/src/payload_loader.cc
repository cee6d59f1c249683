#include "launcher/payload_loader.h"

#include <bzlib.h>

#include <array>
#include <climits>
#include <cstdio>

#include "launcher/byte_inversion.h"
#include "platform/cpu_features.h"
#include "platform/file_system.h"

namespace launcher {

PayloadLoader* thePayloadLoader = nullptr;

namespace {

// Decompressed data arrive in pieces of this size.
constexpr int kStagingBytes = 4096;

}  // namespace

ProcessorInfo ProcessorInfo::Probe() {
  ProcessorInfo info;
  info.hasMmx = platform::ProcessorHasMmx();
  return info;
}

PayloadLoader::PayloadLoader() : processorInfo_(ProcessorInfo::Probe()) {}

PayloadLoader::PayloadLoader(ProcessorInfo info) : processorInfo_(info) {}

int PayloadLoader::loadFile(const char* path, std::vector<unsigned char>& buffer) const {
  if (path == nullptr) return -1;
  return readBzip2_ ? loadBzip2(path, buffer) : loadPlain(path, buffer);
}

void PayloadLoader::invertBuffer(unsigned char* start, std::size_t length) const {
  if (processorInfo_.hasMmx) {
    InvertBytesInBlocks(start, length);
  } else {
    InvertBytesOneByOne(start, length);
  }
}

int PayloadLoader::loadBzip2(const char* path, std::vector<unsigned char>& buffer) const {
  // The file is opened through the platform layer (separators, letter case)
  // and the descriptor handed to the bzip2 library, which closes it.
  const int descriptor = platform::OpenReadDescriptor(path);
  if (descriptor < 0) return -1;
  BZFILE* stream = BZ2_bzdopen(descriptor, "rb");
  if (stream == nullptr) {
    // Depending on where the library failed, it closed the descriptor or not.
    platform::CloseDescriptorIfOpen(descriptor);
    return -1;
  }

  std::array<unsigned char, kStagingBytes> staging{};
  int count;
  while ((count = BZ2_bzread(stream, staging.data(), kStagingBytes)) > 0) {
    buffer.insert(buffer.end(), staging.begin(), staging.begin() + count);
  }
  BZ2_bzclose(stream);
  // A data or read error (including a file that is not bzip2 at all): what
  // was decoded before it stays in the buffer, and it is not inverted.
  if (count < 0) return -1;

  if (invertBytes_) invertBuffer(buffer.data(), buffer.size());
  return 0;
}

int PayloadLoader::loadPlain(const char* path, std::vector<unsigned char>& buffer) const {
  // A directory opens for reading on POSIX, but it has no bytes to give and
  // its seek end is no size.
  if (platform::IsDirectory(path)) return -1;
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) return -1;
  // The file is read whole in one piece: no stream buffer to copy through.
  std::setvbuf(file, nullptr, _IONBF, 0);

  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  // The result is a signed 32-bit size; a file that cannot be measured or
  // measured beyond it cannot be reported and is not read.
  if (size < 0 || size > INT_MAX || std::fseek(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return -1;
  }

  // The buffer gets the file's size, zero-filled, before the one read: bytes
  // that a short read does not deliver stay 0.
  buffer.assign(static_cast<std::size_t>(size), 0);
  if (size > 0) {
    const std::size_t ignored = std::fread(buffer.data(), 1, buffer.size(), file);
    static_cast<void>(ignored);
  }
  std::fclose(file);

  if (invertBytes_) {
    invertBuffer(buffer.data(), buffer.size());
    return 0;
  }
  return static_cast<int>(size);
}

}  // namespace launcher
