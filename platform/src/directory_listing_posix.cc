// Directory enumeration with Windows-like results: a stable order that does
// not depend on the file system's own, and no way out of the listed tree
// through symbolic links.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "directory_listing_system.h"
#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

namespace {

enum class EntryKind { kFile, kDirectory, kDirectoryLink, kSkipped };

// Regular files (directly or through a link) are files, real directories are
// directories. Links to directories are skipped so that a walk never loops or
// leaves the tree; dangling links, pipes, sockets and devices are skipped too,
// since reading them would fail or block where Windows has no such entries.
EntryKind Classify(int directoryFd, const struct dirent& entry) {
  // Most file systems report the kind in the entry itself, which saves a
  // stat of every name in large directories.
  if (entry.d_type == DT_REG) return EntryKind::kFile;
  if (entry.d_type == DT_DIR) return EntryKind::kDirectory;
  const char* name = entry.d_name;
  struct stat st;
  if (::fstatat(directoryFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::kSkipped;
  if (S_ISDIR(st.st_mode)) return EntryKind::kDirectory;
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  if (S_ISLNK(st.st_mode) && ::fstatat(directoryFd, name, &st, 0) == 0) {
    if (S_ISREG(st.st_mode)) return EntryKind::kFile;
    if (S_ISDIR(st.st_mode)) return EntryKind::kDirectoryLink;
  }
  return EntryKind::kSkipped;
}

}  // namespace

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  return ListDirectory(path, entries, nullptr);
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                   std::vector<std::string>* directoryLinks) {
  if (entries == nullptr) return false;
  entries->clear();
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  DIR* dir = ::opendir(ResolvePath(path).c_str());
  if (dir == nullptr) return false;
  int directoryFd = ::dirfd(dir);
  std::vector<std::string> links;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    // "\" separates levels in this layer, so such a name could never be
    // opened through it; reporting it would only invite callers to build
    // paths that mean something else (a name like "..\x").
    if (std::strchr(entry->d_name, '\\') != nullptr) continue;
    EntryKind kind = Classify(directoryFd, *entry);
    if (kind == EntryKind::kDirectoryLink && directoryLinks != nullptr) {
      links.emplace_back(entry->d_name);
    }
    if (kind == EntryKind::kSkipped || kind == EntryKind::kDirectoryLink) continue;
    DirectoryEntry result;
    result.name = entry->d_name;
    result.isDirectory = kind == EntryKind::kDirectory;
    entries->push_back(std::move(result));
  }
  ::closedir(dir);
  internal::SortListing(entries);
  if (directoryLinks != nullptr) {
    std::sort(links.begin(), links.end());
    directoryLinks->insert(directoryLinks->end(), links.begin(), links.end());
  }
  return true;
}

namespace internal {

void ListLevelAsIs(const std::string& directory, const std::string& prefix,
                   std::vector<TreeEntry>* entries) {
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = directory + "/" + name;
    TreeEntry result;
    result.path = prefix + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      result.kind = errno == ENAMETOOLONG ? TreeEntry::Kind::kTooLong : TreeEntry::Kind::kOther;
    } else if (S_ISDIR(st.st_mode)) {
      result.kind = TreeEntry::Kind::kDirectory;
    } else if (S_ISREG(st.st_mode)) {
      result.kind = TreeEntry::Kind::kFile;
    } else {
      result.kind = TreeEntry::Kind::kOther;
    }
    entries->push_back(result);
    if (result.kind == TreeEntry::Kind::kDirectory) ListLevelAsIs(path, result.path + "/", entries);
  }
}

}  // namespace internal

}  // namespace platform
