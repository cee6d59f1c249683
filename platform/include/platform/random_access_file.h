// A file opened for positioned reads and writes, as the pack volumes use it.
// An Env opens it (env.h); the system's file is one implementation, and a
// wrapping Env may hand out its own that watches or fails the calls of the
// one it wraps.
#ifndef MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_
#define MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/status.h"

namespace platform {

class RandomAccessFile {
 public:
  enum class Mode {
    kReadWrite,        // the file must exist ("rb+")
    kCreateReadWrite,  // created or truncated ("wb+")
    kRead,             // the file must exist; every write fails ("rb")
  };

  virtual ~RandomAccessFile() = default;
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Reads up to length bytes at offset. Returns the number of bytes read
  // (short at the end of the file); -1 on an I/O error, errno saying why.
  virtual long long ReadAt(std::uint64_t offset, void* data, std::size_t length) = 0;

  // Writes length bytes at offset, extending the file when needed. OK only
  // when all of them reached the file; otherwise why not ("DATA.pak: No space
  // left on device"), and *written (never null) tells how many did: a write
  // may fail part-way.
  virtual Status WritePart(std::uint64_t offset, const void* data, std::size_t length,
                           std::size_t* written) = 0;
  // The same write, reporting only why it fell short.
  Status Write(std::uint64_t offset, const void* data, std::size_t length);
  // The same write, reporting only how many bytes reached the file; fewer
  // than length (possibly 0) means the write failed or was torn.
  std::size_t WriteAt(std::uint64_t offset, const void* data, std::size_t length);

  // Makes every write so far durable (fdatasync): after it returns OK, a
  // power loss keeps them. The failure names the file and the reason.
  virtual Status Sync() = 0;

  // Starts the file's written bytes on their way to the disk without
  // waiting for them, so that a later Sync has less to wait for. Promises
  // nothing about durability; where the system has no such call it does
  // nothing.
  virtual void StartWriteback() = 0;

  // The file's current length in bytes.
  virtual std::uint64_t Size() const = 0;

  // One attempt at an exclusive advisory lock on the whole file, waiting for
  // it when wait is set: OK when granted, a kBusy status naming the file when
  // another holder has it, any other failure naming the file.
  virtual Status TryLockExclusive(bool wait) = 0;
  // Takes the lock. When another process holds it, calls onWait once (if
  // given) and waits for it at most timeoutMilliseconds (0: not at all;
  // negative: without end). A lock still held elsewhere then gives a kBusy
  // status naming the file.
  Status LockExclusive(int timeoutMilliseconds, const std::function<void()>& onWait = nullptr);

  // True when path (through ResolvePath) still names this open file; false
  // once it was renamed over or removed.
  virtual bool IsFileAt(const std::string& path) const = 0;

  const std::string& path() const { return path_; }

 protected:
  explicit RandomAccessFile(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_RANDOM_ACCESS_FILE_H_
