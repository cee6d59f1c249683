// The share file block: two 32-bit words in named shared memory through which
// successive launcher processes see each other.
#ifndef MAROVETIN_LAUNCHER_SHARE_FILE_BLOCK_H_
#define MAROVETIN_LAUNCHER_SHARE_FILE_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/shared_memory.h"

namespace launcher {

// The block's name and its layout (native order, which is little-endian on
// every machine the launcher runs on).
inline constexpr char kShareFileName[] = "Marovetin";

struct ShareFileBlock {
  std::int32_t handoverState;  // 0 just created; 2 while or after an update runs
  std::int32_t runCounter;     // advanced on every opening and after every update
};
static_assert(sizeof(ShareFileBlock) == 8, "the block is two 32-bit words");
static_assert(offsetof(ShareFileBlock, handoverState) == 0, "handoverState at offset 0");
static_assert(offsetof(ShareFileBlock, runCounter) == 4, "runCounter at offset 4");

// This process's hold on the block. The mapping stays alive while the object
// lives; the platform removes the block when its last holder lets go. Every
// access is a single atomic 32-bit operation: other launcher processes touch
// the same words without a lock.
class ShareFileLink {
 public:
  enum class Attach {
    kOpened,   // another process held the block: runCounter was advanced
    kCreated,  // this process made it: both words read 0
    kFailed,   // no block: error says why
  };

  ShareFileLink() = default;
  ShareFileLink(const ShareFileLink&) = delete;
  ShareFileLink& operator=(const ShareFileLink&) = delete;

  // Opens the block "Marovetin" or creates it. Any earlier hold is released
  // first.
  Attach openOrCreate(std::string* error, platform::Env* env = platform::Env::Default());

  // Lets go of the block (the platform removes it when this was the last holder).
  void release();

  bool attached() const { return shareView_ != nullptr; }

  // The words; reads give 0 and writes do nothing while not attached.
  std::int32_t handoverState() const;
  void setHandoverState(std::int32_t value);
  std::int32_t runCounter() const;
  void advanceRunCounter();

 private:
  std::unique_ptr<platform::NamedSharedMemory> shareMapping_;
  ShareFileBlock* shareView_ = nullptr;
};

// The update hand-over: records runCounter in *savedCounter, sets
// handoverState to 2, runs the update, advances runCounter, then waits while
// runCounter still equals the recorded value (1 ms between looks, never more
// than about a second, since the advance makes the first look end it). Without
// a block the update simply runs.
void RunUpdateHandover(ShareFileLink& link, std::int32_t* savedCounter,
                       const std::function<void()>& runUpdate);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_SHARE_FILE_BLOCK_H_
