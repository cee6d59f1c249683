// A file opened for positioned reads and writes, as the pack volumes use it.
// Every write and every sync goes through seams that tests replace to inject
// faults: a write can fail before anything reaches the file, or be torn
// part-way, a sync can fail, and from that point on the "machine" can be
// treated as stopped. A power-loss simulation (io_observer.h) watches the same
// calls from below.
#ifndef MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_
#define MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

class RandomAccessFile {
 public:
  enum class Mode {
    kReadWrite,        // the file must exist ("rb+")
    kCreateReadWrite,  // created or truncated ("wb+")
    kRead,             // the file must exist; every write fails ("rb")
  };

  // Opens path (through ResolvePath). Null when it does not open.
  static std::unique_ptr<RandomAccessFile> Open(const std::string& path, Mode mode);

  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Reads up to length bytes at offset. Returns the number of bytes read
  // (short at the end of the file); -1 on an I/O error.
  long long ReadAt(std::uint64_t offset, void* data, std::size_t length);

  // Writes length bytes at offset, extending the file when needed. Returns the
  // number of bytes written; fewer than length (possibly 0) means the write
  // failed or was torn. Passes through the write fault hook.
  std::size_t WriteAt(std::uint64_t offset, const void* data, std::size_t length);
  // The same write, reporting why it fell short ("DATA.pak: No space left on
  // device"). OK only when all length bytes were written.
  Status Write(std::uint64_t offset, const void* data, std::size_t length);

  // Makes every write so far durable (fdatasync): after it returns OK, a
  // power loss keeps them. The failure names the file and the reason. Passes
  // through the sync fault hook.
  Status Sync();

  // Starts the file's written bytes on their way to the disk without
  // waiting for them, so that a later Sync has less to wait for. Promises
  // nothing about durability; where the system has no such call it does
  // nothing.
  void StartWriteback();

  // The file's current length in bytes.
  std::uint64_t Size() const;

  // Takes an exclusive advisory lock on the whole file. When another process
  // holds it, calls onWait once (if given) and waits for it at most
  // timeoutMilliseconds (0: not at all; negative: without end). A lock still
  // held elsewhere then gives a kBusy status naming the file.
  Status LockExclusive(int timeoutMilliseconds, const std::function<void()>& onWait = nullptr);

  // True when path (through ResolvePath) still names this open file; false
  // once it was renamed over or removed.
  bool IsFileAt(const std::string& path) const;

  const std::string& path() const { return path_; }

 private:
  RandomAccessFile(int fd, std::string path);
  // Writes what the fault hook allows; *error gets the errno of a failure.
  std::size_t WriteAllowed(std::uint64_t offset, const void* data, std::size_t length, int* error);
  int fd_;
  std::string path_;
};

// What the fault hook decides for one write.
struct WriteDecision {
  enum Kind { kProceed, kFail, kTear } kind = kProceed;
  std::size_t tearAfter = 0;  // kTear: bytes that reach the file before it fails
  int error = 0;              // the errno the failed write reports (0: EIO)
};

// Called before every RandomAccessFile write with the file's path, offset and
// length. Tests install it; production code never does.
using WriteFaultHook =
    std::function<WriteDecision(const std::string& path, std::uint64_t offset, std::size_t length)>;

// Installs (or, with nullptr, removes) the hook. Not thread-safe: install it
// before the code under test runs.
void SetWriteFaultHook(WriteFaultHook hook);

// Called before every sync (a file's data, a directory, a whole file system)
// with the path concerned. A result that is not OK is reported as the sync's
// outcome and nothing is synced. Tests install it; production code never does.
using SyncFaultHook = std::function<Status(const std::string& path)>;
void SetSyncFaultHook(SyncFaultHook hook);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_
