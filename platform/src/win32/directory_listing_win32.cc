// Directory enumeration through FindFirstFileA / FindNextFileA, in the same
// stable order as on POSIX, and with links to directories (symbolic links and
// junctions) left out so that a walk never loops or leaves the tree.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "windows_api.h"

namespace platform {

namespace {



// Case-insensitive (ASCII) order, ties broken bytewise, as on POSIX.
bool NameLess(const DirectoryEntry& a, const DirectoryEntry& b) {
  const std::string& x = a.name;
  const std::string& y = b.name;
  std::size_t common = std::min(x.size(), y.size());
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char cx = AsciiLower(static_cast<unsigned char>(x[i]));
    unsigned char cy = AsciiLower(static_cast<unsigned char>(y[i]));
    if (cx != cy) return cx < cy;
  }
  if (x.size() != y.size()) return x.size() < y.size();
  return x < y;
}

}  // namespace

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  if (entries == nullptr) return false;
  entries->clear();
  if (path.empty() || !IsDirectory(path)) return false;
  std::string pattern = internal::NativePath(path);
  if (pattern.back() != '/') pattern += '/';
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty directory still has "." and "..", except for a drive's root.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && link) continue;
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
  std::sort(entries->begin(), entries->end(), NameLess);
  return true;
}

namespace {

// One level of ListTreeAsIs: directory is a path for the API as it is,
// prefix the names above this level as reported.
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

}  // namespace

void ListTreeAsIs(const std::string& root, std::vector<TreeEntry>* entries) {
  if (entries == nullptr) return;
  entries->clear();
  if (root.empty()) return;
  ListLevelAsIs(ResolvePath(root), std::string(), entries);
}

}  // namespace platform
