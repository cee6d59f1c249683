// The bzip2 library's stream decoder over input of any length: every stream
// of the input in turn, in bounded memory, saying exactly what is wrong with
// input it cannot decode.
#ifndef MAROVETIN_LAUNCHER_BZIP2_LIBRARY_STREAM_H_
#define MAROVETIN_LAUNCHER_BZIP2_LIBRARY_STREAM_H_

#include "launcher/bzip2_decoder.h"

namespace launcher {

enum class LibraryDecode {
  kDecoded,
  kNotBzip2,      // the input does not begin with a bzip2 stream (an empty one included)
  kTruncated,     // the input ends inside a stream
  kTrailingData,  // after a stream, bytes that begin no other stream
  kDamaged,       // a checksum or a code does not match
  kOutOfMemory,
  kReadFailed,  // the input reported a read error
  kStopped,     // the output refused a piece
};

// Decodes every stream of input, one after the other, as bunzip2 does with
// concatenated streams, handing the bytes to output.
LibraryDecode DecodeWithBzip2Library(const Bzip2Input& input, const Bzip2Output& output);

// What a failed decoding is called in messages ("a truncated bzip2 stream").
const char* DescribeLibraryDecode(LibraryDecode result);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_LIBRARY_STREAM_H_
