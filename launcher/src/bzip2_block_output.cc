#include "bzip2_block_output.h"

#include <cstring>

#include "bzip2_crc.h"

namespace launcher {
namespace bzip2 {
namespace {

// Decoded bytes are handed on in pieces of this size; a run adds at most 255
// bytes at once, which the slack leaves room for.
constexpr std::size_t kPieceBytes = 64 * 1024;
constexpr std::size_t kRunSlack = 256;

// Links each position of the transform's output to its successor in the
// original order: the stable sort of the bytes, as positions, gives for each
// sorted position the one it came from.
void Link(std::uint32_t* links, const std::uint32_t* byteCounts, std::uint32_t size) {
  std::uint32_t next[256];
  std::uint32_t sum = 0;
  for (int value = 0; value < 256; ++value) {
    next[value] = sum;
    sum += byteCounts[value];
  }
  for (std::uint32_t i = 0; i < size; ++i) links[next[links[i] & 0xFF]++] |= i << 8;
}

// Follows the links from origin for size steps and undoes the run-length
// coding on the way: after four equal bytes, the next counts further copies.
EmitResult WalkAndUndoRuns(const std::uint32_t* links, std::uint32_t size, std::uint32_t origin,
                           const ByteOutput& output, std::uint32_t* crc) {
  thread_local unsigned char piece[kPieceBytes + kRunSlack];
  std::uint32_t running = kCrcStart;
  std::size_t written = 0;
  std::uint32_t position = links[origin] >> 8;
  int last = -1;
  int equal = 0;
  for (std::uint32_t left = size; left > 0; --left) {
    if (written >= kPieceBytes) {
      running = ExtendCrc(running, piece, written);
      if (!output(piece, written)) return EmitResult::kStopped;
      written = 0;
    }
    const std::uint32_t entry = links[position];
    position = entry >> 8;
    const auto value = static_cast<std::uint8_t>(entry);
    if (equal == 4) {
      std::memset(piece + written, last, value);
      written += value;
      last = -1;
      equal = 0;
      continue;
    }
    piece[written++] = value;
    if (value == last) {
      ++equal;
    } else {
      last = value;
      equal = 1;
    }
  }
  running = ExtendCrc(running, piece, written);
  if (written > 0 && !output(piece, written)) return EmitResult::kStopped;
  *crc = ~running;
  return equal == 4 ? EmitResult::kMalformed : EmitResult::kEmitted;
}

}  // namespace

void BlockBuffers::Reserve(std::uint32_t maxBlockSize) {
  if (capacity >= maxBlockSize) return;
  links.reset(new std::uint32_t[maxBlockSize]);  // not value-initialised: see above
  capacity = maxBlockSize;
}

BlockBuffers& BlockBuffers::OfThisThread() {
  thread_local BlockBuffers buffers;
  return buffers;
}

EmitResult EmitBlock(BlockBuffers& buffers, std::uint32_t size, std::uint32_t origin,
                     const ByteOutput& output, std::uint32_t* crc) {
  Link(buffers.links.get(), buffers.byteCounts, size);
  return WalkAndUndoRuns(buffers.links.get(), size, origin, output, crc);
}

}  // namespace bzip2
}  // namespace launcher
