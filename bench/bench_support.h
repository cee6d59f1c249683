// Pieces shared by the in-memory benchmarks: a deterministic payload, the
// memcpy reference, and the loop that times an in-place transform.
#ifndef MAROVETIN_BENCH_BENCH_SUPPORT_H_
#define MAROVETIN_BENCH_BENCH_SUPPORT_H_

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

constexpr int64_t kOneMiB = 1 << 20;
constexpr int64_t kSixtyFourMiB = 64 << 20;

inline std::vector<unsigned char> Payload(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
  return bytes;
}

// Runs transform(data, size) over a payload of state.range(0) bytes, in place.
template <typename Transform>
void TimeInPlace(benchmark::State& state, Transform transform) {
  std::vector<unsigned char> buffer = Payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    transform(buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The reference: reading and writing the same number of bytes once.
inline void BM_Memcpy(benchmark::State& state) {
  std::vector<unsigned char> source = Payload(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace bench

#endif  // MAROVETIN_BENCH_BENCH_SUPPORT_H_
