// Directory enumeration through FindFirstFileA / FindNextFileA, in the same
// stable order as on POSIX, and with links to directories (symbolic links and
// junctions) left out so that a walk never loops or leaves the tree.
#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "directory_listing_system.h"
#include "platform/file_system.h"
#include "windows_api.h"
#include "system_files.h"

namespace platform {

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  return ListDirectory(path, entries, nullptr);
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                   std::vector<std::string>* directoryLinks) {
  if (entries == nullptr) return false;
  entries->clear();
  // errno says why a listing failed, as on POSIX systems: a path that names
  // no directory is ENOENT, any other failure EIO.
  if (path.empty() || !IsDirectory(path)) {
    errno = ENOENT;
    return false;
  }
  std::string pattern = internal::NativePath(path);
  if (pattern.back() != '/') pattern += '/';
  pattern += '*';
  WIN32_FIND_DATAA found;
  std::vector<std::string> links;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty directory still has "." and "..", except for a drive's root.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    errno = EIO;
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && link) {
      if (directoryLinks != nullptr) links.push_back(name);
      continue;
    }
    DirectoryEntry entry;
    entry.name = name;
    entry.isDirectory = directory;
    entries->push_back(std::move(entry));
  } while (::FindNextFileA(search, &found));
  const bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(search);
  if (!complete) {
    entries->clear();
    return false;
  }
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
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((directory + "/*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::string, DWORD>> names;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    names.emplace_back(name, found.dwFileAttributes);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  for (const auto& [name, attributes] : names) {
    TreeEntry entry;
    entry.path = prefix + name;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      entry.kind = TreeEntry::Kind::kOther;  // a link or junction: reported, not followed
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      entry.kind = TreeEntry::Kind::kDirectory;
    } else {
      entry.kind = TreeEntry::Kind::kFile;
    }
    entries->push_back(entry);
    if (entry.kind == TreeEntry::Kind::kDirectory) {
      ListLevelAsIs(directory + "/" + name, entry.path + "/", entries);
    }
  }
}

}  // namespace internal

}  // namespace platform
