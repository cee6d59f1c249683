// A small block of named shared memory that lives as long as some process
// holds it, as a Windows paging-file mapping does.
#ifndef MAROVETIN_PLATFORM_SHARED_MEMORY_H_
#define MAROVETIN_PLATFORM_SHARED_MEMORY_H_

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class NamedSharedMemory {
 public:
  enum class Origin {
    kOpened,   // another process holds the block: its content is kept
    kCreated,  // this process is the only holder: the block reads all zeros
  };

  // Opens the block called name, or creates it (mode 0600) when it does not
  // exist, sized to at least size bytes and mapped read/write. The object is
  // per user: the operating-system name is derived from name and the user id,
  // unless the environment variable MAROVETIN_SHM_NAME is set, whose value
  // then stands in for name (so that tests running in parallel stay apart).
  //
  // Every holder keeps a shared lock on the object while it runs. A block that
  // exists but that no other process holds (its last holder was killed before
  // it could release it) is treated as created: zeroed and reported as
  // kCreated. Null on failure, with a reason in *error.
  static std::unique_ptr<NamedSharedMemory> OpenOrCreate(const std::string& name, std::size_t size,
                                                         Origin* origin, std::string* error);

  // Releases the mapping. When this was the last holder (the exclusive lock can
  // be taken without waiting), the name is removed, so that the next opener
  // creates the block afresh.
  ~NamedSharedMemory();
  NamedSharedMemory(const NamedSharedMemory&) = delete;
  NamedSharedMemory& operator=(const NamedSharedMemory&) = delete;

  void* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  NamedSharedMemory(int fd, void* data, std::size_t size, std::string osName);
  int fd_;
  void* data_;
  std::size_t size_;
  std::string osName_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SHARED_MEMORY_H_
