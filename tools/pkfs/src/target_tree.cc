// The descriptor walk below an extraction target.
#include "pkfstool/target_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pkfstool {

namespace {

using platform::Status;

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// What is at name in directory, without following a link: why it cannot be
// used as a directory (or as a file, when asFile), or empty when it can.
std::string Obstacle(int directory, const std::string& name, bool asFile) {
  struct stat st;
  if (::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::string();
  if (S_ISLNK(st.st_mode)) return "is a symbolic link; not followed";
  if (asFile && S_ISDIR(st.st_mode)) return "is a directory";
  if (!asFile && !S_ISDIR(st.st_mode)) return "exists and is not a directory";
  if (asFile && !S_ISREG(st.st_mode)) return "exists and is not a regular file";
  return std::string();
}

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

TargetTree::File::~File() { CloseQuietly(fd_); }

Status TargetTree::File::Append(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ssize_t written = ::write(fd_, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Status::FromErrno(written < 0 ? errno : EIO, path_);
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return Status::Ok();
}

Status TargetTree::File::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) return Status::FromErrno(errno, path_);
  return Status::Ok();
}

TargetTree::TargetTree(int root, const std::string& directory)
    : root_(root), prefix_(directory == "." ? std::string() : directory + "/") {}

TargetTree::~TargetTree() {
  CloseFrom(0);
  CloseQuietly(root_);
}

std::unique_ptr<TargetTree> TargetTree::Open(const std::string& directory, Status* status) {
  // The target and the directories above it are the user's to name: made
  // when missing, links followed.
  for (std::size_t slash = directory.find('/', 1); slash != std::string::npos;
       slash = directory.find('/', slash + 1)) {
    ::mkdir(directory.substr(0, slash).c_str(), 0777);
  }
  if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    *status = Status::FromErrno(errno, directory);
    return nullptr;
  }
  const int root = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *status = Status::FromErrno(errno, directory);
    return nullptr;
  }
  return std::unique_ptr<TargetTree>(new TargetTree(root, directory));
}

void TargetTree::CloseFrom(std::size_t depth) {
  while (open_.size() > depth) {
    CloseQuietly(open_.back().second);
    open_.pop_back();
  }
}

int TargetTree::OpenDirectory(const std::vector<std::string>& levels, std::size_t count,
                              const std::string& file, Status* status) {
  std::size_t shared = 0;
  while (shared < open_.size() && shared < count && open_[shared].first == levels[shared]) {
    ++shared;
  }
  CloseFrom(shared);
  std::string path = prefix_;
  for (std::size_t i = 0; i < shared; ++i) path += levels[i] + "/";
  for (std::size_t i = shared; i < count; ++i) {
    const int parent = open_.empty() ? root_ : open_.back().second;
    const std::string& name = levels[i];
    path += name;
    int fd = ::openat(parent, name.c_str(), kDirectoryFlags);
    if (fd < 0 && errno == ENOENT) {
      if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        const Status why = Status::FromErrno(errno, path);
        *status = Status::Error(why.code(), file, "not extracted: " + why.ToString());
        return -1;
      }
      fd = ::openat(parent, name.c_str(), kDirectoryFlags);
    }
    if (fd < 0) {
      const int error = errno;
      const std::string obstacle = Obstacle(parent, name, /*asFile=*/false);
      *status = Status::Error(
          obstacle.empty() ? Status::FromErrno(error, path).code() : Status::Code::kInvalid, file,
          "not extracted: " + path + " " +
              (obstacle.empty() ? Status::FromErrno(error, path).Reason() : obstacle));
      return -1;
    }
    open_.emplace_back(name, fd);
    path += "/";
  }
  return open_.empty() ? root_ : open_.back().second;
}

std::unique_ptr<TargetTree::File> TargetTree::Create(const std::vector<std::string>& levels,
                                                     Status* status) {
  const std::string& leaf = levels.back();
  std::string path = prefix_ + levels.front();
  for (std::size_t i = 1; i < levels.size(); ++i) path += "/" + levels[i];
  const int directory = OpenDirectory(levels, levels.size() - 1, path, status);
  if (directory < 0) return nullptr;
  // O_NONBLOCK: a pipe that took the name's place must not stall the tool.
  constexpr int kFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::openat(directory, leaf.c_str(), kFileFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    const std::string obstacle = Obstacle(directory, leaf, /*asFile=*/true);
    if (!obstacle.empty()) {
      *status = Status::Error(Status::Code::kInvalid, path, obstacle + "; not extracted");
      return nullptr;
    }
    // A regular file: its name is given to a new file.
    if (::unlinkat(directory, leaf.c_str(), 0) != 0 && errno != ENOENT) {
      *status = Status::FromErrno(errno, path);
      return nullptr;
    }
    fd = ::openat(directory, leaf.c_str(), kFileFlags, 0666);
  }
  if (fd < 0) {
    const int error = errno;
    const std::string obstacle = Obstacle(directory, leaf, /*asFile=*/true);
    *status = obstacle.empty()
                  ? Status::FromErrno(error, path)
                  : Status::Error(Status::Code::kInvalid, path, obstacle + "; not extracted");
    return nullptr;
  }
  return std::unique_ptr<File>(new File(fd, path));
}

}  // namespace pkfstool
