// New files and directories at exact paths, for trees being built, through
// the C runtime's descriptors (binary mode: bytes are written as given).
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "platform/output_file.h"

namespace platform {

namespace {

// The runtime takes either separator; "/" is kept for messages.
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
    fd = ::_open(exact.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
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
  if (fd_ >= 0) ::_close(fd_);
}

Status OutputFile::Append(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    if (fd_ < 0) return Status::Error(Status::Code::kInvalid, path_, "already closed");
    const std::size_t piece = length - done < INT_MAX ? length - done : INT_MAX;
    const int n = ::_write(fd_, bytes + done, static_cast<unsigned int>(piece));
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
  if (::_close(fd) != 0) return Status::FromErrno(errno, path_);
  return Status::Ok();
}

Status MakeDirectoryExact(const std::string& path) {
  const std::string exact = Translated(path);
  if (exact.empty()) return Status::FromErrno(ENOENT, path);
  if (::_mkdir(exact.c_str()) == 0) return Status::Ok();
  const int error = errno;
  struct _stat st;
  if (error == EEXIST && ::_stat(exact.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR) != 0) {
    return Status::Ok();
  }
  return Status::FromErrno(error, path);
}

}  // namespace platform
