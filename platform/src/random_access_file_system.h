// The operating system's file (SystemFile, which Env::Default() opens) and
// the calls it makes, one set per system (random_access_file_posix.cc,
// win32/random_access_file_win32.cc); what is the same on every system is
// written once, in random_access_file_portable.cc.
#ifndef MAROVETIN_PLATFORM_SRC_RANDOM_ACCESS_FILE_SYSTEM_H_
#define MAROVETIN_PLATFORM_SRC_RANDOM_ACCESS_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/random_access_file.h"
#include "platform/status.h"

namespace platform {
namespace internal {

// The operating system's open file: a descriptor (a HANDLE on Windows).
class SystemFile : public RandomAccessFile {
 public:
  // Opens path (through ResolvePath). Null when it does not open, errno
  // saying why.
  static std::unique_ptr<SystemFile> Open(const std::string& path, Mode mode);
  ~SystemFile() override;

  long long ReadAt(std::uint64_t offset, void* data, std::size_t length) override;
  Status WritePart(std::uint64_t offset, const void* data, std::size_t length,
                   std::size_t* written) override;
  Status Sync() override;
  void StartWriteback() override;
  std::uint64_t Size() const override;
  Status TryLockExclusive(bool wait) override;
  bool IsFileAt(const std::string& path) const override;

 private:
  SystemFile(int fd, std::string path) : RandomAccessFile(std::move(path)), fd_(fd) {}
  int fd_;
};

// Reads up to length bytes at offset of the open file fd, resuming after
// short reads; the count read (short at the end of the file), -1 on an error.
long long SystemReadAt(int fd, std::uint64_t offset, void* data, std::size_t length);

// Writes length bytes at offset, resuming after short writes. Returns the
// count that reached the file; *error gets the errno that stopped it.
std::size_t SystemWriteAt(int fd, std::uint64_t offset, const unsigned char* data,
                          std::size_t length, int* error);

// Makes the file's data durable; the failure names path.
Status SystemSyncData(int fd, const std::string& path);

// Starts writing the file's dirty data back, without waiting.
void SystemStartWriteback(int fd);

// One attempt at the exclusive volume lock, waiting for it when wait is set:
// OK when granted, a kBusy status when another holder has it, any other
// failure naming path.
Status SystemLockExclusive(int fd, const std::string& path, bool wait);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_RANDOM_ACCESS_FILE_SYSTEM_H_
