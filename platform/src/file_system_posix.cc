// POSIX implementation of the file and directory calls: path translation,
// case-insensitive resolution, and the small wrappers around open, mkdir,
// rmdir, unlink, rename and chmod. Directory enumeration lives in
// directory_listing_posix.cc.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_removal.h"
#include "name_match_cache.h"
#include "path_resolution.h"
#include "stamp_from_stat.h"
#include "platform/ascii_case.h"
#include "platform/file_identity.h"
#include "platform/path_spelling.h"
#include "system_files.h"

namespace platform {

namespace {

// The process's umask, which can only be read by setting it, so it is read
// once, before any thread runs.
const mode_t kUmask = [] {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}();

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool EqualsIgnoringAsciiCase(const char* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size() || AsciiLower(static_cast<unsigned char>(a[i])) !=
                             AsciiLower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == b.size();
}

// The one entry of directory whose name equals name without regard to ASCII
// case. Empty when there is none or when several match (an ambiguous name is
// left as given rather than guessed).
std::string UniqueCaseInsensitiveMatch(const std::string& directory, const std::string& name) {
  std::string cached;
  switch (internal::FindCachedMatch(directory, name, &cached)) {
    case internal::CachedMatch::kUnique:
      return cached;
    case internal::CachedMatch::kNone:
    case internal::CachedMatch::kNoDirectory:
      return std::string();
    case internal::CachedMatch::kNotCached:
      break;
  }
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return std::string();
  std::string match;
  int matches = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    if (EqualsIgnoringAsciiCase(entry->d_name, name)) {
      if (++matches > 1) break;
      match = entry->d_name;
    }
  }
  ::closedir(dir);
  return matches == 1 ? match : std::string();
}

// Resolves a "/"-separated path that does not exist as written, one component
// at a time. Separators are kept exactly as given; only the names change.
std::string ResolveComponents(const std::string& path) {
  std::string resolved;
  std::size_t pos = 0;
  bool resolving = true;  // false once a component matched nothing
  while (pos < path.size()) {
    if (path[pos] == '/') {
      resolved += '/';
      ++pos;
      continue;
    }
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(pos, end - pos);
    pos = end;
    if (resolving && name != "." && name != "..") {
      std::string candidate = resolved + name;
      if (!Exists(candidate)) {
        std::string match = UniqueCaseInsensitiveMatch(resolved, name);
        if (match.empty()) {
          // Nothing below a missing level can exist: the rest stays as given.
          resolving = false;
        } else {
          name = match;
        }
      }
    }
    resolved += name;
  }
  return resolved;
}

}  // namespace

std::string ResolvePath(const std::string& path) {
  const std::string translated = WithForwardSlashes(path);
  if (translated.empty() || Exists(translated)) return translated;
  return internal::ResolveMissingPath(translated);
}

namespace internal {

std::string ResolveMissingPath(const std::string& translated) {
  // Usually only the last level is missing or differs in case (a file about
  // to be created, a name stored upper-cased): when its directory exists as
  // written, one listing of that directory settles it without a walk from the
  // root.
  const std::size_t slash = translated.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "" : translated.substr(0, slash + 1);
  const std::string name = translated.substr(parent.size());
  if (!name.empty() && name != "." && name != "..") {
    std::string match;
    switch (internal::FindCachedMatch(parent, name, &match)) {
      case internal::CachedMatch::kUnique:
        return parent + match;
      case internal::CachedMatch::kNone:
        return parent + name;
      case internal::CachedMatch::kNoDirectory:
        return ResolveComponents(translated);
      case internal::CachedMatch::kNotCached:
        break;
    }
    if (parent.empty() || Exists(parent)) {
      match = UniqueCaseInsensitiveMatch(parent, name);
      return parent + (match.empty() ? name : match);
    }
  }
  return ResolveComponents(translated);
}

}  // namespace internal

