// Stateless path and directory helpers shared by the launcher and the update
// driver. Paths are byte strings; the system writes its own with "/" and
// accepts "\" from the file system search and the command line.
#ifndef MAROVETIN_FILEUTIL_FILE_UTIL_H_
#define MAROVETIN_FILEUTIL_FILE_UTIL_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace fileutil {

// Replaces every occurrence of from by to, scanning left to right and resuming
// just after each inserted text, so replaced text is never rescanned
// ("a///b" with "//" -> "/" gives "a//b"). from must not be empty.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);

// Three passes: "\\\\" -> "/", then "//" -> "/", then "\\" -> "/".
void NormalizePath(std::string& path);

// Appends the pieces of text between occurrences of sep to pieces; a trailing
// empty piece is not appended, and an empty text gives no piece.
void SplitString(const std::string& text, std::vector<std::string>& pieces, const std::string& sep);

// True when path names its place from the root of a file system rather than
// from the current directory: "/..." or "\..." and, on Windows, "C:/...".
bool IsAbsolutePath(const std::string& path);

// The process's current directory, whole (empty when it cannot be read).
void CurrentDirectory(std::string& out);

// Appends every file below path as path + "\" + relative path with "\"
// between levels, depth first in sorted order; directories whose names begin
// with "." are not searched. A path naming a file appends that path alone.
// Links to directories are never followed; when directoryLinks is given, each
// one met (outside the directories not searched) is appended to it, named
// like a file. When unlisted is given, each directory of the walk that
// exists but cannot be listed is appended to it with the errno: the files
// below it are missing from the list.
struct UnlistedDirectory {
  std::string path;
  int error;
};
// After a listing of directory failed with error (errno): appends it to
// unlisted unless it is simply not there (any more).
void NoteUnlisted(const std::string& directory, int error,
                  std::vector<UnlistedDirectory>* unlisted);
// The directories are read through env.
void ListFiles(const std::string& path, std::vector<std::string>& files,
               std::vector<std::string>* directoryLinks = nullptr,
               std::vector<UnlistedDirectory>* unlisted = nullptr,
               platform::Env* env = platform::Env::Default());

// The walk behind ListFiles: pattern is a directory prefix ending in "\"
// followed by "*.*".
void WalkDirectory(const std::string& pattern, std::vector<std::string>& files,
                   std::vector<std::string>* directoryLinks = nullptr,
                   std::vector<UnlistedDirectory>* unlisted = nullptr,
                   platform::Env* env = platform::Env::Default());

// Creates every directory level of a relative file name (everything before
// its last separator) below base, through env, so that the file can be
// written there.
void MakeDirectories(const std::string& relative, const std::string& base,
                     platform::Env* env = platform::Env::Default());

// Removes the emptied directory levels of a relative name below base, deepest
// first, through env; says "Remove Directory:%s" (no line end) for each level
// that cannot be removed: to output when given, else on standard output.
void RemoveEmptyDirectories(const std::string& relative, const std::string& base,
                            const std::function<void(const std::string& text)>& output = nullptr,
                            platform::Env* env = platform::Env::Default());

// Writes the whole buffer to path (a leading "/" is dropped) through env.
// True when the file was opened, written completely and closed.
bool WriteBufferToFile(const std::string& path, const std::vector<unsigned char>& buffer,
                       platform::Env* env = platform::Env::Default());

}  // namespace fileutil

#endif  // MAROVETIN_FILEUTIL_FILE_UTIL_H_
