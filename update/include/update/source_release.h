// How the update deletes the sources it applied: many files, without paying
// for the freeing of each at once. The name goes at once; the file itself is
// kept (platform::DeletedFile) and freed later on threads of this object's
// own. That helps twice: freeing a file's blocks can wait for the device, and
// while files are kept their inode numbers stay taken, so a file system that
// avoids reusing recently freed inodes does not have to skip over them, one
// by one, for every file the run makes meanwhile.
#ifndef UPDATE_SOURCE_RELEASE_H_
#define UPDATE_SOURCE_RELEASE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/deleted_file.h"
#include "platform/env.h"
#include "platform/status.h"

namespace update {

class SourceRelease {
 public:
  // Deletes through env.
  explicit SourceRelease(platform::Env* env = platform::Env::Default()) : env_(env) {}
  // Releases whatever is kept and waits until every file is freed.
  ~SourceRelease();
  SourceRelease(const SourceRelease&) = delete;
  SourceRelease& operator=(const SourceRelease&) = delete;

  // A size unknown to the caller.
  static constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
  // Files the caller knows to be smaller than this are deleted and freed at
  // once, as DeleteFile does: keeping one takes three more system calls (the
  // reference, its size, its release) than freeing its few blocks.
  static constexpr std::uint64_t kKeptFromBytes = 64 * 1024;

  // While holding (the default), deleted files are kept until Release(), as
  // long as what is kept takes less than a third of the space still free on
  // the file system (past that, everything kept is handed on); otherwise each
  // is handed to the releasing threads at once.
  void SetHolding(bool holding);

  // The deletion of path, its failure naming the file and the reason, whose
  // size the caller knows as knownSize (or not). A file that cannot be kept
  // (too many kept for the process's descriptor limit, which the first call
  // raises toward the hard limit; no thread; a system that frees within the
  // deletion) is handed on, or freed here as DeleteFile does.
  platform::Status DeleteFile(const std::string& path, std::uint64_t knownSize = kUnknownSize);

  // Hands every kept file to the releasing threads; returns at once.
  void Release();

  // Waits until every file handed on so far is freed.
  void Drain();

 private:
  static constexpr int kThreads = 8;  // frees in flight at once: each may wait for a discard

  platform::Env* env_;
  void ReleaseLoop();
  bool StartThreads();  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable changed_;
  bool holding_ = true;
  bool limitKnown_ = false;
  std::size_t mostKept_ = 0;  // from the descriptor limit, on first use
  std::vector<platform::DeletedFile> kept_;
  std::uint64_t keptBytes_ = 0;  // the space the kept files take
  // The space free on the file system when last measured, and what was kept
  // since then.
  static constexpr std::size_t kFilesPerMeasure = 1024;
  static constexpr std::uint64_t kMeasureFraction = 32;
  bool availableKnown_ = false;
  std::uint64_t available_ = 0;
  std::size_t sinceMeasureFiles_ = 0;
  std::uint64_t sinceMeasureBytes_ = 0;
  std::deque<platform::DeletedFile> releasing_;  // handed on, not yet taken by a thread
  int busy_ = 0;                                 // threads freeing one now
  bool stopping_ = false;
  bool threadsFailed_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace update

#endif  // UPDATE_SOURCE_RELEASE_H_
