// Windows frees a deleted file within the deletion as far as the caller can
// tell: nothing is kept.
#include "platform/deleted_file.h"
#include "platform/file_system.h"
#include "system_files.h"

namespace platform {

DeletedFile& DeletedFile::operator=(DeletedFile&& other) noexcept {
  if (this != &other) {
    descriptor_ = other.descriptor_;
    other.descriptor_ = -1;
  }
  return *this;
}

std::uint64_t DeletedFile::KeptBytes() const { return 0; }

std::uint64_t DeletedFile::FreeBytesBeside() const { return 0; }

void DeletedFile::Free() { descriptor_ = -1; }

bool DeleteFileKeeping(const std::string& path, DeletedFile* kept) {
  kept->Free();
  return DeleteFile(path);
}

std::size_t RaiseOpenFileLimit(std::size_t) { return 0; }

}  // namespace platform