namespace {

// fopen through ResolvePath; *st says what was opened. Windows cannot open a
// directory as a file, fopen and open can on Linux: a directory is refused
// here as it is there.
std::FILE* OpenFileWithStat(const std::string& path, const char* mode, struct stat* st) {
  if (path.empty() || mode == nullptr) return nullptr;
  const bool creates = std::strchr(mode, 'w') != nullptr || std::strchr(mode, 'a') != nullptr;
  std::FILE* file = nullptr;
  std::string opened;
  if (creates) {
    // A new file must take the name of an existing one that differs only in
    // case, so the name is resolved before anything is created.
    opened = ResolvePath(path);
    file = std::fopen(opened.c_str(), mode);
  } else {
    internal::OnExistingPath(path, [&](const std::string& candidate) {
      file = std::fopen(candidate.c_str(), mode);
      return file != nullptr;
    });
  }
  if (file == nullptr) return nullptr;
  const bool described = ::fstat(::fileno(file), st) == 0;
  if (!described || S_ISDIR(st->st_mode)) {
    const int error = described ? EISDIR : errno;
    std::fclose(file);
    errno = error;
    return nullptr;
  }
  if (creates) internal::NoteEntryCreated(opened);
  return file;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
  struct stat st;
  return OpenFileWithStat(path, mode, &st);
}

std::FILE* OpenFileToRead(const std::string& path, FileStamp* stamp) {
  struct stat st;
  std::FILE* file = OpenFileWithStat(path, "rb", &st);
  if (file != nullptr) *stamp = internal::StampFromStat(st);
  return file;
}

long long ReadSomeFromFile(std::FILE* file, void* data, std::size_t length) {
  for (;;) {
    const ssize_t got = ::read(::fileno(file), data, length);
    if (got >= 0) return static_cast<long long>(got);
    if (errno != EINTR) return -1;
  }
}

namespace {

// stat through OnExistingPath; the path that answered in *found when given.
bool StatExisting(const std::string& path, struct stat* st, std::string* found = nullptr) {
  if (path.empty()) return false;
  return internal::OnExistingPath(path, [&](const std::string& candidate) {
    if (::stat(candidate.c_str(), st) != 0) return false;
    if (found != nullptr) *found = candidate;
    return true;
  });
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat st;
  return StatExisting(path, &st);
}

bool IsReadableFile(const std::string& path) {
  struct stat st;
  std::string found;
  return StatExisting(path, &st, &found) && S_ISREG(st.st_mode) &&
         ::access(found.c_str(), R_OK) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return StatExisting(path, &st) && S_ISDIR(st.st_mode);
}

bool CreateDirectory(const std::string& path) {
  if (path.empty()) return false;
  const std::string resolved = ResolvePath(path);
  if (::mkdir(resolved.c_str(), 0777) != 0) return false;
  internal::NoteEntryCreated(resolved);
  return true;
}

bool RemoveDirectory(const std::string& path) {
  if (path.empty()) return false;
  return internal::OnExistingPath(path, [](const std::string& candidate) {
    if (::rmdir(candidate.c_str()) != 0) return false;
    internal::NoteEntryRemoved(candidate);
    return true;
  });
}

namespace internal {

bool UnlinkFile(const std::string& path, int* keep) {
  if (keep != nullptr) *keep = -1;
  if (path.empty()) return false;
  // unlink refuses a directory (EISDIR), as DeleteFile does on Windows.
  return OnExistingPath(path, [keep](const std::string& candidate) {
    // A reference that only names the file (O_PATH) keeps it alive past the
    // unlink without the right to read it; O_NOFOLLOW keeps a link itself,
    // which is what unlink removes.
    const int kept = keep != nullptr ? ::open(candidate.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                                     : -1;
    if (::unlink(candidate.c_str()) != 0) {
      const int error = errno;
      if (kept >= 0) ::close(kept);
      errno = error;
      return false;
    }
    NoteEntryRemoved(candidate);
    if (keep != nullptr) *keep = kept;
    return true;
  });
}

}  // namespace internal

bool DeleteFile(const std::string& path) { return internal::UnlinkFile(path, nullptr); }

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return RenameResolvedFile(ResolvePath(from), ResolvePath(to));
}

bool LinkAsNewFile(const std::string& source, const std::string& newName) {
  if (source.empty() || newName.empty()) {
    errno = EINVAL;
    return false;
  }
  std::string from;
  struct stat st;
  const bool found = internal::OnExistingPath(source, [&from, &st](const std::string& candidate) {
    if (::lstat(candidate.c_str(), &st) != 0) return false;
    from = candidate;
    return true;
  });
  if (!found) return false;
  int refusal = 0;
  if (!S_ISREG(st.st_mode)) {
    refusal = EINVAL;  // a link would give newName the link, not the file
  } else if (st.st_nlink != 1) {
    refusal = EMLINK;  // the installation would share its bytes with another name
  } else if (st.st_uid != ::geteuid()) {
    refusal = EPERM;  // a copy would belong to this user
  } else if ((st.st_mode & S_IRUSR) == 0) {
    refusal = EACCES;  // a copy could not read it
  }
  if (refusal != 0) {
    errno = refusal;
    return false;
  }
  const std::string to = WithForwardSlashes(newName);
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno != EEXIST || ::unlink(to.c_str()) != 0 || ::link(from.c_str(), to.c_str()) != 0) {
      return false;
    }
  }
  internal::NoteEntryCreated(to);
  const mode_t newMode = st.st_mode & 0777 & ~kUmask;
  const bool asNew = ((st.st_mode & 07777) == newMode || ::chmod(to.c_str(), newMode) == 0) &&
                     ::utimensat(AT_FDCWD, to.c_str(), nullptr, 0) == 0;
  if (!asNew) {
    const int error = errno;
    ::unlink(to.c_str());
    internal::NoteEntryRemoved(to);
    errno = error;
    return false;
  }
  return true;
}

bool RenameResolvedFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  const std::string source = WithForwardSlashes(from);
  const std::string target = WithForwardSlashes(to);
  if (std::rename(source.c_str(), target.c_str()) != 0) return false;
  internal::NoteEntryRemoved(source);
  internal::NoteEntryCreated(target);
  return true;
}

bool SetAttributesNormal(const std::string& path) {
  struct stat st;
  std::string found;
  if (!StatExisting(path, &st, &found)) return false;
  if ((st.st_mode & S_IWUSR) != 0) return true;
  return ::chmod(found.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

namespace {

// Gives to the permission bits (read, write, execute; never set-id or
// sticky bits) of from, less mask.
bool CopyPermissionBits(const std::string& from, const std::string& to, mode_t mask) {
  if (from.empty() || to.empty()) return false;
  struct stat st;
  if (::stat(ResolvePath(from).c_str(), &st) != 0) return false;
  return ::chmod(ResolvePath(to).c_str(), st.st_mode & 0777 & ~mask) == 0;
}

}  // namespace

bool CopyPermissions(const std::string& from, const std::string& to) {
  return CopyPermissionBits(from, to, 0);
}

bool GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) {
  return CopyPermissionBits(delivered, to, kUmask);
}

std::string GetCurrentDirectory() {
  std::vector<char> buffer(1024);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool SetCurrentDirectory(const std::string& path) {
  return !path.empty() && ::chdir(ResolvePath(path).c_str()) == 0;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace platform
