// Byte inversion of payloads against a plain memcpy of the same size: the
// inversion should run at memory speed.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "launcher/byte_inversion.h"
#include "launcher/payload_loader.h"

namespace {

using bench::kOneMiB;
using bench::kSixtyFourMiB;

void BM_InvertBuffer(benchmark::State& state) {
  launcher::PayloadLoader loader;
  bench::TimeInPlace(
      state, [&loader](unsigned char* data, std::size_t size) { loader.invertBuffer(data, size); });
  state.SetLabel(loader.processorInfo().hasMmx ? "blocks" : "one by one");
}

void BM_InvertBlocks(benchmark::State& state) {
  bench::TimeInPlace(state, launcher::InvertBytesInBlocks);
}

void BM_InvertOneByOne(benchmark::State& state) {
  bench::TimeInPlace(state, launcher::InvertBytesOneByOne);
}

BENCHMARK(BM_InvertBuffer)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_InvertBlocks)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_InvertOneByOne)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(bench::BM_Memcpy)->Arg(kOneMiB)->Arg(kSixtyFourMiB);

}  // namespace

BENCHMARK_MAIN();
