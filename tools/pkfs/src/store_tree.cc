// The store of a list of files: each read whole and added under its name.
#include "pkfstool/store_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "pkfstool/progress_bar.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace pkfstool {

namespace {

// The whole file, or the reason it cannot be had. Opened without following
// a link and without waiting on a pipe that took the file's place since it
// was listed.
platform::Status ReadWhole(const std::string& path, std::vector<unsigned char>* data) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return platform::Status::FromErrno(errno, path);
  struct stat st;
  platform::Status status;
  if (::fstat(fd, &st) != 0) {
    status = platform::Status::FromErrno(errno, path);
  } else if (!S_ISREG(st.st_mode)) {
    status = platform::Status::Error(platform::Status::Code::kInvalid, path,
                                     "is not a regular file; not stored");
  }
  data->clear();
  unsigned char chunk[1 << 16];
  while (status.ok()) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      status = platform::Status::FromErrno(errno, path);
    } else if (got == 0) {
      break;
    } else if (data->size() + static_cast<std::size_t>(got) >
               std::numeric_limits<std::uint32_t>::max()) {
      status = platform::Status::Error(platform::Status::Code::kInvalid, path,
                                       "too large for a pack volume");
    } else {
      data->insert(data->end(), chunk, chunk + got);
    }
  }
  ::close(fd);
  return status;
}

}  // namespace

void StoreTree(pkfs::CPKFSF& fileSystem, const std::vector<SourceFile>& files,
               ProgressBar* progress, std::vector<std::string>* failures) {
  std::vector<unsigned char> data;
  std::vector<std::string> failed;
  // One batch: the set on disk changes once, at the commit, and only whole.
  fileSystem.BeginBatch();
  for (const SourceFile& file : files) {
    // A volume of the set itself is never stored into the set.
    platform::Status status;
    if (fileSystem.IsLoaded(file.path)) {
      status = platform::Status::Error(platform::Status::Code::kInvalid, file.path,
                                       "is a volume of the set; not stored into it");
    } else {
      status = ReadWhole(file.path, &data);
    }
    if (status.ok() && data.empty()) {
      status = platform::Status::Error(platform::Status::Code::kInvalid, file.path,
                                       "is empty, and the set holds no empty files; not stored");
    }
    if (status.ok() &&
        !fileSystem.AddFile(file.name, data.data(), static_cast<std::uint32_t>(data.size()))) {
      const platform::Status& why = fileSystem.lastFailure();
      status = platform::Status::Error(
          platform::Status::Code::kIoError, file.path,
          "could not be stored as " + file.name + (why.ok() ? "" : ": " + why.ToString()));
    }
    if (!status.ok()) failed.push_back(status.ToString());
    if (progress != nullptr) progress->Step();
  }
  const platform::Status committed = fileSystem.CommitBatch();
  if (!committed.ok()) {
    failed.push_back(committed.ToString() + " (nothing of this add was stored)");
  }
  if (failures != nullptr) failures->insert(failures->end(), failed.begin(), failed.end());
}

}  // namespace pkfstool
