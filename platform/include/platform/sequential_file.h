// A file read from its start to its end, as payloads and small records are
// read: no positions, no writes. Opened by Env::OpenSequentialFile; closed
// with the object.
#ifndef MAROVETIN_PLATFORM_SEQUENTIAL_FILE_H_
#define MAROVETIN_PLATFORM_SEQUENTIAL_FILE_H_

#include <cstddef>
#include <string>
#include <utility>

#include "platform/status.h"

namespace platform {

class SequentialFile {
 public:
  virtual ~SequentialFile() = default;
  SequentialFile(const SequentialFile&) = delete;
  SequentialFile& operator=(const SequentialFile&) = delete;

  // The next length bytes, or as many as are left: *got is short only at the
  // end of the file. A failure names the file and the reason.
  virtual Status Read(void* data, std::size_t length, std::size_t* got) = 0;
  // Up to length bytes in as few system reads as the system allows (one on
  // POSIX systems): *got is 0 at the end. A regular file reads short only at
  // its end, so a short count needs no further read to show that nothing
  // follows; a file that grows meanwhile may read short before its new end.
  virtual Status ReadSome(void* data, std::size_t length, std::size_t* got) = 0;
  // Back to the start of the file.
  virtual Status Rewind() = 0;

  // The path the file was opened by.
  const std::string& path() const { return path_; }

 protected:
  explicit SequentialFile(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SEQUENTIAL_FILE_H_
