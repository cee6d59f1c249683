// New files and directories at exact paths, for trees being built. Both
// systems' C runtimes give descriptors; only the names of the calls differ.
#include "platform/output_file.h"
#include "platform/path_spelling.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <utility>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

std::string Translated(std::string path) { return WithForwardSlashes(std::move(path)); }

#ifdef _WIN32
int OpenForWriting(const char* path) {
  // Binary: the bytes are written as given.
  return ::_open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}
long long WritePiece(int fd, const unsigned char* data, std::size_t length) {
  const std::size_t piece = length < INT_MAX ? length : INT_MAX;
  return ::_write(fd, data, static_cast<unsigned int>(piece));
}
int CloseDescriptor(int fd) { return ::_close(fd); }
int MakeDirectory(const char* path) { return ::_mkdir(path); }
bool IsDirectoryAt(const char* path) {
  struct _stat st;
  return ::_stat(path, &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}
#else
int OpenForWriting(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
long long WritePiece(int fd, const unsigned char* data, std::size_t length) {
  ssize_t n;
  do {
    n = ::write(fd, data, length);
  } while (n < 0 && errno == EINTR);
  return n;
}
int CloseDescriptor(int fd) {
  // The descriptor is gone whatever close reports; it is never retried.
  return ::close(fd) != 0 && errno != EINTR ? -1 : 0;
}
int MakeDirectory(const char* path) { return ::mkdir(path, 0777); }
bool IsDirectoryAt(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
#endif

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, Status* status) {
  const std::string exact = Translated(path);
  const int fd = exact.empty() ? -1 : OpenForWriting(exact.c_str());
  if (fd < 0) {
    if (status != nullptr) *status = Status::FromErrno(exact.empty() ? ENOENT : errno, path);
    return nullptr;
  }
  if (status != nullptr) *status = Status::Ok();
  return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

OutputFile::OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

OutputFile::~OutputFile() {
  if (fd_ >= 0) CloseDescriptor(fd_);
}

Status OutputFile::Append(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    if (fd_ < 0) return Status::Error(Status::Code::kInvalid, path_, "already closed");
    const long long n = WritePiece(fd_, bytes + done, length - done);
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
  if (CloseDescriptor(fd) != 0) return Status::FromErrno(errno, path_);
  return Status::Ok();
}

Status MakeDirectoryExact(const std::string& path) {
  const std::string exact = Translated(path);
  if (exact.empty()) return Status::FromErrno(ENOENT, path);
  if (MakeDirectory(exact.c_str()) == 0) return Status::Ok();
  const int error = errno;
  if (error == EEXIST && IsDirectoryAt(exact.c_str())) return Status::Ok();
  return Status::FromErrno(error, path);
}

}  // namespace platform
