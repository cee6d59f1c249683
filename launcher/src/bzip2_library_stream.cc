#include "bzip2_library_stream.h"

#include <bzlib.h>

#include <memory>

namespace launcher {

namespace {

constexpr unsigned kPieceBytes = 64 * 1024;

// One bz_stream for decompression, ended whatever happens.
class Decompressor {
 public:
  Decompressor() = default;
  ~Decompressor() { End(); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Starts a new stream; the input not yet consumed carries over.
  bool Begin() {
    End();
    char* nextIn = stream_.next_in;
    const unsigned availableIn = stream_.avail_in;
    stream_ = bz_stream();
    stream_.next_in = nextIn;
    stream_.avail_in = availableIn;
    started_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
    return started_;
  }
  void End() {
    if (started_) BZ2_bzDecompressEnd(&stream_);
    started_ = false;
  }
  bz_stream& stream() { return stream_; }

 private:
  bz_stream stream_ = bz_stream();
  bool started_ = false;
};

}  // namespace

LibraryDecode DecodeWithBzip2Library(const Bzip2Input& input, const Bzip2Output& output) {
  std::unique_ptr<char[]> in(new char[kPieceBytes]);
  std::unique_ptr<char[]> out(new char[kPieceBytes]);
  Decompressor decompressor;
  bz_stream& stream = decompressor.stream();
  if (!decompressor.Begin()) return LibraryDecode::kOutOfMemory;
  int streams = 0;              // streams decoded to their end
  bool streamHasInput = false;  // the current stream has taken bytes
  bool inputEnded = false;
  for (;;) {
    if (stream.avail_in == 0 && !inputEnded) {
      const long got = input(reinterpret_cast<unsigned char*>(in.get()), kPieceBytes);
      if (got < 0) return LibraryDecode::kReadFailed;
      inputEnded = got == 0;
      stream.next_in = in.get();
      stream.avail_in = static_cast<unsigned>(got);
    }
    if (stream.avail_in == 0 && inputEnded) {
      // Between streams the input may end; inside one it may not.
      if (!streamHasInput) return streams > 0 ? LibraryDecode::kDecoded : LibraryDecode::kNotBzip2;
    }
    const unsigned availableBefore = stream.avail_in;
    stream.next_out = out.get();
    stream.avail_out = kPieceBytes;
    const int status = BZ2_bzDecompress(&stream);
    if (stream.avail_in != availableBefore) streamHasInput = true;
    const std::size_t produced = kPieceBytes - stream.avail_out;
    if (produced > 0 &&
        !output(reinterpret_cast<const unsigned char*>(out.get()), produced)) {
      return LibraryDecode::kStopped;
    }
    switch (status) {
      case BZ_OK:
        // No input left, none to come, and nothing more came out: cut short.
        if (inputEnded && stream.avail_in == 0 && produced == 0) return LibraryDecode::kTruncated;
        break;
      case BZ_STREAM_END:
        ++streams;
        streamHasInput = false;
        if (!decompressor.Begin()) return LibraryDecode::kOutOfMemory;
        break;
      case BZ_DATA_ERROR_MAGIC:
        return streams > 0 ? LibraryDecode::kTrailingData : LibraryDecode::kNotBzip2;
      case BZ_MEM_ERROR:
        return LibraryDecode::kOutOfMemory;
      default:
        return LibraryDecode::kDamaged;
    }
  }
}

const char* DescribeLibraryDecode(LibraryDecode result) {
  switch (result) {
    case LibraryDecode::kDecoded:
      return "decoded";
    case LibraryDecode::kNotBzip2:
      return "not a bzip2 stream";
    case LibraryDecode::kTruncated:
      return "a truncated bzip2 stream";
    case LibraryDecode::kTrailingData:
      return "data after the bzip2 stream";
    case LibraryDecode::kDamaged:
      return "damaged bzip2 data";
    case LibraryDecode::kOutOfMemory:
      return "not enough memory to decode it";
    case LibraryDecode::kReadFailed:
      return "cannot be read";
    case LibraryDecode::kStopped:
      return "stopped";
  }
  return "cannot be decoded";
}

}  // namespace launcher
