#include "update/read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#include "platform/cpu_features.h"

namespace update {

namespace {

constexpr int kMostJobs = 256;

}  // namespace

ReadAheadLimits ReadAheadLimitsForJobs(int jobs) {
  ReadAheadLimits limits;
  limits.workers = std::clamp(jobs, 1, kMostJobs);
  limits.maxFiles = 2 * static_cast<std::size_t>(limits.workers);
  return limits;
}

ReadAheadLimits ReadAheadLimitsFromEnvironment() {
  int jobs = platform::UsableProcessorCount();
  if (const char* text = std::getenv("MAROVETIN_JOBS")) {
    char* end = nullptr;
    errno = 0;
    const long wanted = std::strtol(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && wanted >= 1 && wanted <= kMostJobs) {
      jobs = static_cast<int>(wanted);
    }
  }
  return ReadAheadLimitsForJobs(jobs);
}

ReadAhead::ReadAhead(Loader loader, ReadAheadLimits limits, platform::Env* env)
    : ReadAhead(
          [loader = std::move(loader), env](const std::string& path,
                                            std::vector<unsigned char>& buffer,
                                            platform::FileStamp* stamp) {
            *stamp = env->StampOf(path);
            return loader(path, buffer);
          },
          limits, env) {}

ReadAhead::ReadAhead(StampingLoader loader, ReadAheadLimits limits, platform::Env* env)
    : loader_(std::move(loader)), env_(env), limits_(limits) {
  limits_.workers = std::max(limits_.workers, 1);
  limits_.maxFiles = std::max<std::size_t>(limits_.maxFiles, 1);
}

ReadAhead::~ReadAhead() { StopThreads(); }

int ReadAhead::LoadNow(const std::string& path, std::vector<unsigned char>& buffer) const {
  platform::FileStamp unused;
  return loader_(path, buffer, &unused);
}

void ReadAhead::SetLimits(ReadAheadLimits limits) {
  StopThreads();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    DropAll();
  }
  limits_ = limits;
  limits_.workers = std::max(limits_.workers, 1);
  limits_.maxFiles = std::max<std::size_t>(limits_.maxFiles, 1);
}

void ReadAhead::StartThreads() {
  for (int i = 0; i < limits_.workers; ++i) {
    try {
      threads_.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      break;  // fewer workers, or none: decoding then happens at each file's turn
    }
  }
  if (threads_.empty()) limits_.workers = 1;
}

void ReadAhead::StopThreads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
}

void ReadAhead::DropAll() {
  ++generation_;
  sources_.clear();
  removed_.clear();
  preparer_ = nullptr;
  slots_.clear();
  head_ = 0;
  nextToStart_ = 0;
  bytesWaiting_ = 0;
  loading_ = 0;
  largestFile_ = 0;
  changes_.clear();
}

void ReadAhead::Start(const std::vector<std::string>& sources, std::vector<bool> removed,
                      Preparer preparer) {
  if (threaded() && threads_.empty()) StartThreads();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    DropAll();
    sources_ = sources;
    removed_ = std::move(removed);
    preparer_ = std::move(preparer);
  }
  if (threaded()) workAvailable_.notify_all();
}

bool ReadAhead::CanStart() const {
  if (nextToStart_ >= sources_.size()) return false;
  if (nextToStart_ - head_ >= limits_.maxFiles) return false;
  if (nextToStart_ == head_) return true;  // the caller waits for it
  // Files being decoded are counted at the largest size seen so far, so
  // that a list of large files does not decode several at once past the mark.
  return bytesWaiting_ + loading_ * largestFile_ < limits_.maxBytes;
}

void ReadAhead::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || CanStart(); });
    if (stopping_) return;
    DecodeNext(lock);
  }
}

