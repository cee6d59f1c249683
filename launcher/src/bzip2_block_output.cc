#include "bzip2_block_output.h"

#include <cstring>

namespace launcher {
namespace bzip2 {
namespace {

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
// Appends the bytes to out. False when the block ends on a run of four,
// without its count.
bool WalkAndUndoRuns(const std::uint32_t* links, std::uint32_t size, std::uint32_t origin,
                     std::vector<unsigned char>& out) {
  std::size_t written = out.size();
  // One byte out for each byte in, until a count asks for more.
  out.resize(written + size);
  unsigned char* target = out.data();
  std::uint32_t position = links[origin] >> 8;
  int last = -1;
  int equal = 0;
  for (std::uint32_t left = size; left > 0; --left) {
    const std::uint32_t entry = links[position];
    position = entry >> 8;
    const auto value = static_cast<std::uint8_t>(entry);
    if (equal == 4) {
      if (value > 0) {
        const std::size_t needed = written + value + (left - 1);
        if (needed > out.size()) {
          out.resize(needed);
          target = out.data();
        }
        std::memset(target + written, last, value);
        written += value;
      }
      last = -1;
      equal = 0;
      continue;
    }
    target[written++] = value;
    if (value == last) {
      ++equal;
    } else {
      last = value;
      equal = 1;
    }
  }
  out.resize(written);
  return equal != 4;
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

bool EmitBlock(BlockBuffers& buffers, std::uint32_t size, std::uint32_t origin,
               std::vector<unsigned char>& out) {
  Link(buffers.links.get(), buffers.byteCounts, size);
  return WalkAndUndoRuns(buffers.links.get(), size, origin, out);
}

}  // namespace bzip2
}  // namespace launcher
