#include "fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

// Present when the sanitizer runtime is linked in.
extern "C" __attribute__((weak)) void __sanitizer_report_error_summary(const char* summary);

namespace fuzz {

void CheckFailed(const char* file, int line, const char* what, const char* condition) {
  const std::string message = std::string(file) + ":" + std::to_string(line) +
                              ": check failed: " + what + " (" + condition + ")";
  std::fprintf(stderr, "%s\n", message.c_str());
  if (__sanitizer_report_error_summary != nullptr) {
    __sanitizer_report_error_summary(message.c_str());
  }
  std::abort();
}

std::string ByteReader::Until(const std::string& separator) {
  const std::string rest(reinterpret_cast<const char*>(data_ + at_), remaining());
  const std::size_t found = rest.find(separator);
  if (found == std::string::npos) {
    at_ = size_;
    return rest;
  }
  at_ += found + separator.size();
  return rest.substr(0, found);
}

namespace {

// Never destroyed: the exit handler that removes the directory reads it.
std::string& ScratchPath() {
  static std::string* path = new std::string;
  return *path;
}

void RemoveScratchDirectory() {
  std::error_code ignored;
  if (!ScratchPath().empty()) std::filesystem::remove_all(ScratchPath(), ignored);
}

}  // namespace

const std::string& CleanScratchDirectory() {
  namespace fs = std::filesystem;
  static const std::string& path = ScratchPath() = [] {
    // Memory-backed where there is such a place: every run writes volumes.
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) base = "/tmp";
    if (fs::is_directory("/dev/shm", error)) base = "/dev/shm";
    if (const char* chosen = std::getenv("MAROVETIN_FUZZ_SCRATCH")) base = chosen;
    // One directory per process, so that parallel fuzzing jobs never share
    // (or lock each other out of) their volumes.
    std::random_device random;
    fs::path dir = base / ("marovetin-fuzz-" + std::to_string(random()));
    fs::create_directories(dir, error);
    FUZZ_CHECK(!error, "the scratch directory could not be made");
    std::atexit(RemoveScratchDirectory);
    return dir.string();
  }();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
  return path;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out.flush());
}

void SilenceStandardOutput() {
  std::fflush(stdout);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::clearerr(stdout);
}

}  // namespace fuzz
