// Helpers shared by the fuzz targets: taking typed values off the input, a
// scratch directory per process, and a check that stops the run with a
// message (fuzz builds keep NDEBUG, so assert would vanish).
#ifndef MAROVETIN_FUZZ_FUZZ_SUPPORT_H_
#define MAROVETIN_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition, what)                                              \
  do {                                                                           \
    if (!(condition)) ::fuzz::CheckFailed(__FILE__, __LINE__, what, #condition); \
  } while (0)

namespace fuzz {

// Reports a failed check and aborts. The message also goes to the sanitizer's
// report, which libFuzzer keeps when it closes the target's own output.
[[noreturn]] void CheckFailed(const char* file, int line, const char* what, const char* condition);

// Reads values off the front of the input; once it is used up every value is 0
// and every byte string empty, so a target never runs past its input.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  std::size_t remaining() const { return size_ - at_; }

  std::uint8_t U8() { return empty() ? 0 : data_[at_++]; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(U16()) | (std::uint32_t{U16()} << 16); }
  bool Bool() { return (U8() & 1) != 0; }
  // A value in [0, bound) (bound > 0).
  std::uint32_t Below(std::uint32_t bound) { return U32() % bound; }

  // Up to length bytes.
  std::string Bytes(std::size_t length) {
    if (length > remaining()) length = remaining();
    std::string out(reinterpret_cast<const char*>(data_ + at_), length);
    at_ += length;
    return out;
  }
  // The bytes up to the next occurrence of separator (which is consumed), or
  // all that is left.
  std::string Until(const std::string& separator);
  std::string Rest() { return Bytes(remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// This process's scratch directory, emptied of everything in it. Created on
// first use below $MAROVETIN_FUZZ_SCRATCH, else /dev/shm, else the system's
// temporary directory.
const std::string& CleanScratchDirectory();

// Writes content to path, replacing it. False when it could not be written.
bool WriteWholeFile(const std::string& path, const std::string& content);

// Sends standard output to /dev/null: the library prints a line per volume
// load and per add, which would drown the fuzzer's own report.
void SilenceStandardOutput();

}  // namespace fuzz

#endif  // MAROVETIN_FUZZ_FUZZ_SUPPORT_H_
