// The named shared block on each system (shared_memory_posix.cc,
// win32/shared_memory_win32.cc): one attempt at opening or creating it. The
// checks, the name a test may put in place and the retries after a race with
// another process are the same everywhere (shared_memory_portable.cc).
#ifndef MAROVETIN_PLATFORM_SRC_SHARED_MEMORY_SYSTEM_H_
#define MAROVETIN_PLATFORM_SRC_SHARED_MEMORY_SYSTEM_H_

#include <cstddef>
#include <string>

namespace platform {
namespace internal {

// The system's name for the block called name (MAROVETIN_SHM_NAME already
// taken into account).
std::string SystemBlockName(const std::string& name);

struct MappedBlock {
  int handle = -1;       // what the destructor releases
  void* data = nullptr;  // size bytes, read/write
  bool created = false;  // no other process holds it: it reads all zeros
};

enum class BlockAttempt {
  kMapped,  // *block is filled in
  kRaced,   // another process removed or replaced the name meanwhile: try again
  kFailed,  // *error says why
};

BlockAttempt OpenOrCreateBlock(const std::string& systemName, std::size_t size, MappedBlock* block,
                               std::string* error);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_SHARED_MEMORY_SYSTEM_H_
