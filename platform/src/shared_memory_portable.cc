// Opening the named shared block, the same on every system: the arguments are
// checked, MAROVETIN_SHM_NAME stands in for the name when set, and an attempt
// that raced with another process is made again.
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/shared_memory.h"
#include "shared_memory_system.h"

namespace platform {

namespace {

// Opening and checking the name races with other processes creating and
// removing it; a few retries settle every such race.
constexpr int kMaxAttempts = 1000;

}  // namespace

std::unique_ptr<NamedSharedMemory> NamedSharedMemory::OpenOrCreate(const std::string& name,
                                                                   std::size_t size, Origin* origin,
                                                                   std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (size == 0 || name.empty()) {
    *error = "shared memory: empty name or size";
    return nullptr;
  }
  const char* override = std::getenv("MAROVETIN_SHM_NAME");
  const std::string systemName =
      internal::SystemBlockName((override != nullptr && override[0] != '\0') ? override : name);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    internal::MappedBlock block;
    switch (internal::OpenOrCreateBlock(systemName, size, &block, error)) {
      case internal::BlockAttempt::kMapped:
        if (origin != nullptr) *origin = block.created ? Origin::kCreated : Origin::kOpened;
        return std::unique_ptr<NamedSharedMemory>(
            new NamedSharedMemory(block.handle, block.data, size, systemName));
      case internal::BlockAttempt::kRaced:
        continue;
      case internal::BlockAttempt::kFailed:
        return nullptr;
    }
  }
  *error = "shared memory: the name kept changing under us";
  return nullptr;
}

NamedSharedMemory::NamedSharedMemory(int fd, void* data, std::size_t size, std::string osName)
    : fd_(fd), data_(data), size_(size), osName_(std::move(osName)) {}

}  // namespace platform
