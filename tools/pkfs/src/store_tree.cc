// The store of a list of files: each read whole and added under its name.
#include "pkfstool/store_tree.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>

#include "pkfstool/progress_bar.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace pkfstool {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file, or the reason it cannot be had.
platform::Status ReadWhole(const std::string& path, std::vector<unsigned char>* data) {
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
  if (file == nullptr) return platform::Status::FromErrno(errno != 0 ? errno : ENOENT, path);
  data->clear();
  unsigned char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    if (data->size() + got > std::numeric_limits<std::uint32_t>::max()) {
      return platform::Status::Error(platform::Status::Code::kInvalid, path,
                                     "too large for a pack volume");
    }
    data->insert(data->end(), chunk, chunk + got);
  }
  if (std::ferror(file.get())) return platform::Status::FromErrno(errno, path);
  return platform::Status::Ok();
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
    if (fileSystem.IsLoaded(file.path)) {
      if (progress != nullptr) progress->Step();
      continue;
    }
    platform::Status status = ReadWhole(file.path, &data);
    if (status.ok() &&
        !fileSystem.AddFile(file.name, data.data(), static_cast<std::uint32_t>(data.size()))) {
      status = platform::Status::Error(platform::Status::Code::kIoError, file.path,
                                       "could not be stored as " + file.name);
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
