// The one way from the system to the operating system's files. Every call
// that makes, changes, reads, lists, syncs or removes a file goes through an
// Env and returns a Status that names the file and the reason; so does the
// opening of the named shared memory that concurrent runs share. The programs
// use Env::Default(), the operating system as it is; a caller may pass an Env
// of its own that wraps it (EnvWrapper) to watch, fail or stand in for any of
// these calls, and the code below behaves as it would on a real disk that
// did the same. So do the changes of a file's permission bits, and the
// question which file a path leads to (its stamp), on which the callers
// decide whether two names are one file. The questions whose answer decides
// nothing of that kind (does a path exist, is it a link) stay free functions
// of file_system.h and file_identity.h.
#ifndef MAROVETIN_PLATFORM_ENV_H_
#define MAROVETIN_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/deleted_file.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "platform/sequential_file.h"
#include "platform/shared_memory.h"
#include "platform/status.h"
#include "platform/unnamed_file.h"

namespace platform {

class Env {
 public:
  // The operating system's files. Lives as long as the process.
  static Env* Default();

  Env() = default;
  virtual ~Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // Opens path (through ResolvePath) for positioned reads and writes; a
  // directory or anything else that is not a regular file is refused.
  virtual Status OpenFile(const std::string& path, RandomAccessFile::Mode mode,
                          std::unique_ptr<RandomAccessFile>* file) = 0;
  // Opens path (through ResolvePath) to be read from start to end; stamp,
  // when given, gets the stamp of the file opened, taken from the open file.
  virtual Status OpenSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file,
                                    FileStamp* stamp) = 0;
  // fopen() through ResolvePath, for text and the handle API's loose files,
  // which are read and written through stdio. *stream is null on failure.
  virtual Status OpenStream(const std::string& path, const char* mode, std::FILE** stream) = 0;
  // Writes size bytes to a file without a name yet, in directory, to be
  // named later (UnnamedFile). A kInvalid status, and nothing written, where
  // the system or the file system has none: the caller then writes a named
  // file as usual.
  virtual Status WriteUnnamedFile(const std::string& directory, const unsigned char* data,
                                  std::size_t size, std::unique_ptr<UnnamedFile>* file) = 0;

  // rename(), replacing an existing target; both paths through ResolvePath.
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  // The same for two paths that name exactly what is meant: nothing is
  // looked up again.
  virtual Status RenameResolvedFile(const std::string& from, const std::string& to) = 0;
  // Gives the file at source the second name newName on the same file system
  // (a hard link), so that a file delivered only to be deleted afterwards can
  // be moved into place by a rename instead of copied. Linked only when
  // source is a regular file (not a link) of this process's user that it may
  // read and that has no other name, so that the file under newName is
  // nobody else's; it then gets what a file newly written under newName
  // would get: its own permission bits less the umask and the current time.
  // newName is taken as written; a leftover file under it is replaced. A
  // failure leaves nothing behind (EXDEV across file systems, EMLINK for a
  // file with other names, ENOSYS where there are no such links): the caller
  // then copies the bytes.
  virtual Status LinkAsNewFile(const std::string& source, const std::string& newName) = 0;
  // unlink() of a file (not a directory).
  virtual Status DeleteFile(const std::string& path) = 0;
  // The same, keeping the deleted file's blocks in kept until it lets them go.
  virtual Status DeleteFileKeeping(const std::string& path, DeletedFile* kept) = 0;
  // mkdir(); fails when it exists or a parent is missing.
  virtual Status CreateDirectory(const std::string& path) = 0;
  // rmdir(): succeeds only on an empty directory.
  virtual Status RemoveDirectory(const std::string& path) = 0;
  // The entries of a directory except "." and "..", sorted by name compared
  // case-insensitively (ASCII), ties broken bytewise. Symbolic links that
  // point to directories are left out, so a walk can neither loop nor leave
  // the tree; their names go to directoryLinks (sorted) when it is not null.
  // Only files (links to files count as files) and directories are
  // reported; pipes, sockets, devices, dangling links, and names containing
  // "\" (which this layer would read as a separator) are left out.
  virtual Status ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                               std::vector<std::string>* directoryLinks) = 0;

  // The stamp of the file path leads to (through ResolvePath, following
  // symbolic links). A path that leads nowhere (ENOENT, ENOTDIR) is no
  // failure: *stamp then says that nothing exists there. Any other failure to
  // look (no right to search a directory, an I/O error) leaves *stamp empty
  // and says why.
  virtual Status StampFile(const std::string& path, FileStamp* stamp) = 0;

  // On top of StampFile, for callers to whom a file that cannot be looked at
  // counts as none: its stamp, empty then; whether a and b lead to one
  // existing file (false then); and the file system (device) that holds
  // path, so that one sync per file system can cover a batch of files (false
  // then).
  FileStamp StampOf(const std::string& path);
  bool IsSameFile(const std::string& a, const std::string& b);
  bool FileSystemIdOf(const std::string& path, std::uint64_t* id);
  // Whether a and b lead to one existing file, where a failure to look at
  // either must not count as "no": it is returned, and *same is false.
  Status CompareFiles(const std::string& a, const std::string& b, bool* same);
  // True unless both could be looked at and lead to different files (or to
  // none): for a guard, which a file it cannot look at must not pass.
  bool MayBeSameFile(const std::string& a, const std::string& b);

  // Permission bits, each as the call of the same name in the platform's
  // file_system layer: the owner's write permission on an existing file
  // ("attributes to normal", so that a read-only file can be replaced or
  // deleted where the system asks the file); the bits of from given to to;
  // the bits of a delivered file less the umask given to the file made from
  // it.
  virtual Status SetAttributesNormal(const std::string& path) = 0;
  virtual Status CopyPermissions(const std::string& from, const std::string& to) = 0;
  virtual Status GivePermissionsOfDelivered(const std::string& delivered,
                                            const std::string& to) = 0;

  // Makes the directory's entries durable (fsync on the directory), so that
  // a file created, renamed or removed in it stays so after a power loss.
  virtual Status SyncDirectory(const std::string& path) = 0;
  // Makes everything written to the file system that holds path durable
  // (syncfs): one call for a whole batch of files instead of one per file.
  virtual Status SyncFileSystemOf(const std::string& path) = 0;

  // The named block of shared memory of name, at least size bytes, as
  // NamedSharedMemory::OpenOrCreate gives it; *origin says whether it was
  // created. The failure says why, in the status's message.
  virtual Status OpenSharedMemory(const std::string& name, std::size_t size,
                                  std::unique_ptr<NamedSharedMemory>* memory,
                                  NamedSharedMemory::Origin* origin) = 0;
};

