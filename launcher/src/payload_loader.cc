#include "launcher/payload_loader.h"

#include <bzlib.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>

#include "launcher/byte_inversion.h"
#include "launcher/bzip2_decoder.h"
#include "platform/cpu_features.h"
#include "platform/file_system.h"

namespace launcher {

PayloadLoader* thePayloadLoader = nullptr;

namespace {

// Decompressed data arrive in pieces of this size.
constexpr int kStagingBytes = 4096;

// Decodes every bzip2 stream of file, one after the other, as bunzip2 does
// with the output of parallel compressors (streams simply concatenated).
// The first stream must be there; after it, the file may end or another
// stream must begin: bytes that do not start a stream make the whole payload
// undecodable, as a damaged stream does. False on any error; the bytes decoded
// before it stay appended to buffer.
bool DecodeConcatenatedStreams(std::FILE* file, std::vector<unsigned char>& buffer) {
  std::array<unsigned char, kStagingBytes> staging{};
  // Bytes read past the end of one stream, which begin the next.
  std::array<unsigned char, BZ_MAX_UNUSED> carried{};
  int carriedCount = 0;
  for (bool first = true;; first = false) {
    if (!first && carriedCount == 0) {
      // Nothing carried over: the file ends here or the next stream starts.
      const int next = std::fgetc(file);
      if (next == EOF) return std::ferror(file) == 0;
      std::ungetc(next, file);
    }
    int error = BZ_OK;
    BZFILE* stream = BZ2_bzReadOpen(&error, file, 0, 0, carried.data(), carriedCount);
    if (stream == nullptr || error != BZ_OK) {
      if (stream != nullptr) BZ2_bzReadClose(&error, stream);
      return false;
    }
    while (error == BZ_OK) {
      const int count = BZ2_bzRead(&error, stream, staging.data(), kStagingBytes);
      if ((error == BZ_OK || error == BZ_STREAM_END) && count > 0) {
        buffer.insert(buffer.end(), staging.begin(), staging.begin() + count);
      }
    }
    if (error != BZ_STREAM_END) {
      BZ2_bzReadClose(&error, stream);
      return false;
    }
    void* unused = nullptr;
    int unusedCount = 0;
    BZ2_bzReadGetUnused(&error, stream, &unused, &unusedCount);
    if (error != BZ_OK) {
      BZ2_bzReadClose(&error, stream);
      return false;
    }
    // The unused bytes live in the stream, which the close frees: copy first.
    carriedCount = unusedCount;
    if (unusedCount > 0) std::memcpy(carried.data(), unused, static_cast<std::size_t>(unusedCount));
    BZ2_bzReadClose(&error, stream);
  }
}

// The file's size, with its position back at the start; -1 when it cannot
// be measured or rewound.
long MeasureFromStart(std::FILE* file) {
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

// Reads the whole of file, from its start, into bytes. False when it cannot
// be measured or read, or changes size while it is read.
bool ReadWholeFile(std::FILE* file, std::vector<unsigned char>& bytes) {
  const long size = MeasureFromStart(file);
  if (size < 0) return false;
  // One byte more than measured: reading it means the file grew.
  bytes.resize(static_cast<std::size_t>(size) + 1);
  const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
  if (std::ferror(file) != 0 || read != static_cast<std::size_t>(size)) return false;
  bytes.resize(read);
  return true;
}

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
  // The loader owns the stream from open to close: the file is opened
  // through the platform layer (separators, letter case) and read by the
  // bzip2 library through that FILE*.
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) return -1;
  // The fast decoder takes the payloads that standard encoders write; what
  // it leaves, damaged files above all, the library reads from the start
  // and decides on, with what it appends before an error.
  std::vector<unsigned char> packed;
  bool decoded =
      ReadWholeFile(file, packed) && DecodeBzip2Streams(packed.data(), packed.size(), buffer);
  if (!decoded) {
    std::rewind(file);
    decoded = DecodeConcatenatedStreams(file, buffer);
  }
  std::fclose(file);
  // A data or read error (including a file that is not bzip2 at all): what
  // was decoded before it stays in the buffer, and it is not inverted.
  if (!decoded) return -1;

  if (invertBytes_) invertBuffer(buffer.data(), buffer.size());
  return 0;
}

int PayloadLoader::loadPlain(const char* path, std::vector<unsigned char>& buffer) const {
  // OpenFile refuses a directory, which has no bytes to give.
  std::FILE* file = platform::OpenFile(path, "rb");
  if (file == nullptr) return -1;
  // The file is read whole in one piece: no stream buffer to copy through.
  std::setvbuf(file, nullptr, _IONBF, 0);

  // The result is a signed 32-bit size; a file that cannot be measured or
  // measured beyond it cannot be reported and is not read.
  const long size = MeasureFromStart(file);
  if (size < 0 || size > INT_MAX) {
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
