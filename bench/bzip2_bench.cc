// The fast bzip2 decoder against the bzip2 library's one-call decompression,
// in bytes of output per second, on two payloads compressed at level 9:
//   0: 32 KiB of bytes 0x41..0x50 drawn at random, the update's usual kind
//      of file (one small block, sixteen symbols);
//   1: 900 KB of text-like words and lines (one full block of 900 000 bytes
//      and a little more).
#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/bzip2_decoder.h"

namespace {

// A fixed sequence, so that every run measures the same payloads.
class Lcg {
 public:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::uint32_t>(state_ >> 33);
  }

 private:
  std::uint64_t state_ = 0x2545F4914F6CDD1Du;
};

std::vector<unsigned char> SixteenSymbols(std::size_t size) {
  Lcg random;
  std::vector<unsigned char> bytes(size);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(0x41 + random.Next() % 16);
  return bytes;
}

std::vector<unsigned char> TextLike(std::size_t size) {
  static const char* const kWords[] = {
      "the",   "pack",   "volume", "update", "file", "of",     "and",   "data",     "to",
      "in",    "header", "table",  "chain",  "name", "region", "bytes", "checksum", "launcher",
      "write", "read",   "free",   "space",  "a",    "is",     "with",  "for",      "on"};
  constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
  Lcg random;
  std::string text;
  while (text.size() < size) {
    text += kWords[random.Next() % kWordCount];
    text += random.Next() % 11 == 0 ? ".\n" : " ";
    if (random.Next() % 50 == 0) text += std::to_string(random.Next() % 100000);
  }
  return std::vector<unsigned char>(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

struct Payload {
  std::vector<unsigned char> plain;
  std::vector<unsigned char> compressed;
};

const Payload& PayloadFor(std::int64_t which) {
  static const Payload* payloads = [] {
    auto* made = new Payload[2];
    made[0].plain = SixteenSymbols(32 * 1024);
    made[1].plain = TextLike(900 * 1000);
    for (int i = 0; i < 2; ++i) {
      Payload& payload = made[i];
      payload.compressed.resize(payload.plain.size() + payload.plain.size() / 100 + 600);
      auto length = static_cast<unsigned int>(payload.compressed.size());
      if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(payload.compressed.data()), &length,
                                   reinterpret_cast<char*>(payload.plain.data()),
                                   static_cast<unsigned int>(payload.plain.size()), 9, 0,
                                   0) != BZ_OK) {
        length = 0;
      }
      payload.compressed.resize(length);
    }
    return made;
  }();
  return payloads[which];
}

void Label(benchmark::State& state, const Payload& payload) {
  state.SetLabel((state.range(0) == 0 ? "16 symbols, " : "text, ") +
                 std::to_string(payload.compressed.size()) + " bytes compressed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(payload.plain.size()));
}

void BM_FastDecoder(benchmark::State& state) {
  const Payload& payload = PayloadFor(state.range(0));
  std::vector<unsigned char> out;
  for (auto _ : state) {
    out.clear();  // keeps the capacity, as the library's fixed destination does
    if (!launcher::DecodeBzip2Streams(payload.compressed.data(), payload.compressed.size(), out)) {
      state.SkipWithError("the fast decoder refused the payload");
      return;
    }
  }
  if (out != payload.plain) {
    state.SkipWithError("the fast decoder changed the payload");
    return;
  }
  Label(state, payload);
}

void BM_Library(benchmark::State& state) {
  const Payload& payload = PayloadFor(state.range(0));
  std::vector<unsigned char> out(payload.plain.size());
  for (auto _ : state) {
    auto length = static_cast<unsigned int>(out.size());
    if (BZ2_bzBuffToBuffDecompress(
            reinterpret_cast<char*>(out.data()), &length,
            const_cast<char*>(reinterpret_cast<const char*>(payload.compressed.data())),
            static_cast<unsigned int>(payload.compressed.size()), 0, 0) != BZ_OK ||
        length != payload.plain.size()) {
      state.SkipWithError("the library could not decode the payload");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  Label(state, payload);
}

BENCHMARK(BM_FastDecoder)->Arg(0)->Arg(1);
BENCHMARK(BM_Library)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
