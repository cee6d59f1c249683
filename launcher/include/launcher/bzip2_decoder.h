// A bzip2 decoder for the payloads that standard encoders write, two to
// three times as fast as the bzip2 library's own: it reads codes through lookup
// tables and decodes a whole file held in memory, without the library's
// resumable state machine.
//
// It decodes only input it can vouch for: well-formed streams whose every
// block and stream checksum matches. Anything else (damage, a truncated or
// trailing stream, the old randomised blocks, Huffman codes that are not
// complete) is left to the bzip2 library, which decides and reports exactly
// as it always has: the decoder then gives the bytes back untouched.
#ifndef MAROVETIN_LAUNCHER_BZIP2_DECODER_H_
#define MAROVETIN_LAUNCHER_BZIP2_DECODER_H_

#include <cstddef>
#include <functional>
#include <vector>

namespace launcher {

// Decodes every bzip2 stream of [data, data + size), one after the other as
// bunzip2 does with concatenated streams, and appends the bytes to out.
// True when all of it decoded and checked; false when the input is to be
// handed to the bzip2 library instead, with out as it was before the call.
// Safe to call from several threads at once; each thread keeps its own
// working memory: 4 bytes per byte of the largest block it decoded, 3.6 MB
// at most, and the 2.5 MiB input window below.
bool DecodeBzip2Streams(const unsigned char* data, std::size_t size,
                        std::vector<unsigned char>& out);

// Fills buffer with up to capacity more input bytes: the count, 0 at the end
// of the input, -1 on a read error.
using Bzip2Input = std::function<long(unsigned char* buffer, std::size_t capacity)>;
// Takes the next decoded bytes; false stops the decoding.
using Bzip2Output = std::function<bool(const unsigned char* data, std::size_t size)>;

enum class FastBzip2Result {
  kDecoded,     // every stream decoded and checked
  kDeclined,    // for the bzip2 library: output may have had bytes that do not count
  kStopped,     // the output refused a piece
  kReadFailed,  // the input reported a read error
};

// The same decoding for input of any length in bounded memory: the input is
// read through a window of 2.5 MiB and each block is decoded out of it, its
// bytes handed to output in pieces of about 64 KiB. A block goes to output
// before its checksum can be compared: after kDeclined the output holds bytes
// that must be dropped, and the library decodes the input from its start.
FastBzip2Result DecodeBzip2Piecewise(const Bzip2Input& input, const Bzip2Output& output);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_DECODER_H_
