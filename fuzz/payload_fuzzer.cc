// The payload loader on arbitrary file contents, under all four option
// combinations: a plain read gives the file's bytes (complemented with "-de"),
// and a bzip2 read with "-de" gives the complement of what it gives without,
// or fails the same way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launcher/payload_loader.h"

namespace {

std::vector<unsigned char> Complement(std::vector<unsigned char> bytes) {
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(~byte);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::CleanScratchDirectory() + "/payload.bin";
  FUZZ_CHECK(fuzz::WriteWholeFile(path, std::string(reinterpret_cast<const char*>(data), size)),
             "the payload file could be written");
  const std::vector<unsigned char> file(data, data + size);

  // Both inversion routines must agree, so the plain reads run with each.
  for (bool mmx : {false, true}) {
    launcher::ProcessorInfo info;
    info.hasMmx = mmx;
    launcher::PayloadLoader loader(info);

    std::vector<unsigned char> plain;
    FUZZ_CHECK(loader.loadFile(path, plain) == static_cast<int>(size),
               "a plain read gives the size");
    FUZZ_CHECK(plain == file, "a plain read gives the bytes");

    loader.setInvertBytes(true);
    std::vector<unsigned char> inverted;
    FUZZ_CHECK(loader.loadFile(path, inverted) == 0, "an inverted read gives 0");
    FUZZ_CHECK(inverted == Complement(file), "an inverted read gives the complement");
  }

  // Decompression costs far more than the rest: once plain, once inverted
  // (with the routine the input's length picks).
  launcher::ProcessorInfo info;
  info.hasMmx = (size & 1) != 0;
  launcher::PayloadLoader loader(info);
  loader.setReadBzip2(true);
  std::vector<unsigned char> decoded;
  const int decodedResult = loader.loadFile(path, decoded);
  FUZZ_CHECK(decodedResult == 0 || decodedResult == -1, "a bzip2 read gives 0 or -1");

  loader.setInvertBytes(true);
  std::vector<unsigned char> decodedInverted;
  const int decodedInvertedResult = loader.loadFile(path, decodedInverted);
  FUZZ_CHECK(decodedInvertedResult == decodedResult, "inversion does not change the outcome");
  // A failed read keeps what was decoded before the error, not inverted.
  FUZZ_CHECK(decodedInverted == (decodedResult == 0 ? Complement(decoded) : decoded),
             "inversion applies to a whole decoded stream only");
  return 0;
}
