// A file written before it has a name. Its bytes go to an anonymous file in
// the directory it is to be named in, so that making the file and writing it
// (which on some file systems costs more than the bytes) can happen on
// another thread, ahead of the moment the file gets its name; naming it is
// then one link, and a file that is never named leaves nothing behind, even
// after a crash.
#ifndef MAROVETIN_PLATFORM_UNNAMED_FILE_H_
#define MAROVETIN_PLATFORM_UNNAMED_FILE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace platform {

class UnnamedFile {
 public:
  // The bytes written to an unnamed file in directory (a path as the system
  // writes it, "\" or "/" separated, taken as written). Null where the system
  // or the file system has no unnamed files, when the directory is not there
  // and when the write fails: the caller then writes a named file as usual.
  // Reached through Env::WriteUnnamedFile, which an Env that watches writes
  // refuses.
  static std::unique_ptr<UnnamedFile> Write(const std::string& directory, const unsigned char* data,
                                            std::size_t size);

  ~UnnamedFile();  // a file never named goes with the object
  UnnamedFile(const UnnamedFile&) = delete;
  UnnamedFile& operator=(const UnnamedFile&) = delete;

  // The directory the file was written in, with "/" separators.
  const std::string& directory() const { return directory_; }

  // Gives the file the name path, in directory(), where nothing may exist yet.
  // False, with errno set, when it cannot; it may be named once only.
  bool Name(const std::string& path);

 private:
  UnnamedFile(std::string directory, int descriptor)
      : directory_(std::move(directory)), descriptor_(descriptor) {}

  std::string directory_;
  int descriptor_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_UNNAMED_FILE_H_
