// The listings behind case-insensitive name matching, kept while a
// NameMatchCacheScope lives (see file_system.h).
#ifndef MAROVETIN_PLATFORM_SRC_NAME_MATCH_CACHE_H_
#define MAROVETIN_PLATFORM_SRC_NAME_MATCH_CACHE_H_

#include <string>

namespace platform {
namespace internal {

enum class CachedMatch {
  kNotCached,    // no scope is active: the caller reads the directory itself
  kUnique,       // exactly one entry matches; *match holds its name
  kNone,         // no entry, or several, match (or the directory cannot be read)
  kNoDirectory,  // the directory does not exist as written
};

// The entry of directory ("" for the current one) whose name equals name
// without regard to ASCII case, from the directory's listing, read once and
// again only when the directory changed in a way this layer did not make.
CachedMatch FindCachedMatch(const std::string& directory, const std::string& name,
                            std::string* match);

// This layer has just created, or removed, the entry at path (the path as
// handed to the operating system). A listing of its directory is brought up
// to date instead of being read again.
void NoteEntryCreated(const std::string& path);
void NoteEntryRemoved(const std::string& path);

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_NAME_MATCH_CACHE_H_
