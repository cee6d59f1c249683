// Files and directories as the rest of the system expects them from Windows:
// "\" and "/" both separate levels, names match without regard to ASCII
// letter case when the exact path does not exist, and directory listings come
// back in a stable, case-insensitively sorted order.
#ifndef MAROVETIN_PLATFORM_FILE_SYSTEM_H_
#define MAROVETIN_PLATFORM_FILE_SYSTEM_H_

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// Turns a path as the system writes it into the path to hand to the
// operating system: every "\" becomes "/"; then, when the exact path does not
// exist, each missing component is matched case-insensitively (ASCII) against
// its directory's entries and replaced by the match when exactly one entry
// matches. Components that match nothing (a file about to be created) keep
// the name as given. Never fails; an empty path stays empty.
std::string ResolvePath(const std::string& path);

// While an object lives, the case-insensitive matching of ResolvePath keeps
// one listing per directory instead of reading the directory again for every
// name it looks up, so that creating n files in one directory costs time
// linear in n. The layer's own creations, renames and deletions keep the
// listings current; a directory changed by anything else (its modification
// or change time moved) is read again. Objects may nest; the listings go with
// the last one. Safe to use from several threads.
class NameMatchCacheScope {
 public:
  NameMatchCacheScope();
  ~NameMatchCacheScope();
  NameMatchCacheScope(const NameMatchCacheScope&) = delete;
  NameMatchCacheScope& operator=(const NameMatchCacheScope&) = delete;
};

// True when the path names something that exists (file or directory).
bool PathExists(const std::string& path);
// True when the path names a regular file that can be opened for reading.
bool IsReadableFile(const std::string& path);
// True when the path names a directory.
bool IsDirectory(const std::string& path);

// The directory that holds path ("\" or "/" separated): "." for a bare name.
std::string DirectoryOf(const std::string& path);

// One directory entry as Env::ListDirectory reports it.
struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;  // a real directory; links to directories are not reported
};

// One entry of a tree as ListTreeAsIs reports it.
struct TreeEntry {
  // kOther: links, pipes, sockets, devices; kTooLong: a path longer than the
  // system accepts, whose kind cannot be asked.
  enum class Kind { kFile, kDirectory, kOther, kTooLong };
  std::string path;         // below the listed root, levels joined with "/", names as stored
  Kind kind = Kind::kFile;
};

// Everything below root, depth first, nothing left out and nothing followed:
// names beginning with "." and names containing "\" are reported as they are
// stored, links are reported as kOther and not followed. Only root goes
// through ResolvePath; the names below it are used byte for byte. Used to see
// what a walk through Env::ListDirectory did not reach.
void ListTreeAsIs(const std::string& root, std::vector<TreeEntry>* entries);

// The process's current directory; empty when it cannot be read.
std::string GetCurrentDirectory();
// chdir through ResolvePath.
bool SetCurrentDirectory(const std::string& path);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_FILE_SYSTEM_H_
