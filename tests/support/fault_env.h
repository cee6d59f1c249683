// An Env that fails chosen calls of the Env it wraps, for tests that must
// show what the code does when the disk says no: a call of a given kind fails
// with a chosen errno, a write fails or is torn part-way, a sync reports a
// chosen outcome. Calls it is not asked to fail go on to the wrapped Env
// untouched. A wrapped Env sees no unnamed files (every file is written under
// its name, in the order the code writes it).
#ifndef MAROVETIN_TESTS_SUPPORT_FAULT_ENV_H_
#define MAROVETIN_TESTS_SUPPORT_FAULT_ENV_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace testing_support {

using platform::Status;

// The kinds of call a FaultEnv is asked about.
enum class IoCall {
  kWrite, kRead, kSync, kOpen, kRename, kLink, kRemove, kMkdir, kRmdir, kList, kStat, kChmod
};
constexpr int kIoCallKinds = 12;
// "write", "read", ..., "list", "stat", "chmod".
const char* IoCallName(IoCall call);

// What happens to one write.
struct WriteDecision {
  enum Kind { kProceed, kFail, kTear } kind = kProceed;
  std::size_t tearAfter = 0;  // kTear: bytes that reach the file before it fails
  int error = 0;              // the errno the failed write reports (0: EIO)
};

class FaultEnv : public platform::EnvWrapper {
 public:
  explicit FaultEnv(platform::Env* target = platform::Env::Default()) : EnvWrapper(target) {}

  // Asked before every call of each kind (a file's reads, writes and syncs
  // included): the errno the call must fail with, or 0. It may end the
  // process there. Counted calls are numbered from 1 per kind.
  std::function<int(IoCall call)> fault;
  // Asked before every write to a file that goes ahead after fault.
  std::function<WriteDecision(const std::string& path, std::uint64_t offset, std::size_t length)>
      onWrite;
  // Asked before every sync (a file's, a directory's, a file system's) that
  // goes ahead after fault: a result that is not OK is its outcome and
  // nothing is synced.
  std::function<Status(const std::string& path)> onSync;

  // How many calls of a kind were asked about.
  long long calls(IoCall call) const { return counts_[static_cast<int>(call)].load(); }

  Status OpenFile(const std::string& path, platform::RandomAccessFile::Mode mode,
                  std::unique_ptr<platform::RandomAccessFile>* file) override;
  Status OpenSequentialFile(const std::string& path,
                            std::unique_ptr<platform::SequentialFile>* file,
                            platform::FileStamp* stamp) override;
  Status OpenStream(const std::string& path, const char* mode, std::FILE** stream) override;
  Status WriteUnnamedFile(const std::string& directory, const unsigned char* data,
                          std::size_t size, std::unique_ptr<platform::UnnamedFile>* file) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RenameResolvedFile(const std::string& from, const std::string& to) override;
  Status LinkAsNewFile(const std::string& source, const std::string& newName) override;
  Status DeleteFile(const std::string& path) override;
  Status DeleteFileKeeping(const std::string& path, platform::DeletedFile* kept) override;
  Status CreateDirectory(const std::string& path) override;
  Status RemoveDirectory(const std::string& path) override;
  Status ListDirectory(const std::string& path, std::vector<platform::DirectoryEntry>* entries,
                       std::vector<std::string>* directoryLinks) override;
  Status StampFile(const std::string& path, platform::FileStamp* stamp) override;
  Status SetAttributesNormal(const std::string& path) override;
  Status CopyPermissions(const std::string& from, const std::string& to) override;
  Status GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) override;
  Status SyncDirectory(const std::string& path) override;
  Status SyncFileSystemOf(const std::string& path) override;

  // The verdicts the wrapped files ask for (see the file classes).
  Status Ask(IoCall call, const std::string& path);
  Status AskSync(const std::string& path);

 private:
  std::atomic<long long> counts_[kIoCallKinds] = {};  // the read-ahead reads on other threads
};

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_FAULT_ENV_H_
