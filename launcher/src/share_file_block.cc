#include "launcher/share_file_block.h"

#include <chrono>
#include <thread>

namespace launcher {
namespace {

constexpr std::int32_t kHandoverUpdating = 2;
// The wait after the update ends at its first look unless the counter came
// back to the recorded value (only after 2^32 advances); never wait longer.
constexpr int kMaxWaitLooks = 1000;

}  // namespace

ShareFileLink::Attach ShareFileLink::openOrCreate(std::string* error, platform::Env* env) {
  release();
  platform::NamedSharedMemory::Origin origin = platform::NamedSharedMemory::Origin::kCreated;
  const platform::Status opened =
      env->OpenSharedMemory(kShareFileName, sizeof(ShareFileBlock), &shareMapping_, &origin);
  if (!opened.ok() || shareMapping_ == nullptr || shareMapping_->data() == nullptr ||
      shareMapping_->size() < sizeof(ShareFileBlock)) {
    shareMapping_.reset();
    if (error != nullptr) {
      *error = opened.ok() ? std::string("the block could not be mapped") : opened.Reason();
    }
    return Attach::kFailed;
  }
  shareView_ = static_cast<ShareFileBlock*>(shareMapping_->data());

  if (origin == platform::NamedSharedMemory::Origin::kOpened) {
    advanceRunCounter();
    return Attach::kOpened;
  }
  // A created block already reads handoverState 0 and runCounter 0: the
  // platform zeroes it before any other process can map it. Writing the zeros
  // again here would race with a launcher that opened the block in the
  // meantime and wipe its advance of runCounter.
  return Attach::kCreated;
}

void ShareFileLink::release() {
  shareView_ = nullptr;
  shareMapping_.reset();
}

std::int32_t ShareFileLink::handoverState() const {
  return attached() ? __atomic_load_n(&shareView_->handoverState, __ATOMIC_SEQ_CST) : 0;
}

void ShareFileLink::setHandoverState(std::int32_t value) {
  if (attached()) __atomic_store_n(&shareView_->handoverState, value, __ATOMIC_SEQ_CST);
}

std::int32_t ShareFileLink::runCounter() const {
  return attached() ? __atomic_load_n(&shareView_->runCounter, __ATOMIC_SEQ_CST) : 0;
}

void ShareFileLink::advanceRunCounter() {
  // Interlocked, so that two launchers advancing together both count.
  if (attached()) __atomic_fetch_add(&shareView_->runCounter, 1, __ATOMIC_SEQ_CST);
}

void RunUpdateHandover(ShareFileLink& link, std::int32_t* savedCounter,
                       const std::function<void()>& runUpdate) {
  if (!link.attached()) {
    runUpdate();
    return;
  }
  *savedCounter = link.runCounter();
  link.setHandoverState(kHandoverUpdating);
  runUpdate();
  link.advanceRunCounter();
  for (int looks = 0; looks < kMaxWaitLooks && link.runCounter() == *savedCounter; ++looks) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace launcher
