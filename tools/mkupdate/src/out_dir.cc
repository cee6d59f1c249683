// OUT's checks, scratch names and clean-up, with POSIX calls that never
// follow a link below OUT.
#include "mkupdate/out_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/env.h"
#include "platform/file_system.h"

namespace mkupdate {

namespace {

using platform::Status;

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

bool Within(const std::string& inner, const std::string& outer) {
  if (inner == outer) return true;
  if (outer == "/") return true;
  return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
         inner[outer.size()] == '/';
}

Status NeedDirectory(const std::string& path, const char* which) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return Status::Error(
        Status::Code::kNotFound, path,
        std::string(which) + " does not exist (" + Status::FromErrno(errno, path).Reason() + ")");
  }
  if (!S_ISDIR(info.st_mode)) {
    return Status::Error(Status::Code::kInvalid, path, std::string(which) + " is not a directory");
  }
  return Status::Ok();
}

// Removes everything below the directory open as fd, links as links.
bool RemoveContents(int fd) {
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  bool ok = true;
  while (const dirent* item = readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (unlinkat(dirfd(dir), name.c_str(), 0) == 0) continue;
    const int child =
        openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ok = child >= 0 && RemoveContents(child) && ok;
    ok = unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR) == 0 && ok;
  }
  closedir(dir);
  return ok;
}

bool RemoveContentsOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd >= 0 && RemoveContents(fd);
}

}  // namespace

Status CheckDirectories(const std::string& oldDir, const std::string& newDir,
                        const std::string& outDir, bool* usage) {
  *usage = false;
  Status status = NeedDirectory(oldDir, "OLD");
  if (status.ok()) status = NeedDirectory(newDir, "NEW");
  if (!status.ok()) return status;

  std::string outCanonical;
  struct stat info;
  if (stat(outDir.c_str(), &info) == 0 || lstat(outDir.c_str(), &info) == 0) {
    DIR* dir = S_ISDIR(info.st_mode) ? opendir(outDir.c_str()) : nullptr;
    if (dir == nullptr) {
      *usage = true;
      return Status::Error(Status::Code::kInvalid, outDir,
                           "OUT must be an empty directory or not exist");
    }
    bool empty = true;
    while (const dirent* item = readdir(dir)) {
      const std::string name = item->d_name;
      if (name != "." && name != "..") empty = false;
    }
    closedir(dir);
    if (!empty) {
      *usage = true;
      return Status::Error(Status::Code::kInvalid, outDir, "OUT is not empty");
    }
    outCanonical = Canonical(outDir);
  } else {
    // "out/" names the directory out, to be made.
    std::string named = outDir;
    while (named.size() > 1 && named.back() == '/') named.pop_back();
    const std::size_t slash = named.find_last_of('/');
    const std::string parent = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : named.substr(0, slash);
    const std::string base = named.substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.empty() || base == "." || base == "..") {
      *usage = true;
      return Status::Error(Status::Code::kInvalid, outDir, "OUT must name a directory");
    }
    status = NeedDirectory(parent, "OUT's parent directory");
    if (!status.ok()) return status;
    outCanonical = Canonical(parent);
    if (!outCanonical.empty()) outCanonical += (outCanonical == "/" ? "" : "/") + base;
  }
  const std::string oldCanonical = Canonical(oldDir);
  const std::string newCanonical = Canonical(newDir);
  if (oldCanonical.empty() || newCanonical.empty() || outCanonical.empty()) {
    return Status::Error(Status::Code::kIoError, outDir, "the directories cannot be resolved");
  }
  struct Pair {
    const std::string* a;
    const std::string* b;
    const char* names;
  } pairs[] = {{&oldCanonical, &newCanonical, "OLD and NEW"},
               {&oldCanonical, &outCanonical, "OLD and OUT"},
               {&newCanonical, &outCanonical, "NEW and OUT"}};
  for (const Pair& pair : pairs) {
    if (Within(*pair.a, *pair.b) || Within(*pair.b, *pair.a)) {
      *usage = true;
      return Status::Error(Status::Code::kInvalid, *pair.a + ", " + *pair.b,
                           std::string(pair.names) + " must not be or contain one another");
    }
  }
  return Status::Ok();
}

Status OutDir::Create() {
  if (mkdir(path_.c_str(), 0777) == 0) {
    made_ = true;
  } else if (errno != EEXIST) {
    return Status::FromErrno(errno, path_);
  }
  const std::string scratch = path_ + "/" + kScratchName;
  if (mkdir(scratch.c_str(), 0700) != 0) return Status::FromErrno(errno, scratch);
  return Status::Ok();
}

std::string OutDir::ScratchPath() {
  return path_ + "/" + kScratchName + "/" + std::to_string(nextScratch_++);
}

Status OutDir::MakeParents(const std::string& relative) const {
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    const std::string directory = path_ + "/" + relative.substr(0, slash);
    if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
      return Status::FromErrno(errno, directory);
    }
  }
  return Status::Ok();
}

Status OutDir::Finish(bool wrote) {
  const std::string scratch = path_ + "/" + kScratchName;
  if (!RemoveContentsOf(scratch) || rmdir(scratch.c_str()) != 0) {
    return Status::FromErrno(errno, scratch);
  }
  // One sync of the file system instead of one per payload.
  return wrote ? platform::Env::Default()->SyncFileSystemOf(path_) : Status::Ok();
}

void OutDir::Discard() {
  RemoveContentsOf(path_);
  if (made_) rmdir(path_.c_str());
}

}  // namespace mkupdate
