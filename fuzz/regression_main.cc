// Runs a fuzz target's entry point over stored inputs without libFuzzer, so
// that every build (g++ included) replays the inputs that once found a fault
// and the seed corpora. Arguments are files or directories of files; a
// missing directory counts as empty. A fault aborts the process.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::filesystem::path> InputsIn(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
      if (entry.is_regular_file(error)) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else if (std::filesystem::is_regular_file(path, error)) {
    inputs.push_back(path);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  // Listed first: a target's initialisation may change the current directory.
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& input : InputsIn(argv[i])) {
      inputs.push_back(std::filesystem::absolute(input));
    }
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::size_t runs = 0;
  {
    for (const std::filesystem::path& input : inputs) {
      std::ifstream in(input, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      std::fprintf(stderr, "running %s (%zu bytes)\n", input.string().c_str(), bytes.size());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++runs;
    }
  }
  std::fprintf(stderr, "%zu inputs ran without a fault\n", runs);
  return 0;
}
