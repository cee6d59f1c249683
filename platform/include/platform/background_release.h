// Deleting many files without paying for the freeing of each at once.
// The name goes at once, as with DeleteFile; the file itself stays alive
// through a reference the object holds, and is freed when that reference is
// let go, on threads of the object's own. That helps twice: freeing a file's
// blocks can wait for the device (a file system mounted to discard freed
// blocks issues the discard inside the deletion), and while files are held
// their inode numbers stay taken, so a file system that avoids reusing
// recently freed inodes does not have to skip over them, one by one, for
// every file made meanwhile.
#ifndef MAROVETIN_PLATFORM_BACKGROUND_RELEASE_H_
#define MAROVETIN_PLATFORM_BACKGROUND_RELEASE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class BackgroundRelease {
 public:
  BackgroundRelease() = default;
  // Releases whatever is held and waits until every file is freed.
  ~BackgroundRelease();
  BackgroundRelease(const BackgroundRelease&) = delete;
  BackgroundRelease& operator=(const BackgroundRelease&) = delete;

  // While holding (the default), deleted files are kept until Release(), as
  // long as what is held takes less than a third of the space still free on
  // the file system (past that, everything held is handed on); otherwise each
  // is handed to the releasing threads at once.
  void SetHolding(bool holding);

  // A size unknown to the caller.
  static constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
  // Files the caller knows to be smaller than this are deleted at once, as
  // DeleteFile does: holding one takes three more system calls (the
  // reference, its size, its release) than freeing its few blocks.
  static constexpr std::uint64_t kHeldFromBytes = 64 * 1024;

  // DeleteFile's result and errno for path, whose size the caller knows as
  // knownSize (or not). A file that cannot be held (too many held for the
  // process's descriptor limit, which the first call raises to the hard
  // limit; no thread; a system without such references) is handed on, or
  // freed here as DeleteFile does.
  bool DeleteFile(const std::string& path, std::uint64_t knownSize = kUnknownSize);

  // Hands every held file to the releasing threads; returns at once.
  void Release();

  // Waits until every file handed on so far is freed.
  void Drain();

 private:
  static constexpr int kThreads = 8;  // frees in flight at once: each may wait for a discard

  void ReleaseLoop();
  bool StartThreads();  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = true;
  bool limitKnown_ = false;
  std::size_t mostHeld_ = 0;  // from the descriptor limit, on first use
  std::vector<int> held_;
  std::uint64_t heldBytes_ = 0;  // the space the held files take
  // The space free on the file system when last measured, and what was held
  // since then.
  static constexpr std::size_t kFilesPerMeasure = 1024;
  static constexpr std::uint64_t kMeasureFraction = 32;
  bool availableKnown_ = false;
  std::uint64_t available_ = 0;
  std::size_t sinceMeasureFiles_ = 0;
  std::uint64_t sinceMeasureBytes_ = 0;
  std::deque<int> releasing_;  // handed on, not yet taken by a thread
  int busy_ = 0;               // threads freeing one now
  bool stopping_ = false;
  bool threadsFailed_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_BACKGROUND_RELEASE_H_
