// An installation's pack set, read through the pack file system library: the
// entries in force with their sizes, and their decoded bytes piece by piece.
// The library is not made for several threads at once, so every call into it
// is made under one lock; the caller encodes and compares outside it.
#ifndef MKUPDATE_PACK_SOURCE_H_
#define MKUPDATE_PACK_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace pkfs {
class CFSFile;
class CFSManager;
class CPKFSF;
}  // namespace pkfs

namespace mkupdate {

class PackSource {
 public:
  struct Entry {
    std::string name;  // as stored, the key the set finds it under
    std::uint64_t size = 0;
  };

  PackSource();
  ~PackSource();
  PackSource(const PackSource&) = delete;
  PackSource& operator=(const PackSource&) = delete;

  // Loads the set whose first volume is packName below installation, with
  // every volume its chain names. An installation without that file has an
  // empty set. The failure says why the set cannot be read whole.
  platform::Status Open(const std::string& installation, const std::string& packName);

  bool present() const { return fileSystem_ != nullptr; }
  // The entries in force, sorted by name.
  const std::vector<Entry>& entries() const { return entries_; }
  std::size_t volumeCount() const;
  // True when path (any spelling) is one of the set's volume files.
  bool IsVolume(const std::string& path) const;

  // One entry opened for reading its decoded bytes from the start.
  class Reader {
   public:
    Reader(PackSource* source, const std::string& name);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // Fills data with up to length next bytes; *got is 0 at the end. The
    // failure names the entry and the set.
    platform::Status Read(unsigned char* data, std::size_t length, std::size_t* got);

   private:
    PackSource* source_;
    std::string name_;
    pkfs::CFSFile* handle_ = nullptr;
    platform::Status opened_;
  };

 private:
  std::string shownName_;  // the first volume as the user would find it
  std::unique_ptr<pkfs::CFSManager> manager_;
  pkfs::CPKFSF* fileSystem_ = nullptr;  // owned by manager_
  std::vector<Entry> entries_;
};

}  // namespace mkupdate

#endif  // MKUPDATE_PACK_SOURCE_H_
