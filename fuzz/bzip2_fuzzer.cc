// The fast bzip2 decoder against the bzip2 library. The first byte picks the
// mode:
// - even: the rest is handed to both as it is. The fast decoder may refuse
//   anything, but what it accepts the library must accept with the same bytes,
//   and what it refuses must leave the output exactly as it was.
// - odd: the rest is data, compressed by the library (block size, work factor
//   and the cut into streams taken from the input); the fast decoder must
//   accept what the library itself wrote and give the data back.
#include <bzlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launcher/bzip2_decoder.h"

namespace {

// What out holds before each call: decoded bytes must come after it, and a
// refusal must leave it alone.
const std::vector<unsigned char> kSentinel = {0xA5, 0x00, 0x5A, 0xFF};

// A few bytes of bzip2 can stand for many megabytes; past this much output
// the reference stops and the input is not used.
constexpr std::size_t kReferenceOutputLimit = std::size_t{16} << 20;

enum class Reference { kDecoded, kFailed, kTooLarge };

// Decodes every stream of the input as the payload loader does: the first
// stream must be there; after a stream the input may end or another stream
// must begin; any error fails. Uses the library's own decompressor, over the
// memory instead of a file.
Reference DecodeWithLibrary(const std::uint8_t* data, std::size_t size,
                            std::vector<unsigned char>& out) {
  constexpr std::size_t kPiece = 64 * 1024;
  std::size_t at = 0;
  for (bool first = true;; first = false) {
    if (!first && at == size) return Reference::kDecoded;
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return Reference::kFailed;
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(data + at));
    stream.avail_in = static_cast<unsigned int>(size - at);
    int result = BZ_OK;
    while (result == BZ_OK) {
      if (out.size() >= kReferenceOutputLimit) break;
      const std::size_t before = out.size();
      out.resize(before + kPiece);
      stream.next_out = reinterpret_cast<char*>(out.data() + before);
      stream.avail_out = static_cast<unsigned int>(kPiece);
      result = BZ2_bzDecompress(&stream);
      out.resize(before + kPiece - stream.avail_out);
      // Room left and no input left, yet no end: the stream is cut short.
      if (result == BZ_OK && stream.avail_in == 0 && stream.avail_out > 0) {
        result = BZ_UNEXPECTED_EOF;
      }
    }
    at = size - stream.avail_in;
    BZ2_bzDecompressEnd(&stream);
    if (result == BZ_OK) return Reference::kTooLarge;
    if (result != BZ_STREAM_END) return Reference::kFailed;
  }
}

void CheckRawInput(const std::uint8_t* data, std::size_t size) {
  std::vector<unsigned char> expected;
  const Reference reference = DecodeWithLibrary(data, size, expected);
  // Both would spend their time and memory on the bomb; nothing to compare.
  if (reference == Reference::kTooLarge) return;

  std::vector<unsigned char> out = kSentinel;
  if (launcher::DecodeBzip2Streams(data, size, out)) {
    FUZZ_CHECK(reference == Reference::kDecoded,
               "the fast decoder accepts only what the library does");
    FUZZ_CHECK(out.size() == kSentinel.size() + expected.size(), "both decode as many bytes");
    FUZZ_CHECK(std::equal(kSentinel.begin(), kSentinel.end(), out.begin()),
               "decoded bytes are appended after what out held");
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), out.begin() + kSentinel.size()),
               "both decode the same bytes");
  } else {
    FUZZ_CHECK(out == kSentinel, "a refusal leaves out as it was");
  }
}

// The library's encoding of data at the given block size (1..9) and work factor.
std::string Compress(const std::string& data, int blockSize, int workFactor) {
  std::string compressed(data.size() + data.size() / 100 + 600, '\0');
  auto length = static_cast<unsigned int>(compressed.size());
  const int result =
      BZ2_bzBuffToBuffCompress(&compressed[0], &length, const_cast<char*>(data.data()),
                               static_cast<unsigned int>(data.size()), blockSize, 0, workFactor);
  FUZZ_CHECK(result == BZ_OK, "the library compresses the data");
  compressed.resize(length);
  return compressed;
}

void CheckEncodedData(fuzz::ByteReader& input) {
  const int blockSize = 1 + static_cast<int>(input.Below(9));
  const int workFactor = static_cast<int>(input.Below(251));  // 0 is the library's default
  const int shape = input.U8() % 3;
  const std::size_t split = input.U16();
  const std::string data = input.Rest();

  std::string encoded;
  if (shape == 0) {
    encoded = Compress(data, blockSize, workFactor);
  } else if (shape == 1) {  // two streams, cut anywhere (either may be empty)
    const std::size_t cut = split % (data.size() + 1);
    encoded = Compress(data.substr(0, cut), blockSize, workFactor) +
              Compress(data.substr(cut), 10 - blockSize, workFactor);
  } else {  // the data's stream between two streams of nothing
    encoded = Compress("", blockSize, workFactor) + Compress(data, blockSize, workFactor) +
              Compress("", 9, workFactor);
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(encoded.data());
  const std::vector<unsigned char> original(data.begin(), data.end());

  // The reference must read what the library wrote, or its verdicts mean nothing.
  std::vector<unsigned char> reference;
  FUZZ_CHECK(DecodeWithLibrary(bytes, encoded.size(), reference) == Reference::kDecoded,
             "the reference decodes the library's streams");
  FUZZ_CHECK(reference == original, "the reference gives the data back");

  std::vector<unsigned char> out = kSentinel;
  FUZZ_CHECK(launcher::DecodeBzip2Streams(bytes, encoded.size(), out),
             "the fast decoder accepts the library's streams");
  FUZZ_CHECK(out.size() == kSentinel.size() + original.size() &&
                 std::equal(kSentinel.begin(), kSentinel.end(), out.begin()) &&
                 std::equal(original.begin(), original.end(), out.begin() + kSentinel.size()),
             "the fast decoder gives the data back after what out held");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if ((data[0] & 1) == 0) {
    CheckRawInput(data + 1, size - 1);
  } else {
    fuzz::ByteReader input(data + 1, size - 1);
    CheckEncodedData(input);
  }
  return 0;
}
