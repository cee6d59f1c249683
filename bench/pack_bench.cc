// Adding 10,000 files of 1 KiB to a volume that already holds 10,000,
// reading every file back through handles, and loading the directory of
// volumes of 10,000 to 300,000 files. Each add rewrites the whole
// directory (the format keeps it in one block), so the bytes written per byte
// of payload grow with the number of files; the counters show how much.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fault_env.h"
#include "pack_archive.h"
#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/random_access_file.h"

namespace {

constexpr int kStoredFiles = 10000;
constexpr int kAddedFiles = 10000;
constexpr std::uint32_t kFileBytes = 1024;

std::string FileName(const char* prefix, int i) {
  char name[64];
  std::snprintf(name, sizeof name, "DATA/%s%05d.BIN", prefix, i);
  return name;
}

std::vector<unsigned char> Content(int i) {
  std::vector<unsigned char> data(kFileBytes);
  for (std::uint32_t k = 0; k < kFileBytes; ++k) data[k] = static_cast<unsigned char>(i * 7 + k);
  return data;
}

// Writes a volume holding count files of 1 KiB in one go, with its directory
// stored through the filter as the launcher stores it.
void WriteLargeVolume(const std::string& path, int count) {
  std::vector<unsigned char> table;
  std::vector<unsigned char> data;
  for (int i = 0; i < count; ++i) {
    pkfs::FileHead head;
    head.name = FileName("OLD", i);
    head.start = static_cast<std::uint32_t>(16 + data.size());
    head.size = kFileBytes;
    head.flags = pkfs::kFlagStored;
    std::vector<unsigned char> record(head.RecordSize());
    head.Serialize(record.data());
    table.insert(table.end(), record.begin(), record.end());
    const std::vector<unsigned char> content = Content(i);
    data.insert(data.end(), content.begin(), content.end());
  }
  pkfs::PackTrailer trailer;
  trailer.checksum = pkfs::ByteSum(table.data(), table.size());
  std::vector<unsigned char> record(trailer.RecordSize());
  trailer.Serialize(record.data());
  table.insert(table.end(), record.begin(), record.end());
  pkfs::EncodeBuffer(table.data(), static_cast<std::uint32_t>(table.size()));
  pkfs::PackHeader header;
  header.tableOffset = static_cast<std::uint32_t>(16 + data.size());
  header.tableSize = static_cast<std::uint32_t>(table.size());
  header.headCount = static_cast<std::uint32_t>(count);
  unsigned char bytes[pkfs::kPackHeaderBytes];
  header.Serialize(bytes);
  pkfs::EncodeBuffer(bytes, sizeof bytes);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.write(reinterpret_cast<const char*>(table.data()),
            static_cast<std::streamsize>(table.size()));
}

// A scratch directory made current for the benchmark's lifetime.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pack-bench-XXXXXX").string();
    path_ = mkdtemp(&pattern[0]);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~Scratch() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path previous_;
};

// Standard output carries a report line per add; it is sent away while the
// benchmark runs so that the results stay readable.
class QuietOutput {
 public:
  QuietOutput() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietOutput() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

std::unique_ptr<pkfs::CFSManager> Mount(const std::string& directory,
                                        platform::Env* env = platform::Env::Default()) {
  auto manager = std::make_unique<pkfs::CFSManager>(directory, env);
  manager->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  auto fileSystem = std::make_unique<pkfs::CPKFSF>(manager.get());
  pkfs::CPKFSF* pack = fileSystem.get();
  manager->SetFileSystem("DATA.pak", std::move(fileSystem));
  pack->AddNameRule("txt", 0);
  pack->AddNameRule("xml", 0);
  return manager;
}

void BM_AddToLargeVolume(benchmark::State& state) {
  Scratch scratch;
  std::uint64_t written = 0;
  std::uint64_t volumeBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    WriteLargeVolume(scratch.path() + "/DATA.pak", kStoredFiles);
    QuietOutput quiet;
    // Counts the bytes written; fails nothing.
    testing_support::FaultEnv counter;
    counter.onWrite = [&written](const std::string&, std::uint64_t, std::size_t n) {
      written += n;
      return testing_support::WriteDecision();
    };
    std::unique_ptr<pkfs::CFSManager> manager = Mount(scratch.path(), &counter);
    auto* pack = static_cast<pkfs::CPKFSF*>(manager->current());
    written = 0;
    state.ResumeTiming();
    for (int i = 0; i < kAddedFiles; ++i) {
      std::vector<unsigned char> data = Content(i);
      if (!pack->AddFile(FileName("NEW", i), data.data(), kFileBytes)) {
        state.SkipWithError("an add failed");
        break;
      }
    }
    state.PauseTiming();
    volumeBytes = pack->primary()->stream()->Size();
    manager.reset();
    state.ResumeTiming();
  }
  const double payload = static_cast<double>(kAddedFiles) * kFileBytes;
  state.counters["files_per_s"] =
      benchmark::Counter(static_cast<double>(kAddedFiles) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["written_per_payload_byte"] = static_cast<double>(written) / payload;
  state.counters["volume_MiB"] = static_cast<double>(volumeBytes) / (1024.0 * 1024.0);
}

void BM_ReadEveryFileThroughHandles(benchmark::State& state) {
  Scratch scratch;
  WriteLargeVolume(scratch.path() + "/DATA.pak", kStoredFiles + kAddedFiles);
  QuietOutput quiet;
  std::unique_ptr<pkfs::CFSManager> manager = Mount(scratch.path());
  std::vector<unsigned char> buffer(kFileBytes);
  std::uint64_t mismatches = 0;
  for (auto _ : state) {
    for (int i = 0; i < kStoredFiles + kAddedFiles; ++i) {
      pkfs::CFSFile* handle = manager->Open(FileName("OLD", i), "rb");
      if (handle == nullptr) {
        state.SkipWithError("a file did not open");
        break;
      }
      if (handle->Read(buffer.data(), kFileBytes) != static_cast<int>(kFileBytes) ||
          buffer != Content(i)) {
        ++mismatches;
      }
      delete handle;
    }
  }
  if (mismatches != 0) state.SkipWithError("a file read back wrong");
  state.counters["files_per_s"] = benchmark::Counter(
      static_cast<double>(kStoredFiles + kAddedFiles) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}

// What every command pays before it can answer: a volume of range(0) files
// loaded (header, one read of the directory, its check, the names), and let
// go again.
void BM_LoadDirectory(benchmark::State& state) {
  Scratch scratch;
  const int count = static_cast<int>(state.range(0));
  WriteLargeVolume(scratch.path() + "/DATA.pak", count);
  QuietOutput quiet;
  for (auto _ : state) {
    std::unique_ptr<pkfs::CFSManager> manager = Mount(scratch.path());
    if (manager->fileMap().size() != static_cast<std::size_t>(count)) {
      state.SkipWithError("the volume did not load whole");
      break;
    }
    benchmark::DoNotOptimize(manager->FindName(FileName("OLD", count / 2)));
    manager.reset();
  }
  state.counters["entries_per_s"] =
      benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

BENCHMARK(BM_LoadDirectory)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(300000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_AddToLargeVolume)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadEveryFileThroughHandles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
