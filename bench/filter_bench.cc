// The byte filter against a plain memcpy of the same size, and sequential
// getc through a library handle against stdio's fgetc on the same file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "pkfs/file_functions.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"

namespace {

using bench::kOneMiB;
using bench::kSixtyFourMiB;

void BM_Encode(benchmark::State& state) {
  pkfs::CFSFilter filter;
  bench::TimeInPlace(state, [&filter](unsigned char* data, std::size_t size) {
    filter.Encode(data, static_cast<std::uint32_t>(size), nullptr);
  });
}

void BM_Decode(benchmark::State& state) {
  pkfs::CFSFilter filter;
  bench::TimeInPlace(state, [&filter](unsigned char* data, std::size_t size) {
    filter.Decode(data, static_cast<std::uint32_t>(size), nullptr);
  });
}

constexpr std::size_t kGetcFileBytes = 8 << 20;

// An 8 MiB loose file in a scratch directory, made once.
class ScratchFile {
 public:
  ScratchFile() {
    namespace fs = std::filesystem;
    dir_ = (fs::temp_directory_path() / ("filter-bench-" + std::to_string(std::random_device{}())))
               .string();
    fs::create_directories(dir_);
    const std::vector<unsigned char> bytes = bench::Payload(kGetcFileBytes);
    std::ofstream out(dir_ + "/seq.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& dir() const { return dir_; }
  std::string path() const { return dir_ + "/seq.bin"; }

 private:
  std::string dir_;
};

const ScratchFile& Scratch() {
  static ScratchFile file;
  return file;
}

void BM_HandleGetc(benchmark::State& state) {
  pkfs::TheManager().ResetForTesting(Scratch().dir());
  const pkfs::FileFunctionTable& table = pkfs::packFunctions;
  std::int64_t sum = 0;
  for (auto _ : state) {
    void* handle = table.open("seq.bin", "rb");
    if (handle == nullptr) {
      state.SkipWithError("open failed");
      return;
    }
    for (std::size_t i = 0; i < kGetcFileBytes; ++i) sum += table.getc(handle);
    table.close(handle);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kGetcFileBytes);
}

void BM_StdioFgetc(benchmark::State& state) {
  std::int64_t sum = 0;
  for (auto _ : state) {
    std::FILE* stream = std::fopen(Scratch().path().c_str(), "rb");
    if (stream == nullptr) {
      state.SkipWithError("open failed");
      return;
    }
    for (int c; (c = std::fgetc(stream)) != EOF;) sum += c;
    std::fclose(stream);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kGetcFileBytes);
}

}  // namespace

BENCHMARK(BM_Encode)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_Decode)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(bench::BM_Memcpy)->Arg(kOneMiB)->Arg(kSixtyFourMiB);
BENCHMARK(BM_HandleGetc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdioFgetc)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
