// The last two steps of decoding a bzip2 block: undoing the Burrows-Wheeler
// transform, then the run-length coding under it.
#ifndef MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_
#define MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_

#include <cstdint>
#include <vector>

namespace launcher {
namespace bzip2 {

// A thread's working memory for blocks, 4 bytes per byte of the largest
// block it decoded. It is kept for the next block: a 900,000-byte block
// needs 3.6 MB, and clearing that for every small file would cost more than
// decoding it.
struct BlockBuffers {
  // The block's bytes in the order the transform left them (low 8 bits)
  // and, once linked, the position of each one's successor (upper 24).
  std::vector<std::uint32_t> links;

  // Sized for blocks of up to maxBlockSize bytes.
  void Reserve(std::uint32_t maxBlockSize);

  static BlockBuffers& OfThisThread();
};

// Undoes the transform of the size bytes in buffers.links, whose original
// first byte sorted to position origin (below size), and the run-length
// coding (four equal bytes, then a count of further copies), appending the
// bytes to out. False when a run of four ends the block without its count,
// which no encoder writes.
bool EmitBlock(BlockBuffers& buffers, std::uint32_t size, std::uint32_t origin,
               std::vector<unsigned char>& out);

}  // namespace bzip2
}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BZIP2_BLOCK_OUTPUT_H_
