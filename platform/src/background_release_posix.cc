#include "platform/background_release.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "file_events.h"
#include "name_match_cache.h"
#include "platform/file_system.h"
#include "path_resolution.h"

namespace platform {

namespace {

// Half of the descriptors the process may open, less a reserve, may hold
// deleted files: the rest of the run needs its own. The soft limit is raised
// to the hard one first (at most kWantedDescriptors), as a program that keeps
// many files open does.
std::size_t MostHeld() {
  constexpr rlim_t kWantedDescriptors = 65536;
  constexpr rlim_t kReserve = 64;
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t wanted = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kWantedDescriptors
                            ? kWantedDescriptors
                            : limit.rlim_max;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    struct rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  const rlim_t usable = limit.rlim_cur == RLIM_INFINITY ? kWantedDescriptors : limit.rlim_cur;
  return usable > 2 * kReserve ? static_cast<std::size_t>((usable - kReserve) / 2) : 0;
}

}  // namespace

BackgroundRelease::~BackgroundRelease() {
  Release();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  for (int descriptor : releasing_) ::close(descriptor);
}

void BackgroundRelease::SetHolding(bool holding) {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = holding;
}

bool BackgroundRelease::StartThreads() {
  if (!threads_.empty()) return true;
  if (threadsFailed_) return false;
  for (int i = 0; i < kThreads; ++i) {
    try {
      threads_.emplace_back([this] { ReleaseLoop(); });
    } catch (const std::system_error&) {
      break;
    }
  }
  threadsFailed_ = threads_.empty();
  return !threadsFailed_;
}

bool BackgroundRelease::DeleteFile(const std::string& path, std::uint64_t knownSize) {
  if (knownSize < kHeldFromBytes) return platform::DeleteFile(path);
  if (path.empty() || internal::FaultInjected(IoCall::kRemove)) return false;
  int kept = -1;
  const bool deleted = internal::OnExistingPath(path, [&kept](const std::string& candidate) {
    // A reference that only names the file (O_PATH) keeps it alive past the
    // unlink without the right to read it; O_NOFOLLOW keeps a link itself,
    // which is what unlink removes.
    const int descriptor = ::open(candidate.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (::unlink(candidate.c_str()) != 0) {
      const int error = errno;
      if (descriptor >= 0) ::close(descriptor);
      errno = error;
      return false;
    }
    internal::NoteEntryRemoved(candidate);
    kept = descriptor;
    return true;
  });
  if (kept < 0) return deleted;

  std::unique_lock<std::mutex> lock(mutex_);
  if (!limitKnown_) {
    mostHeld_ = MostHeld();
    limitKnown_ = true;
  }
  if (holding_ && held_.size() < mostHeld_) {
    // Held space is not free: a file is held only while all that is held
    // stays under a third of the space still free, so that a run on a
    // nearly full disk gets the space back before it needs it.
    struct stat st;
    const std::uint64_t size =
        ::fstat(kept, &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
    // The free space is measured again when the files held since the last
    // measure could have changed it noticeably (a run writes about as much
    // as it deletes), and before a file is turned away, not for every file.
    if (!availableKnown_ || sinceMeasureFiles_ >= kFilesPerMeasure ||
        sinceMeasureBytes_ + size > available_ / kMeasureFraction ||
        heldBytes_ + size > available_ / 3) {
      struct statvfs fs;
      available_ =
          ::fstatvfs(kept, &fs) == 0 ? static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize : 0;
      availableKnown_ = true;
      sinceMeasureFiles_ = 0;
      sinceMeasureBytes_ = 0;
    }
    if (heldBytes_ + size <= available_ / 3) {
      heldBytes_ += size;
      ++sinceMeasureFiles_;
      sinceMeasureBytes_ += size;
      held_.push_back(kept);
      return true;
    }
    releasing_.insert(releasing_.end(), held_.begin(), held_.end());
    held_.clear();
    heldBytes_ = 0;
  }
  if (!StartThreads()) {
    lock.unlock();
    ::close(kept);  // freed here, as DeleteFile would
    return true;
  }
  releasing_.push_back(kept);
  const bool several = releasing_.size() > 1;
  lock.unlock();
  if (several) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
  return true;
}

void BackgroundRelease::Release() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_.empty()) return;
  if (!StartThreads()) {
    std::vector<int> held;
    held.swap(held_);
    heldBytes_ = 0;
    lock.unlock();
    for (int descriptor : held) ::close(descriptor);
    return;
  }
  releasing_.insert(releasing_.end(), held_.begin(), held_.end());
  held_.clear();
  heldBytes_ = 0;
  lock.unlock();
  changed_.notify_all();
}

void BackgroundRelease::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return releasing_.empty() && busy_ == 0; });
}

void BackgroundRelease::ReleaseLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !releasing_.empty(); });
    if (releasing_.empty()) return;  // stopping, and nothing left
    const int descriptor = releasing_.front();
    releasing_.pop_front();
    ++busy_;
    lock.unlock();
    ::close(descriptor);  // the file is freed here
    lock.lock();
    --busy_;
    changed_.notify_all();
  }
}

}  // namespace platform
