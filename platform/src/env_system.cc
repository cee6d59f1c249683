// Env::Default(): the operating system's files, through the calls of
// file_system.h, whose bool-and-errno results become a Status here, in one
// place, naming the path concerned.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/file_system.h"
#include "random_access_file_system.h"
#include "system_files.h"

namespace platform {

namespace {

// The errno of the call that just failed, as a Status about path. A call
// that failed without saying why is reported as an I/O error.
Status Failed(const std::string& path) { return Status::FromErrno(errno != 0 ? errno : EIO, path); }

// Runs one call of the system's (true when done, errno saying why not) and
// gives its result as a Status about path; errno is cleared first, so that a
// call that fails without setting it is not reported with an older reason.
template <typename Call>
Status Checked(const std::string& path, Call call) {
  errno = 0;
  return call() ? Status::Ok() : Failed(path);
}

// A stdio stream read from start to end, without a buffer of its own: the
// callers read in large pieces.
class StreamFile : public SequentialFile {
 public:
  StreamFile(std::string path, std::FILE* stream)
      : SequentialFile(std::move(path)), stream_(stream) {
    std::setvbuf(stream_, nullptr, _IONBF, 0);
  }
  ~StreamFile() override { std::fclose(stream_); }

  Status Read(void* data, std::size_t length, std::size_t* got) override {
    return Counted(ReadFromFile(stream_, data, length), got);
  }
  Status ReadSome(void* data, std::size_t length, std::size_t* got) override {
    return Counted(ReadSomeFromFile(stream_, data, length), got);
  }
  Status Rewind() override {
    return std::fseek(stream_, 0, SEEK_SET) == 0 ? Status::Ok() : Failed(path());
  }

 private:
  Status Counted(long long count, std::size_t* got) {
    *got = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count >= 0 ? Status::Ok() : Failed(path());
  }
  std::FILE* stream_;
};

class SystemEnv : public Env {
 public:
  Status OpenFile(const std::string& path, RandomAccessFile::Mode mode,
                  std::unique_ptr<RandomAccessFile>* file) override {
    return Checked(path,
                   [&] { return (*file = internal::SystemFile::Open(path, mode)) != nullptr; });
  }
  Status OpenSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file,
                            FileStamp* stamp) override {
    FileStamp opened;
    std::FILE* stream = nullptr;
    file->reset();
    const Status status =
        Checked(path, [&] { return (stream = OpenFileToRead(path, &opened)) != nullptr; });
    if (!status.ok()) return status;
    if (stamp != nullptr) *stamp = opened;
    file->reset(new StreamFile(path, stream));
    return status;
  }
  Status OpenStream(const std::string& path, const char* mode, std::FILE** stream) override {
    return Checked(path, [&] { return (*stream = platform::OpenFile(path, mode)) != nullptr; });
  }
  Status WriteUnnamedFile(const std::string& directory, const unsigned char* data,
                          std::size_t size, std::unique_ptr<UnnamedFile>* file) override {
    *file = UnnamedFile::Write(directory, data, size);
    if (*file != nullptr) return Status::Ok();
    return Status::Error(Status::Code::kInvalid, directory, "no unnamed file written");
  }
  Status RenameFile(const std::string& from, const std::string& to) override {
    return Checked(to, [&] { return platform::RenameFile(from, to); });
  }
  Status RenameResolvedFile(const std::string& from, const std::string& to) override {
    return Checked(to, [&] { return platform::RenameResolvedFile(from, to); });
  }
  Status LinkAsNewFile(const std::string& source, const std::string& newName) override {
    return Checked(source, [&] { return platform::LinkAsNewFile(source, newName); });
  }
  Status DeleteFile(const std::string& path) override {
    return Checked(path, [&] { return platform::DeleteFile(path); });
  }
  Status DeleteFileKeeping(const std::string& path, DeletedFile* kept) override {
    return Checked(path, [&] { return platform::DeleteFileKeeping(path, kept); });
  }
  Status CreateDirectory(const std::string& path) override {
    return Checked(path, [&] { return platform::CreateDirectory(path); });
  }
  Status RemoveDirectory(const std::string& path) override {
    return Checked(path, [&] { return platform::RemoveDirectory(path); });
  }
  Status ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                       std::vector<std::string>* directoryLinks) override {
    return Checked(path, [&] {
      return directoryLinks != nullptr ? platform::ListDirectory(path, entries, directoryLinks)
                                       : platform::ListDirectory(path, entries);
    });
  }
  Status StampFile(const std::string& path, FileStamp* stamp) override {
    errno = 0;
    if (StampPath(path, stamp) || errno == ENOENT || errno == ENOTDIR) return Status::Ok();
    return Failed(path);
  }
  Status SetAttributesNormal(const std::string& path) override {
    return Checked(path, [&] { return platform::SetAttributesNormal(path); });
  }
  Status CopyPermissions(const std::string& from, const std::string& to) override {
    return Checked(to, [&] { return platform::CopyPermissions(from, to); });
  }
  Status GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) override {
    return Checked(to, [&] { return platform::GivePermissionsOfDelivered(delivered, to); });
  }
  Status SyncDirectory(const std::string& path) override { return platform::SyncDirectory(path); }
  Status SyncFileSystemOf(const std::string& path) override {
    return platform::SyncFileSystemOf(path);
  }
  Status OpenSharedMemory(const std::string& name, std::size_t size,
                          std::unique_ptr<NamedSharedMemory>* memory,
                          NamedSharedMemory::Origin* origin) override {
    std::string reason;
    *memory = NamedSharedMemory::OpenOrCreate(name, size, origin, &reason);
    if (*memory != nullptr) return Status::Ok();
    return Status::Error(Status::Code::kIoError, name,
                         reason.empty() ? "the block could not be mapped" : reason);
  }
};

}  // namespace

Env* Env::Default() {
  static SystemEnv* const env = new SystemEnv;  // never destroyed: used until exit
  return env;
}

}  // namespace platform
