// One listing per directory for the case-insensitive name matching, so that
// resolving each of n new names in one directory costs a hash look-up rather
// than a read of the whole directory (which made such runs quadratic).
//
// A listing is trusted only while its directory's identity, modification and
// change times are those recorded with it. Entries this layer creates, renames
// or deletes are applied to the listing, which then takes the directory's
// times at its next look-up (that look-up stats the directory anyway), so the
// run's own work never makes it stale and never forces a re-read, and costs
// no system call of its own; a change by anything else moves the times and
// the directory is read again. (A change by something else between one of
// ours and the next look-up goes unseen: a run's installation is its own.)
#include "name_match_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/file_system.h"

namespace platform {
namespace internal {

namespace {

// Past this many names in all listings together, every listing is dropped.
constexpr std::size_t kMostCachedNames = std::size_t{1} << 20;

struct DirectoryStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  bool SameTimes(const DirectoryStamp& other) const {
    return modifiedNs == other.modifiedNs && changedNs == other.changedNs;
  }
};

struct Listing {
  DirectoryStamp stamp;
  // Lower-cased name -> the entries' own names (more than one when names
  // differ only in case).
  std::unordered_map<std::string, std::vector<std::string>> names;
  std::size_t count = 0;
  bool ownEdits = false;  // edited since its times were recorded
};

using DirectoryKey = std::pair<std::uint64_t, std::uint64_t>;

struct Cache {
  std::mutex mutex;
  int scopes = 0;
  std::map<DirectoryKey, Listing> listings;
  // The directories as looked up by path, so that an edit finds its listing
  // without a stat.
  std::unordered_map<std::string, DirectoryKey> keysByPath;
  std::size_t totalNames = 0;

  void Clear() {
    listings.clear();
    keysByPath.clear();
    totalNames = 0;
  }
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

bool StampDirectory(const std::string& directory, DirectoryStamp* stamp) {
  struct stat st;
  if (::stat(directory.empty() ? "." : directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return false;
  }
  stamp->device = static_cast<std::uint64_t>(st.st_dev);
  stamp->inode = static_cast<std::uint64_t>(st.st_ino);
  stamp->modifiedNs =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

// Reads the directory whole. The stamp is taken first: a change while it is
// read leaves the listing with older times, and the next look-up reads again.
bool ReadListing(const std::string& directory, const DirectoryStamp& stamp, Listing* listing) {
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return false;
  listing->stamp = stamp;
  listing->names.clear();
  listing->count = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    listing->names[LowerAscii(name)].push_back(std::move(name));
    ++listing->count;
  }
  ::closedir(dir);
  return true;
}

// One spelling per directory for keysByPath: no trailing "/".
std::string PathKey(const std::string& directory) {
  std::string key = directory;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

// The directory part and the last name of a path as handed to the system.
bool SplitLast(const std::string& path, std::string* directory, std::string* name) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) {
    directory->clear();
    *name = trimmed;
  } else {
    *directory = slash == 0 ? "/" : trimmed.substr(0, slash);
    *name = trimmed.substr(slash + 1);
  }
  return !name->empty() && *name != "." && *name != "..";
}

template <typename Edit>
void EditListing(const std::string& path, Edit edit) {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.scopes == 0 || cache.listings.empty()) return;
  std::string directory, name;
  if (!SplitLast(path, &directory, &name)) return;
  // The directory is stamped once per path, listed or not: a run that
  // deletes every file of a directory it never looked names up in asks
  // about that directory once, not once per file.
  const std::string key = PathKey(directory);
  auto known = cache.keysByPath.find(key);
  if (known == cache.keysByPath.end()) {
    DirectoryStamp stamp;
    if (!StampDirectory(directory, &stamp)) return;
    known = cache.keysByPath.emplace(key, DirectoryKey(stamp.device, stamp.inode)).first;
  }
  const auto listing = cache.listings.find(known->second);
  if (listing == cache.listings.end()) return;
  const std::size_t before = listing->second.count;
  edit(listing->second, name);
  cache.totalNames = cache.totalNames - before + listing->second.count;
  listing->second.ownEdits = true;
}

}  // namespace

CachedMatch FindCachedMatch(const std::string& directory, const std::string& name,
                            std::string* match) {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.scopes == 0) return CachedMatch::kNotCached;
  DirectoryStamp stamp;
  if (!StampDirectory(directory, &stamp)) return CachedMatch::kNoDirectory;
  const DirectoryKey key(stamp.device, stamp.inode);
  auto found = cache.listings.find(key);
  if (found != cache.listings.end() && found->second.ownEdits) {
    // The listing holds this layer's own changes: the times they gave the
    // directory are its own.
    found->second.stamp = stamp;
    found->second.ownEdits = false;
  }
  if (found == cache.listings.end() || !found->second.stamp.SameTimes(stamp)) {
    Listing fresh;
    if (!ReadListing(directory, stamp, &fresh)) return CachedMatch::kNone;
    if (found != cache.listings.end()) cache.totalNames -= found->second.count;
    if (cache.totalNames + fresh.count > kMostCachedNames) cache.Clear();
    cache.totalNames += fresh.count;
    found = cache.listings.insert_or_assign(key, std::move(fresh)).first;
  }
  cache.keysByPath[PathKey(directory)] = key;
  auto names = found->second.names.find(LowerAscii(name));
  if (names == found->second.names.end() || names->second.size() != 1) return CachedMatch::kNone;
  *match = names->second.front();
  return CachedMatch::kUnique;
}

void NoteEntryCreated(const std::string& path) {
  EditListing(path, [](Listing& listing, const std::string& name) {
    std::vector<std::string>& same = listing.names[LowerAscii(name)];
    if (std::find(same.begin(), same.end(), name) == same.end()) {
      same.push_back(name);
      ++listing.count;
    }
  });
}

void NoteEntryRemoved(const std::string& path) {
  EditListing(path, [](Listing& listing, const std::string& name) {
    auto names = listing.names.find(LowerAscii(name));
    if (names == listing.names.end()) return;
    std::vector<std::string>& same = names->second;
    auto exact = std::find(same.begin(), same.end(), name);
    if (exact == same.end()) return;
    same.erase(exact);
    --listing.count;
    if (same.empty()) listing.names.erase(names);
  });
}

}  // namespace internal

NameMatchCacheScope::NameMatchCacheScope() {
  internal::Cache& cache = internal::TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  ++cache.scopes;
}

NameMatchCacheScope::~NameMatchCacheScope() {
  internal::Cache& cache = internal::TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (--cache.scopes == 0) cache.Clear();
}

}  // namespace platform
