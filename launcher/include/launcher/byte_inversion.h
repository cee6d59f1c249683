// The two routines that complement every byte of a range. They give the same
// bytes for every length; the payload loader chooses one by the processor
// probe.
#ifndef MAROVETIN_LAUNCHER_BYTE_INVERSION_H_
#define MAROVETIN_LAUNCHER_BYTE_INVERSION_H_

#include <cstddef>

namespace launcher {

// Complements the bytes one at a time.
void InvertBytesOneByOne(unsigned char* data, std::size_t length);

// Complements the first (length mod 8) bytes one at a time and the rest in
// 8-byte blocks. Written so that the compiler turns the blocks into vector
// instructions: inversion then runs at memory speed.
void InvertBytesInBlocks(unsigned char* data, std::size_t length);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_BYTE_INVERSION_H_
