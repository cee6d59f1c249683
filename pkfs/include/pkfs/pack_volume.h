// What a loaded pack volume shows of itself to a reader: its names, its
// heads, where its directory lies, its trailer, and its file for positioned
// reads. The set hands these out (CPKFSF::volumes); the volume behind one
// stays the library's own.
#ifndef PKFS_PACK_VOLUME_H_
#define PKFS_PACK_VOLUME_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/pack_format.h"
#include "platform/random_access_file.h"

namespace pkfs {

class PackVolume {
 public:
  virtual ~PackVolume() = default;

  // The name the previous volume's trailer stores (for the first volume, the
  // name it was opened by), and where the file is.
  virtual const std::string& name() const = 0;
  virtual const std::string& path() const = 0;
  // Every head, in directory order.
  virtual const std::vector<HeadPtr>& heads() const = 0;
  // The trailer read with the directory, or null when it had none.
  virtual const PackTrailer* trailer() const = 0;
  // The directory's place and record count as the header names them.
  virtual std::uint32_t tableOffset() const = 0;
  virtual std::uint32_t tableSize() const = 0;
  virtual std::uint32_t headCount() const = 0;
  // The trailer's checksum did not match the records read.
  virtual bool checksumMismatch() const = 0;
  // The volume's open file.
  virtual platform::RandomAccessFile* stream() const = 0;
  // Reads exactly length bytes at position, or says false (what could not be
  // read is zeroed).
  virtual bool ReadBuffer(void* data, std::uint32_t position, std::uint32_t length) = 0;
};

// The volume that stores head's bytes; null for a loose file.
PackVolume* VolumeOf(const FileHead& head);

// Where a volume named name lies when it belongs to the set of the volume at
// volumePath: in the same directory. A name with a directory of its own
// (absolute, or with a drive) is taken as it stands.
std::string PathBeside(const std::string& volumePath, const std::string& name);

}  // namespace pkfs

#endif  // PKFS_PACK_VOLUME_H_
