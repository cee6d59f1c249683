// The last two steps of decoding a bzip2 block: undoing the Burrows-Wheeler
// transform, then the run-length coding under it.
#ifndef MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_
#define MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace launcher {
namespace bzip2 {

// Where decoded bytes go, a piece at a time; false stops the decoding.
using ByteOutput = std::function<bool(const unsigned char* data, std::size_t size)>;

// A thread's working memory for blocks, kept for the next block: a
// 900,000-byte block needs 3.6 MB. It is never cleared, as clearing it for
// every small file would cost more than decoding it; so the memory in use
// is 4 bytes per byte of the largest block decoded, not of the largest
// block a stream allows.
struct BlockBuffers {
  // The block's bytes in the order the transform left them (low 8 bits)
  // and, once linked, the position of each one's successor (upper 24).
  std::unique_ptr<std::uint32_t[]> links;
  std::uint32_t capacity = 0;
  std::uint32_t byteCounts[256];  // how often each byte value occurs in the block

  // Sized for blocks of up to maxBlockSize bytes.
  void Reserve(std::uint32_t maxBlockSize);

  static BlockBuffers& OfThisThread();
};

// What EmitBlock came to.
enum class EmitResult {
  kEmitted,
  kMalformed,  // a run of four ends the block without its count, which no encoder writes
  kStopped,    // the output refused a piece
};

// Undoes the transform of the size bytes in buffers.links (counted in
// buffers.byteCounts), whose original first byte sorted to position origin
// (below size), and the run-length coding (four equal bytes, then a count of
// further copies). The bytes go to output in pieces of at most 64 KiB and
// one run (255 bytes), however long the block decodes (a block can grow
// fifty-fold); *crc gets the block's checksum.
EmitResult EmitBlock(BlockBuffers& buffers, std::uint32_t size, std::uint32_t origin,
                     const ByteOutput& output, std::uint32_t* crc);

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_
