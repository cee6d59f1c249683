#include "update/source_release.h"

#include <iterator>
#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace update {

namespace {

// Half of the descriptors the process may open, less a reserve, may keep
// deleted files: the rest of the run needs its own. The soft limit is raised
// toward the hard one first, as a program that keeps many files open does.
std::size_t MostKept() {
  constexpr std::size_t kWantedDescriptors = 65536;
  constexpr std::size_t kReserve = 64;
  const std::size_t usable = platform::RaiseOpenFileLimit(kWantedDescriptors);
  return usable > 2 * kReserve ? (usable - kReserve) / 2 : 0;
}

template <typename From, typename To>
void MoveAllTo(From& from, To& to) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  from.clear();
}

}  // namespace

SourceRelease::~SourceRelease() {
  Release();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  releasing_.clear();  // freed here when no thread took them
}

void SourceRelease::SetHolding(bool holding) {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = holding;
}

bool SourceRelease::StartThreads() {
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

platform::Status SourceRelease::DeleteFile(const std::string& path, std::uint64_t knownSize) {
  if (knownSize < kKeptFromBytes) return env_->DeleteFile(path);
  platform::DeletedFile file;
  const platform::Status deleted = env_->DeleteFileKeeping(path, &file);
  if (!deleted.ok() || !file.kept()) return deleted;  // failed, or freed within the deletion

  std::unique_lock<std::mutex> lock(mutex_);
  if (!limitKnown_) {
    mostKept_ = MostKept();
    limitKnown_ = true;
  }
  if (holding_ && kept_.size() < mostKept_) {
    // Kept space is not free: a file is kept only while all that is kept
    // stays under a third of the space still free, so that a run on a
    // nearly full disk gets the space back before it needs it.
    const std::uint64_t size = file.KeptBytes();
    // The free space is measured again when the files kept since the last
    // measure could have changed it noticeably (a run writes about as much
    // as it deletes), and before a file is turned away, not for every file.
    if (!availableKnown_ || sinceMeasureFiles_ >= kFilesPerMeasure ||
        sinceMeasureBytes_ + size > available_ / kMeasureFraction ||
        keptBytes_ + size > available_ / 3) {
      available_ = file.FreeBytesBeside();
      availableKnown_ = true;
      sinceMeasureFiles_ = 0;
      sinceMeasureBytes_ = 0;
    }
    if (keptBytes_ + size <= available_ / 3) {
      keptBytes_ += size;
      ++sinceMeasureFiles_;
      sinceMeasureBytes_ += size;
      kept_.push_back(std::move(file));
      return platform::Status::Ok();
    }
    MoveAllTo(kept_, releasing_);
    keptBytes_ = 0;
  }
  if (!StartThreads()) {
    lock.unlock();
    file.Free();  // freed here, as DeleteFile would
    return platform::Status::Ok();
  }
  releasing_.push_back(std::move(file));
  const bool several = releasing_.size() > 1;
  lock.unlock();
  if (several) {
    changed_.notify_all();
  } else {
    changed_.notify_one();
  }
  return platform::Status::Ok();
}

void SourceRelease::Release() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (kept_.empty()) return;
  if (!StartThreads()) {
    std::vector<platform::DeletedFile> kept;
    kept.swap(kept_);
    keptBytes_ = 0;
    lock.unlock();
    return;  // freed here as kept goes
  }
  MoveAllTo(kept_, releasing_);
  keptBytes_ = 0;
  lock.unlock();
  changed_.notify_all();
}

void SourceRelease::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return releasing_.empty() && busy_ == 0; });
}

void SourceRelease::ReleaseLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !releasing_.empty(); });
    if (releasing_.empty()) return;  // stopping, and nothing left
    platform::DeletedFile file = std::move(releasing_.front());
    releasing_.pop_front();
    ++busy_;
    lock.unlock();
    file.Free();  // the blocks are freed here
    lock.lock();
    --busy_;
    changed_.notify_all();
  }
}

}  // namespace update
