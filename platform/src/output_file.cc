// New files and directories at exact paths, for trees being built.
#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

namespace {

std::string Translated(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, Status* status) {
  const std::string exact = Translated(path);
  int fd = -1;
  if (!exact.empty()) {
    do {
      fd = ::open(exact.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    if (status != nullptr) *status = Status::FromErrno(exact.empty() ? ENOENT : errno, path);
    return nullptr;
  }
  if (status != nullptr) *status = Status::Ok();
  return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

OutputFile::OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status OutputFile::Append(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    if (fd_ < 0) return Status::Error(Status::Code::kInvalid, path_, "already closed");
    const ssize_t n = ::write(fd_, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Status::FromErrno(errno, path_);
    if (n == 0) return Status::FromErrno(ENOSPC, path_);
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

Status OutputFile::Close() {
  if (fd_ < 0) return Status::Ok();
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is gone whatever close reports; it is never retried.
  if (::close(fd) != 0 && errno != EINTR) return Status::FromErrno(errno, path_);
  return Status::Ok();
}

Status MakeDirectoryExact(const std::string& path) {
  const std::string exact = Translated(path);
  if (exact.empty()) return Status::FromErrno(ENOENT, path);
  if (::mkdir(exact.c_str(), 0777) == 0) return Status::Ok();
  const int error = errno;
  struct stat st;
  if (error == EEXIST && ::stat(exact.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return Status::Ok();
  }
  return Status::FromErrno(error, path);
}

}  // namespace platform
