// Byte inversion of payloads against a plain memcpy of the same size: the
// inversion should run at memory speed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "launcher/byte_inversion.h"
#include "launcher/payload_loader.h"

namespace {

std::vector<unsigned char> Payload(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
  return bytes;
}

void BM_InvertBuffer(benchmark::State& state) {
  std::vector<unsigned char> buffer = Payload(static_cast<std::size_t>(state.range(0)));
  launcher::PayloadLoader loader;
  for (auto _ : state) {
    loader.invertBuffer(buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(loader.processorInfo().hasMmx ? "blocks" : "one by one");
}

void BM_InvertBlocks(benchmark::State& state) {
  std::vector<unsigned char> buffer = Payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    launcher::InvertBytesInBlocks(buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_InvertOneByOne(benchmark::State& state) {
  std::vector<unsigned char> buffer = Payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    launcher::InvertBytesOneByOne(buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The reference: reading and writing the same number of bytes once.
void BM_Memcpy(benchmark::State& state) {
  std::vector<unsigned char> source = Payload(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

constexpr int64_t kOneMiB = 1 << 20;
constexpr int64_t kSixtyFourMiB = 64 << 20;

BENCHMARK(BM_InvertBuffer)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_InvertBlocks)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_InvertOneByOne)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_Memcpy)->Arg(kOneMiB)->Arg(kSixtyFourMiB);

}  // namespace

BENCHMARK_MAIN();
