// The walk of an installation: each directory opened relative to its parent
// with O_NOFOLLOW, so that no link is ever followed out of the tree.
#include "mkupdate/tree_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mkupdate {

namespace {

class DirectoryStream {
 public:
  explicit DirectoryStream(int fd) : dir_(fd >= 0 ? fdopendir(fd) : nullptr) {
    if (dir_ == nullptr && fd >= 0) close(fd);
  }
  ~DirectoryStream() {
    if (dir_ != nullptr) closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

// A link by its text (never followed), anything else by its kind.
std::string DescribeOther(int dirFd, const std::string& name) {
  struct stat info;
  if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return "gone";
  if (S_ISLNK(info.st_mode)) {
    std::string text(4096, '\0');
    const ssize_t n = readlinkat(dirFd, name.c_str(), &text[0], text.size());
    if (n < 0) return "unreadable link";
    text.resize(static_cast<std::size_t>(n));
    return "link to " + text;
  }
  if (S_ISFIFO(info.st_mode)) return "pipe";
  if (S_ISSOCK(info.st_mode)) return "socket";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "device";
  return "special file";
}

platform::Status ScanDirectory(int fd, const std::string& shown, const std::string& prefix,
                               std::vector<TreeEntry>* entries) {
  DirectoryStream stream(fd);
  if (stream.get() == nullptr) return platform::Status::FromErrno(errno, shown);
  const int dirFd = dirfd(stream.get());
  while (true) {
    errno = 0;
    const dirent* item = readdir(stream.get());
    if (item == nullptr) {
      if (errno != 0) return platform::Status::FromErrno(errno, shown);
      return platform::Status::Ok();
    }
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    TreeEntry entry;
    entry.path = prefix + name;
    unsigned char type = item->d_type;
    struct stat info;
    if (type == DT_REG || type == DT_UNKNOWN) {
      if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return platform::Status::FromErrno(errno, shown + "/" + name);
      }
      type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
      entry.size = type == DT_REG ? static_cast<std::uint64_t>(info.st_size) : 0;
    }
    if (type == DT_DIR) {
      entry.kind = TreeEntry::Kind::kDirectory;
      entries->push_back(entry);
      const int child =
          openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) return platform::Status::FromErrno(errno, shown + "/" + name);
      platform::Status status = ScanDirectory(child, shown + "/" + name, entry.path + "/", entries);
      if (!status.ok()) return status;
    } else {
      entry.kind = type == DT_REG ? TreeEntry::Kind::kFile : TreeEntry::Kind::kOther;
      if (entry.kind == TreeEntry::Kind::kOther) entry.other = DescribeOther(dirFd, name);
      entries->push_back(std::move(entry));
    }
  }
}

}  // namespace

platform::Status ScanTree(const std::string& root, std::vector<TreeEntry>* entries) {
  entries->clear();
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return platform::Status::FromErrno(errno, root);
  return ScanDirectory(fd, root, std::string(), entries);
}

}  // namespace mkupdate