// An Env that passes every call on to another one: a wrapper overrides the
// calls it watches and leaves the rest.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status OpenFile(const std::string& path, RandomAccessFile::Mode mode,
                  std::unique_ptr<RandomAccessFile>* file) override {
    return target_->OpenFile(path, mode, file);
  }
  Status OpenSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file,
                            FileStamp* stamp) override {
    return target_->OpenSequentialFile(path, file, stamp);
  }
  Status OpenStream(const std::string& path, const char* mode, std::FILE** stream) override {
    return target_->OpenStream(path, mode, stream);
  }
  Status WriteUnnamedFile(const std::string& directory, const unsigned char* data,
                          std::size_t size, std::unique_ptr<UnnamedFile>* file) override {
    return target_->WriteUnnamedFile(directory, data, size, file);
  }
  Status RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  Status RenameResolvedFile(const std::string& from, const std::string& to) override {
    return target_->RenameResolvedFile(from, to);
  }
  Status LinkAsNewFile(const std::string& source, const std::string& newName) override {
    return target_->LinkAsNewFile(source, newName);
  }
  Status DeleteFile(const std::string& path) override { return target_->DeleteFile(path); }
  Status DeleteFileKeeping(const std::string& path, DeletedFile* kept) override {
    return target_->DeleteFileKeeping(path, kept);
  }
  Status CreateDirectory(const std::string& path) override {
    return target_->CreateDirectory(path);
  }
  Status RemoveDirectory(const std::string& path) override {
    return target_->RemoveDirectory(path);
  }
  Status ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                       std::vector<std::string>* directoryLinks) override {
    return target_->ListDirectory(path, entries, directoryLinks);
  }
  Status StampFile(const std::string& path, FileStamp* stamp) override {
    return target_->StampFile(path, stamp);
  }
  Status SetAttributesNormal(const std::string& path) override {
    return target_->SetAttributesNormal(path);
  }
  Status CopyPermissions(const std::string& from, const std::string& to) override {
    return target_->CopyPermissions(from, to);
  }
  Status GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) override {
    return target_->GivePermissionsOfDelivered(delivered, to);
  }
  Status SyncDirectory(const std::string& path) override { return target_->SyncDirectory(path); }
  Status SyncFileSystemOf(const std::string& path) override {
    return target_->SyncFileSystemOf(path);
  }
  Status OpenSharedMemory(const std::string& name, std::size_t size,
                          std::unique_ptr<NamedSharedMemory>* memory,
                          NamedSharedMemory::Origin* origin) override {
    return target_->OpenSharedMemory(name, size, memory, origin);
  }

 private:
  Env* target_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_ENV_H_