void ReadAhead::DecodeNext(std::unique_lock<std::mutex>& lock) {
  const std::size_t index = nextToStart_++;
  const std::uint64_t generation = generation_;
  const std::string path = sources_[index];
  const bool removed = Removed(index, path);
  const Preparer preparer = preparer_;
  slots_.emplace_back();
  // Read before the file is looked at: a change announced from now on may
  // have reached the file before or during the load.
  slots_.back().startEpoch = epoch_;
  ++loading_;
  stats_.peakFiles = std::max(stats_.peakFiles, slots_.size());
  lock.unlock();

  platform::FileStamp stamp;
  std::vector<unsigned char> bytes;
  std::unique_ptr<platform::UnnamedFile> prepared;
  int result = -1;
  bool loadInline = false;
  try {
    if (!removed) {
      result = loader_(path, bytes, &stamp);
      if (result != -1 && result != kLoadInPieces && preparer) prepared = preparer(path, bytes);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory here: give up the bytes; the file is loaded at its
    // turn, where a failure reaches the caller as it would without workers.
    std::vector<unsigned char>().swap(bytes);
    prepared.reset();
    loadInline = true;
  }

  lock.lock();
  if (generation != generation_) return;  // the list was dropped meanwhile
  --loading_;
  largestFile_ = std::max(largestFile_, bytes.size());
  Slot& slot = slots_[index - head_];
  slot.done = true;
  slot.loadInline = loadInline;
  slot.result = result;
  slot.stamp = stamp;
  slot.bytes.swap(bytes);
  slot.prepared = std::move(prepared);
  bytesWaiting_ += slot.bytes.size();
  stats_.peakBytes = std::max(stats_.peakBytes, bytesWaiting_);
  slotDone_.notify_one();  // only the caller waits for a slot
}

bool ReadAhead::ChangedByRun(const Slot& slot) const {
  for (const Change& change : changes_) {
    if (change.epoch >= slot.startEpoch && change.stamp.SameFileAs(slot.stamp)) return true;
  }
  return false;
}

void ReadAhead::PruneChanges() {
  // Slots start in index order, so the front one started first.
  const std::uint64_t oldest = slots_.empty() ? epoch_ : slots_.front().startEpoch;
  while (!changes_.empty() && changes_.front().epoch < oldest) changes_.pop_front();
}

int ReadAhead::Take(std::size_t index, const std::string& path, std::vector<unsigned char>& buffer,
                    std::unique_ptr<platform::UnnamedFile>* prepared) {
  if (prepared != nullptr) prepared->reset();
  std::unique_lock<std::mutex> lock(mutex_);
  const bool removed = Removed(index, path);
  if (!threaded() || index != head_ || index >= sources_.size() || sources_[index] != path) {
    lock.unlock();
    return removed ? -1 : LoadNow(path, buffer);
  }
  if (nextToStart_ == head_) {
    // No worker has started it: it is loaded here, and the window moves on.
    ++nextToStart_;
    ++head_;
    PruneChanges();
    lock.unlock();
    workAvailable_.notify_one();
    return removed ? -1 : LoadNow(path, buffer);
  }
  // While a worker decodes this file, the caller decodes the next one itself
  // rather than sleep: a sleeping caller has to be woken for every file, and
  // on a busy machine each wake-up waits for a processor.
  while (!slots_.front().done) {
    if (CanStart()) {
      DecodeNext(lock);
    } else {
      slotDone_.wait(lock);
    }
  }
  Slot slot = std::move(slots_.front());
  slots_.pop_front();
  ++head_;
  bytesWaiting_ -= slot.bytes.size();
  const bool changedByRun = ChangedByRun(slot);
  PruneChanges();
  lock.unlock();
  // One place in the window came free: one worker is enough to take it (a
  // worker that finishes looks for more work by itself).
  workAvailable_.notify_one();

  if (removed) return -1;
  // Any change the run did not announce (a pack volume that is also an
  // update file, another process) shows in the file's stamp.
  if (slot.loadInline) return LoadNow(path, buffer);
  if (changedByRun || env_->StampOf(path) != slot.stamp) {
    {
      std::lock_guard<std::mutex> relock(mutex_);
      ++stats_.reloads;
    }
    return LoadNow(path, buffer);
  }
  buffer.swap(slot.bytes);
  if (prepared != nullptr) *prepared = std::move(slot.prepared);
  return slot.result;
}

void ReadAhead::BeforeChange(const std::string& path) {
  if (!threaded()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (head_ >= sources_.size()) return;  // nothing ahead that the change could reach
  }
  const platform::FileStamp stamp = env_->StampOf(path);
  std::lock_guard<std::mutex> lock(mutex_);
  ++epoch_;
  if (stamp.exists) changes_.push_back(Change{epoch_, stamp});
}

ReadAhead::Stats ReadAhead::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

}  // namespace update
