// A volume held by "another process" for as long as the object lives, for
// tests of what waits for or refuses a held volume.
#ifndef MAROVETIN_TESTS_SUPPORT_LOCK_HOLDER_H_
#define MAROVETIN_TESTS_SUPPORT_LOCK_HOLDER_H_

#include <memory>
#include <string>

#include "platform/random_access_file.h"

namespace testing_support {

// Takes the exclusive volume lock on path (an existing file) the way another
// process would. POSIX locks belong to the process's open file, so a child
// process takes it and keeps it until the holder goes; Windows locks belong
// to the handle, so a second handle in this process stands for the other
// process.
class ForeignLockHolder {
 public:
  explicit ForeignLockHolder(const std::string& path);
  ~ForeignLockHolder();
  ForeignLockHolder(const ForeignLockHolder&) = delete;
  ForeignLockHolder& operator=(const ForeignLockHolder&) = delete;

  // True once the lock is held.
  bool held() const { return held_; }

 private:
  bool held_ = false;
  std::unique_ptr<platform::RandomAccessFile> file_;  // Windows: the holding handle
  int child_ = -1;                                    // POSIX: the holding process
};

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_LOCK_HOLDER_H_
