// Writing new files into a tree that the caller is building (an extraction):
// paths are taken exactly as given, with "\" read as "/" but without the
// case-insensitive lookup of ResolvePath, which would list a directory for
// every file created in it.
#ifndef MAROVETIN_PLATFORM_OUTPUT_FILE_H_
#define MAROVETIN_PLATFORM_OUTPUT_FILE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

class OutputFile {
 public:
  // Creates or truncates path for writing (mode 0666 before umask). Null,
  // with *status saying why, when it cannot be created.
  static std::unique_ptr<OutputFile> Create(const std::string& path, Status* status);

  // Closes without reporting; call Close() to learn whether the data stayed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends length bytes; the failure names the file.
  Status Append(const void* data, std::size_t length);
  // Closes the file; the failure (a delayed write error) names it.
  Status Close();

 private:
  OutputFile(int fd, std::string path);
  int fd_;
  std::string path_;
};

// mkdir of path as given; OK when a directory is already there.
Status MakeDirectoryExact(const std::string& path);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_OUTPUT_FILE_H_
