// Windows frees a deleted file within the deletion as far as the caller can
// tell: the files are deleted as DeleteFile does, and nothing is held.
#include "platform/background_release.h"
#include "platform/file_system.h"

namespace platform {

BackgroundRelease::~BackgroundRelease() = default;

void BackgroundRelease::SetHolding(bool holding) { holding_ = holding; }

bool BackgroundRelease::DeleteFile(const std::string& path, std::uint64_t) {
  return platform::DeleteFile(path);
}

void BackgroundRelease::Release() {}

void BackgroundRelease::Drain() {}

void BackgroundRelease::ReleaseLoop() {}

bool BackgroundRelease::StartThreads() { return false; }

}  // namespace platform
