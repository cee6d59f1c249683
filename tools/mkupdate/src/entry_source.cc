// Loose files read with plain descriptors; pack entries through PackSource.
#include "mkupdate/entry_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mkupdate {

namespace {

constexpr off_t kSequentialBytes = 1 << 20;

class LooseFile : public EntrySource {
 public:
  LooseFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~LooseFile() override { close(fd_); }

  platform::Status Read(unsigned char* data, std::size_t length, std::size_t* got) override {
    ssize_t n;
    do {
      n = read(fd_, data, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      *got = 0;
      return platform::Status::FromErrno(errno, path_);
    }
    *got = static_cast<std::size_t>(n);
    return platform::Status::Ok();
  }

 private:
  int fd_;
  std::string path_;
};

class PackEntry : public EntrySource {
 public:
  PackEntry(PackSource* set, const std::string& name) : reader_(set, name) {}
  platform::Status Read(unsigned char* data, std::size_t length, std::size_t* got) override {
    return reader_.Read(data, length, got);
  }

 private:
  PackSource::Reader reader_;
};

}  // namespace

platform::Status EntrySource::ReadFull(unsigned char* data, std::size_t length, std::size_t* got) {
  *got = 0;
  while (*got < length) {
    std::size_t n = 0;
    platform::Status status = Read(data + *got, length - *got, &n);
    if (!status.ok()) return status;
    if (n == 0) break;
    *got += n;
  }
  return platform::Status::Ok();
}

std::unique_ptr<EntrySource> OpenLooseFile(const std::string& path, platform::Status* status) {
  // O_NONBLOCK: a pipe put in the file's place since the walk must not hold
  // the run; it is refused below like any other non-file.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *status = platform::Status::FromErrno(errno, path);
    return nullptr;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *status = platform::Status::Error(platform::Status::Code::kInvalid, path,
                                      "is no longer a regular file");
    return nullptr;
  }
  // Read-ahead pays for files of many pieces; a small one is one read.
  if (info.st_size > kSequentialBytes) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *status = platform::Status::Ok();
  return std::make_unique<LooseFile>(fd, path);
}

std::unique_ptr<EntrySource> OpenPackEntry(PackSource* set, const std::string& name) {
  return std::make_unique<PackEntry>(set, name);
}

}  // namespace mkupdate
