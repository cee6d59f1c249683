// Walking the files add was given, with lstat: nothing is followed.
#include "pkfstool/source_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "pkfstool/pack_set.h"
#include "platform/ascii_case.h"
#include "platform/status.h"

namespace pkfstool {

namespace {

// Why a link is left out, after what it points at.
std::string LinkReason(const std::string& path) {
  struct stat target;
  if (::stat(path.c_str(), &target) != 0) return "is a dangling symbolic link; not stored";
  if (S_ISDIR(target.st_mode)) return "is a symbolic link to a directory; not followed";
  return "is a symbolic link; not followed";
}

std::string OtherReason(mode_t mode) {
  if (S_ISFIFO(mode)) return "is a pipe, not a regular file; not stored";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file; not stored";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file; not stored";
  return "is not a regular file; not stored";
}

// The entries of a directory but "." and "..", in the order the updater
// walks them: compared without regard to ASCII case, ties bytewise.
bool ListNames(const std::string& path, std::vector<std::string>* names, int* error) {
  DIR* directory = ::opendir(path.c_str());
  if (directory == nullptr) {
    *error = errno;
    return false;
  }
  while (const dirent* entry = ::readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names->emplace_back(entry->d_name);
  }
  ::closedir(directory);
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    const std::string lowerA = platform::LowerAscii(a);
    const std::string lowerB = platform::LowerAscii(b);
    return lowerA != lowerB ? lowerA < lowerB : a < b;
  });
  return true;
}

}  // namespace

void CollectSources(const std::string& path, const std::string& name, SourceList* list) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    list->skipped.push_back(platform::Status::FromErrno(errno, path).ToString());
    return;
  }
  if (S_ISLNK(st.st_mode)) {
    list->skipped.push_back(path + ": " + LinkReason(path));
  } else if (S_ISDIR(st.st_mode)) {
    std::vector<std::string> names;
    int error = 0;
    if (!ListNames(path, &names, &error)) {
      list->skipped.push_back(path + ": cannot be listed: " +
                              platform::Status::FromErrno(error, path).Reason());
      return;
    }
    for (const std::string& entry : names) {
      // Paths are named as the user gave them; "." adds nothing.
      const std::string childPath = path == "." ? entry : path + "/" + entry;
      const std::string childName = name.empty() ? entry : name + "/" + entry;
      struct stat child;
      // Directories whose names begin with "." are not searched.
      if (entry[0] == '.' && ::lstat(childPath.c_str(), &child) == 0 && S_ISDIR(child.st_mode)) {
        continue;
      }
      CollectSources(childPath, childName, list);
    }
  } else if (!S_ISREG(st.st_mode)) {
    list->skipped.push_back(path + ": " + OtherReason(st.st_mode));
  } else if (name.find('\\') != std::string::npos) {
    list->skipped.push_back(path +
                            ": its name holds \"\\\", which the set reads as a level separator; "
                            "not stored");
  } else if (st.st_size == 0) {
    list->skipped.push_back(path + ": is empty, and the set holds no empty files; not stored");
  } else {
    list->files.push_back({path, name});
  }
}

void DropCaseTwins(SourceList* list) {
  std::map<std::string, std::vector<std::size_t>> byKey;
  std::set<std::string> names;
  std::vector<SourceFile> unique;
  for (const SourceFile& file : list->files) {
    if (!names.insert(file.name).second) continue;  // the same name given twice
    byKey[StoredKey(file.name)].push_back(unique.size());
    unique.push_back(file);
  }
  std::vector<bool> twin(unique.size(), false);
  for (const auto& key : byKey) {
    if (key.second.size() < 2) continue;
    for (const std::size_t index : key.second) {
      twin[index] = true;
      const std::size_t other = key.second[index == key.second[0] ? 1 : 0];
      list->skipped.push_back(unique[index].path + ": its name differs from " +
                              unique[other].path +
                              "'s only in letter case, and the set holds one of them; "
                              "neither is stored");
    }
  }
  list->files.clear();
  for (std::size_t i = 0; i < unique.size(); ++i) {
    if (!twin[i]) list->files.push_back(unique[i]);
  }
}

}  // namespace pkfstool
