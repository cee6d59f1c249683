// Decoding the update files ahead of the one being applied. While the dialog
// stores or writes file i, worker threads load and decode the files after it
// through the one payload loader, so that decompression runs on every core
// while the dialog itself does everything the user sees, in list order.
//
// The caller takes each file's result at its own turn; the bytes and the
// loader's result are exactly what a load at that moment would give. A file
// that changed on disk after a worker read it (the run itself rewrote or
// deleted it, or something else did) is loaded again at its turn, so the run
// is byte-identical to one that decodes inline.
#ifndef UPDATE_READ_AHEAD_H_
#define UPDATE_READ_AHEAD_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/file_identity.h"
#include "platform/unnamed_file.h"

namespace update {

struct ReadAheadLimits {
  // Decoding threads. 1 decodes inline, on the caller's thread, at each
  // file's turn; no thread is started then.
  int workers = 1;
  // Files started ahead and not yet taken (decoding or decoded), at most.
  std::size_t maxFiles = 2;
  // No further file is started while the decoded bytes waiting to be taken,
  // with each file being decoded counted at the largest size seen so far,
  // reach this mark (the file the caller waits for always starts). Sizes are
  // known only once decoded, so the mark can be passed by the files that
  // were decoding when it was reached, each by maxFileBytes at most.
  std::size_t maxBytes = std::size_t{32} << 20;
  // The most bytes one file is decoded to in memory: the loader gives up on
  // a larger file (kLoadInPieces), which the caller then decodes at its turn
  // piece by piece. So the window never holds more than maxBytes plus
  // maxFileBytes for each worker, whatever the files' sizes.
  std::size_t maxFileBytes = std::size_t{8} << 20;
};

// A loader's result for a file that decodes to more than maxFileBytes: it is
// not held in memory (the buffer stays empty), and no preparer sees it.
constexpr int kLoadInPieces = -2;

// One worker per usable processor (at least one), or MAROVETIN_JOBS when it
// holds a number from 1 to 256; two files per worker, 32 MiB in flight and
// 8 MiB a file.
ReadAheadLimits ReadAheadLimitsFromEnvironment();
// The same for a given job count (values below 1 count as 1).
ReadAheadLimits ReadAheadLimitsForJobs(int jobs);

class ReadAhead {
 public:
  // Loads path whole into buffer (emptied by the caller); -1 on failure, the
  // buffer then keeping what was decoded before the failure. Called from the
  // worker threads, several at once: it must be safe for that.
  using Loader = std::function<int(const std::string& path, std::vector<unsigned char>& buffer)>;
  // A loader that also tells which file it read: *stamp gets the file's
  // stamp as it was before its first byte was read (exists false when there
  // was none to read).
  using StampingLoader = std::function<int(const std::string& path,
                                           std::vector<unsigned char>& buffer,
                                           platform::FileStamp* stamp)>;

  // Writes a decoded file, ahead of its turn, where it is to land (see
  // platform::UnnamedFile); null when it does not. Called from the worker
  // threads after a successful load, several at once.
  using Preparer = std::function<std::unique_ptr<platform::UnnamedFile>(
      const std::string& path, const std::vector<unsigned char>& bytes)>;

  struct Stats {
    std::size_t peakFiles = 0;  // most files started and not yet taken at one time
    std::size_t peakBytes = 0;  // most decoded bytes waiting at one time
    std::size_t reloads = 0;    // results dropped because the file changed, loaded again
  };

  // A plain loader's files are stamped by a look at the path before each load.
  // Files are stamped through env, which must be safe to call from several
  // threads at once.
  ReadAhead(Loader loader, ReadAheadLimits limits,
            platform::Env* env = platform::Env::Default());
  ReadAhead(StampingLoader loader, ReadAheadLimits limits,
            platform::Env* env = platform::Env::Default());
  // Stops the workers; a load in progress finishes first.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Sets new limits; drops whatever was decoded ahead.
  void SetLimits(ReadAheadLimits limits);
  const ReadAheadLimits& limits() const { return limits_; }

  // Begins decoding sources (a copy is kept) from its first entry on; what
  // was decoded for an earlier list is dropped. Entries marked in removed are
  // files the run itself has deleted: they are not looked for, and their
  // load fails at once (-1, nothing read), as a load of a missing file would.
  // With a preparer, each file decoded ahead is also written ahead by it.
  void Start(const std::vector<std::string>& sources, std::vector<bool> removed = {},
             Preparer preparer = nullptr);

  // The load of the file at index, whose path is path, at its turn: fills
  // buffer (emptied by the caller) and returns the loader's result. Indexes
  // are expected in order from 0; any other index or path is loaded inline.
  // prepared, when given, gets the file the preparer wrote from exactly these
  // bytes, or null.
  int Take(std::size_t index, const std::string& path, std::vector<unsigned char>& buffer,
           std::unique_ptr<platform::UnnamedFile>* prepared = nullptr);

  // The caller is about to write, replace or delete path: a file decoded
  // ahead from it is loaded again at its turn.
  void BeforeChange(const std::string& path);

  Stats stats() const;

 private:
  struct Slot {
    bool done = false;
    bool loadInline = false;  // the worker ran out of memory: load at its turn instead
    int result = -1;
    std::vector<unsigned char> bytes;
    std::unique_ptr<platform::UnnamedFile> prepared;  // written ahead from bytes
    platform::FileStamp stamp;  // the file as it was before the worker read it
    std::uint64_t startEpoch = 0;
  };
  struct Change {
    std::uint64_t epoch;
    platform::FileStamp stamp;
  };

  bool threaded() const { return limits_.workers > 1; }
  bool Removed(std::size_t index, const std::string& path) const {
    return index < removed_.size() && removed_[index] && sources_[index] == path;
  }
  void StartThreads();
  void StopThreads();
  void DropAll();         // with mutex_ held
  bool CanStart() const;  // with mutex_ held
  void WorkerLoop();
  // Claims the next file to start and decodes it with the lock released.
  // With mutex_ held (through lock) and CanStart() true.
  void DecodeNext(std::unique_lock<std::mutex>& lock);
  // An announced change since the slot started reached its file. With mutex_ held.
  bool ChangedByRun(const Slot& slot) const;
  void PruneChanges();  // with mutex_ held

  // A load at the file's turn, whose stamp nothing needs.
  int LoadNow(const std::string& path, std::vector<unsigned char>& buffer) const;

  const StampingLoader loader_;
  platform::Env* const env_;
  ReadAheadLimits limits_;

  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable slotDone_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;

  std::vector<std::string> sources_;
  std::vector<bool> removed_;
  Preparer preparer_;
  std::deque<Slot> slots_;  // slots_[k] belongs to index head_ + k
  std::size_t head_ = 0;    // the index the next Take is for
  std::size_t nextToStart_ = 0;
  std::uint64_t generation_ = 0;  // advances when a list is dropped
  std::uint64_t epoch_ = 0;       // advances with every announced change
  std::deque<Change> changes_;
  std::size_t bytesWaiting_ = 0;
  std::size_t loading_ = 0;      // files the workers are decoding
  std::size_t largestFile_ = 0;  // the most bytes one file of the list decoded to
  Stats stats_;
};

}  // namespace update

#endif  // UPDATE_READ_AHEAD_H_
