// A file deleted by its name while its blocks are kept. On POSIX systems a
// reference to a file outlives its last name: the name goes at once, as with
// DeleteFile, and the blocks are freed only when the reference is let go (on
// whatever thread lets it go). Freeing can wait for the device (a file system
// mounted to discard freed blocks issues the discard inside it), so a caller
// that deletes many files can free them elsewhere or later. Windows frees a
// file within its deletion: nothing is kept there.
#ifndef MAROVETIN_PLATFORM_DELETED_FILE_H_
#define MAROVETIN_PLATFORM_DELETED_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class DeletedFile {
 public:
  DeletedFile() = default;
  // Frees the blocks of a file still kept.
  ~DeletedFile() { Free(); }
  DeletedFile(DeletedFile&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
  }
  DeletedFile& operator=(DeletedFile&& other) noexcept;
  DeletedFile(const DeletedFile&) = delete;
  DeletedFile& operator=(const DeletedFile&) = delete;

  bool kept() const { return descriptor_ >= 0; }
  // The space the kept file takes on its file system; 0 when nothing is kept.
  std::uint64_t KeptBytes() const;
  // The space still free for an unprivileged user on the file system that
  // holds the kept file; 0 when nothing is kept or it cannot be told.
  std::uint64_t FreeBytesBeside() const;
  // Lets the file go: its blocks are freed now, on the calling thread.
  void Free();

 private:
  friend bool DeleteFileKeeping(const std::string& path, DeletedFile* kept);
  int descriptor_ = -1;
};

// DeleteFile(path), with its result and errno, that keeps the deleted file in
// *kept (freeing whatever *kept held before) where the system allows it. When
// it does not (no descriptor is left; Windows), the file is freed within the
// deletion and *kept stays empty.
bool DeleteFileKeeping(const std::string& path, DeletedFile* kept);

// How many files the process may keep open at once after its soft limit was
// raised toward the hard one, to at most wanted; 0 when it cannot be told.
std::size_t RaiseOpenFileLimit(std::size_t wanted);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_DELETED_FILE_H_
