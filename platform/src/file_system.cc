// POSIX implementation of the file and directory calls: path translation,
// case-insensitive resolution, and the small wrappers around open, mkdir,
// rmdir, unlink, rename and chmod. Directory enumeration lives in
// directory_listing.cc.
#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "ascii_case.h"

namespace platform {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool EqualsIgnoringAsciiCase(const char* a, const std::string& b) {
  using internal::AsciiLower;
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

// Windows cannot open a directory as a file; fopen and open can on Linux.
bool DescriptorIsDirectory(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ResolvePath(const std::string& path) {
  std::string translated = path;
  for (char& c : translated) {
    if (c == '\\') c = '/';
  }
  if (translated.empty() || Exists(translated)) return translated;
  // Usually only the last level is missing or differs in case (a file about
  // to be created, a name stored upper-cased): when its directory exists as
  // written, one listing of that directory settles it without a walk from the
  // root.
  const std::size_t slash = translated.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "" : translated.substr(0, slash + 1);
  const std::string name = translated.substr(parent.size());
  if (!name.empty() && name != "." && name != ".." && (parent.empty() || Exists(parent))) {
    const std::string match = UniqueCaseInsensitiveMatch(parent, name);
    return parent + (match.empty() ? name : match);
  }
  return ResolveComponents(translated);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  if (path.empty() || mode == nullptr) return nullptr;
  std::FILE* file = std::fopen(ResolvePath(path).c_str(), mode);
  if (file != nullptr && DescriptorIsDirectory(::fileno(file))) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(ResolvePath(path).c_str(), &st) == 0;
}

bool IsReadableFile(const std::string& path) {
  if (path.empty()) return false;
  std::string resolved = ResolvePath(path);
  struct stat st;
  return ::stat(resolved.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(resolved.c_str(), R_OK) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(ResolvePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectory(const std::string& path) {
  return !path.empty() && ::mkdir(ResolvePath(path).c_str(), 0777) == 0;
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && ::rmdir(ResolvePath(path).c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return false;
  std::string resolved = ResolvePath(path);
  struct stat st;
  if (::lstat(resolved.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(resolved.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return std::rename(ResolvePath(from).c_str(), ResolvePath(to).c_str()) == 0;
}

bool SetAttributesNormal(const std::string& path) {
  if (path.empty()) return false;
  std::string resolved = ResolvePath(path);
  struct stat st;
  if (::stat(resolved.c_str(), &st) != 0) return false;
  if ((st.st_mode & S_IWUSR) != 0) return true;
  return ::chmod(resolved.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool CopyPermissions(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  struct stat st;
  if (::stat(ResolvePath(from).c_str(), &st) != 0) return false;
  return ::chmod(ResolvePath(to).c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
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
