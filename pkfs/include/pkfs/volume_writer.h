// How every writer of the volume format lays down a directory and a header:
// the batch commit, a new empty volume and a compaction all build their bytes
// here, so the format has one writer. Where the bytes go and when they are
// synced stays with the caller (a commit writes the directory, syncs, then
// the header; a volume not yet named writes both and syncs once).
#ifndef PKFS_VOLUME_WRITER_H_
#define PKFS_VOLUME_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pkfs {

class CFSManager;
class FileHead;

constexpr std::size_t kVolumeHeaderBytes = 16;

// A directory under construction: the file records in order, then a trailer
// that names the next volume and carries the byte sum of the records.
class DirectoryWriter {
 public:
  // Room for this many bytes of records without growing.
  void Reserve(std::size_t recordBytes) { records_.reserve(recordBytes); }
  // Appends head's record (name, start, size, flags, filter word).
  void Add(const FileHead& head);
  // Appends records serialised already, whose byte sum is known.
  void AddSerialized(const unsigned char* records, std::size_t length, std::uint32_t byteSum);
  // Appends every record of other.
  void AddAll(const DirectoryWriter& other) {
    AddSerialized(other.records_.data(), other.records_.size(), other.sum_);
  }
  // The bytes of the records so far.
  std::size_t recordBytes() const { return records_.size(); }
  // The byte sum of the records so far: the trailer's checksum.
  std::uint32_t checksum() const { return sum_; }
  // The whole directory, records and the trailer naming nextName (empty: the
  // last volume), passed through the filters' directory filter for the disk.
  std::vector<unsigned char> Finish(const std::string& nextName, const CFSManager* filters) const;

 private:
  std::vector<unsigned char> records_;
  std::uint32_t sum_ = 0;
};

// The header that names a directory at tableOffset of tableSize bytes
// holding headCount records ("PACK" and three little-endian words), passed
// through the filters' directory filter for the disk.
void EncodeVolumeHeader(const CFSManager* filters, std::uint32_t tableOffset,
                        std::uint32_t tableSize, std::uint32_t headCount,
                        unsigned char out[kVolumeHeaderBytes]);

}  // namespace pkfs

#endif  // PKFS_VOLUME_WRITER_H_
