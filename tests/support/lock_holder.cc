#include "lock_holder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/env.h"

namespace testing_support {

#ifdef _WIN32
ForeignLockHolder::ForeignLockHolder(const std::string& path) {
  platform::Env::Default()->OpenFile(path, platform::RandomAccessFile::Mode::kReadWrite, &file_);
  held_ = file_ != nullptr && file_->LockExclusive(0).ok();
}

ForeignLockHolder::~ForeignLockHolder() = default;
#else
ForeignLockHolder::ForeignLockHolder(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return;
  // The child opens the file itself: a descriptor inherited from this
  // process would share its open file, and so its lock.
  const pid_t child = ::fork();
  if (child == 0) {
    std::unique_ptr<platform::RandomAccessFile> file;
    platform::Env::Default()->OpenFile(path, platform::RandomAccessFile::Mode::kReadWrite, &file);
    const char byte = file != nullptr && file->LockExclusive(0).ok() ? 'y' : 'n';
    if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
    ::sleep(60);  // until killed, or for long enough should this process die first
    ::_exit(0);
  }
  char byte = 0;
  if (child > 0) {
    child_ = static_cast<int>(child);
    held_ = ::read(ready[0], &byte, 1) == 1 && byte == 'y';
  }
  ::close(ready[0]);
  ::close(ready[1]);
}

ForeignLockHolder::~ForeignLockHolder() {
  if (child_ <= 0) return;
  ::kill(child_, SIGKILL);
  ::waitpid(child_, nullptr, 0);
}
#endif

}  // namespace testing_support
