// A simulated power loss for crash tests: an Env that wraps another one and
// records every write, sync and file creation made through it instead of
// syncing: the simulator is the disk. For each file it keeps the content that the last sync made
// durable and the writes made since. Crash() then puts on disk one state that
// a power failure at that moment could leave: each unsynced write kept,
// dropped, or kept only in some of its 512-byte sectors, in any combination
// (a sector is written whole or not at all); and each name whose directory
// was not synced since it was created, renamed or removed names any of the
// files it named since that directory's last sync (or nothing). Writes,
// creations, renames and removals after the stop never reach the disk.
#ifndef MAROVETIN_TESTS_SUPPORT_POWER_LOSS_H_
#define MAROVETIN_TESTS_SUPPORT_POWER_LOSS_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/status.h"

namespace testing_support {

using platform::Status;

class PowerLossEnv : public platform::EnvWrapper {
 public:
  static constexpr std::size_t kSectorBytes = 512;

  explicit PowerLossEnv(platform::Env* target = platform::Env::Default()) : EnvWrapper(target) {}

  // The power fails at the n-th sync from now (1 is the next): that sync
  // fails, and no later write, sync or creation reaches the disk. 0: never.
  void StopAtSync(int n) { stopAt_ = n; }
  // The same at the n-th write from now: that write does not reach the file.
  void StopAtWrite(int n) { stopAtWrite_ = n; }
  int syncs() const { return syncs_; }
  int writes() const { return writes_; }
  bool stopped() const { return stopped_; }
  // Writes made since the last sync of their file, over all files.
  std::size_t unsyncedWrites() const;

  // Rewrites every name the simulator has seen to one state a power loss now
  // could leave, chosen by seed. May be called again with another seed: each
  // call starts from the recorded state, not from the previous crash. (A
  // process killed at the stop, with the machine running on, leaves what is
  // on disk without a call.)
  void Crash(std::uint32_t seed) const;

  // Files are followed through their writes and syncs; a file created
  // (or emptied) is new to its directory until that directory is synced.
  Status OpenFile(const std::string& path, platform::RandomAccessFile::Mode mode,
                  std::unique_ptr<platform::RandomAccessFile>* file) override;
  // A file without a name and a second name for a file are refused: the
  // simulated disk follows each file by its one name, so the caller writes
  // or copies under the name.
  Status WriteUnnamedFile(const std::string& directory, const unsigned char* data,
                          std::size_t size, std::unique_ptr<platform::UnnamedFile>* file) override;
  Status LinkAsNewFile(const std::string& source, const std::string& newName) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RenameResolvedFile(const std::string& from, const std::string& to) override;
  Status DeleteFile(const std::string& path) override;
  Status DeleteFileKeeping(const std::string& path, platform::DeletedFile* kept) override;
  // In place of the system's syncs.
  Status SyncDirectory(const std::string& path) override;
  Status SyncFileSystemOf(const std::string& path) override;

  // What the simulator's files report (see power_loss.cc).
  enum class SyncScope { kFile, kDirectory, kFileSystem };
  bool OnWrite(const std::string& path, std::uint64_t offset, const void* data,
               std::size_t length);
  Status OnSync(SyncScope scope, const std::string& path);

 private:
  bool OnCreate(const std::string& path);
  bool OnRename(const std::string& from, const std::string& to);
  bool OnDelete(const std::string& path);

  static constexpr int kNoFile = -1;
  struct Write {
    std::uint64_t offset;
    std::vector<unsigned char> bytes;
    bool truncate = false;  // the file was emptied (created over an existing one)
  };
  // A file's content, whatever names it: what a sync made durable and the
  // writes since.
  struct File {
    std::vector<unsigned char> durable;
    std::vector<Write> pending;  // since the last sync, in order
  };
  // A name in a directory: the file it names durably (as of its directory's
  // last sync), and every file (or kNoFile) it was given since, in order.
  struct Name {
    int durable = kNoFile;
    std::vector<int> since;
    int current() const { return since.empty() ? durable : since.back(); }
  };

  // The name's record, made from what is on disk when it is first seen.
  Name& Track(const std::string& key);
  int NewFile();
  void MakeDurable(File* file);
  // False once the power is off; counts the write and stops at its turn.
  bool WriteAllowed();

  std::vector<File> files_;
  std::map<std::string, Name> names_;  // by absolute path
  int stopAt_ = 0;
  int stopAtWrite_ = 0;
  int syncs_ = 0;
  int writes_ = 0;
  bool stopped_ = false;
};

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_POWER_LOSS_H_
