// The recursive file search: every file below a directory, named the way the
// update stages expect to cut them (the directory given, then "\" before each
// level the search added).
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_system.h"

namespace fileutil {

namespace {

const char kAllFiles[] = "*.*";

// Lists prefix's directory (prefix ends in "\" or is empty for the current
// directory), depth first: each subdirectory's files come at the place the
// subdirectory appears in the sorted listing.
void WalkPrefix(const std::string& prefix, std::vector<std::string>& files,
                std::vector<std::string>* directoryLinks,
                std::vector<UnlistedDirectory>* unlisted, platform::Env* env) {
  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> links;
  const std::string directory = prefix.empty() ? "." : prefix;
  const platform::Status listed =
      env->ListDirectory(directory, &entries, directoryLinks != nullptr ? &links : nullptr);
  if (!listed.ok()) {
    const int error = listed.error();
    std::string named = directory;
    if (named.size() > 1 && named.back() == '\\') named.pop_back();
    NoteUnlisted(named, error, unlisted);
    return;
  }
  for (const std::string& link : links) directoryLinks->push_back(prefix + link);
  for (const platform::DirectoryEntry& entry : entries) {
    if (!entry.isDirectory) {
      files.push_back(prefix + entry.name);  // hidden files included
    } else if (entry.name[0] != '.') {
      // Names beginning with "." (version-control folders and the like) are
      // not searched.
      WalkPrefix(prefix + entry.name + "\\", files, directoryLinks, unlisted, env);
    }
  }
}

}  // namespace

void NoteUnlisted(const std::string& directory, int error,
                  std::vector<UnlistedDirectory>* unlisted) {
  // A directory that went away meanwhile has nothing to list; any other
  // failure leaves files out, and the caller must know it.
  if (unlisted == nullptr || error == ENOENT || error == ENOTDIR) return;
  unlisted->push_back(UnlistedDirectory{directory, error != 0 ? error : EIO});
}

void ListFiles(const std::string& path, std::vector<std::string>& files,
               std::vector<std::string>* directoryLinks,
               std::vector<UnlistedDirectory>* unlisted, platform::Env* env) {
  // A path naming a file is its own one entry; the search is not started on it.
  std::FILE* file = nullptr;
  if (env->OpenStream(path, "rb", &file).ok()) {
    std::fclose(file);
    files.push_back(path);
    return;
  }
  std::string pattern = path;
  if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
  pattern += kAllFiles;
  WalkDirectory(pattern, files, directoryLinks, unlisted, env);
}

void WalkDirectory(const std::string& pattern, std::vector<std::string>& files,
                   std::vector<std::string>* directoryLinks,
                   std::vector<UnlistedDirectory>* unlisted, platform::Env* env) {
  std::size_t wildcard = pattern.find(kAllFiles);
  if (wildcard == std::string::npos) return;
  WalkPrefix(pattern.substr(0, wildcard), files, directoryLinks, unlisted, env);
}

}  // namespace fileutil
