// One stored file: where its bytes lie in a volume and how they were stored.
#ifndef PKFS_FILE_HEAD_H_
#define PKFS_FILE_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pkfs {

class PackArchive;

// Flag bits of a file head record.
constexpr std::uint32_t kFlagStored = 0x00000001;    // set in every record this library writes
constexpr std::uint32_t kFlagInPlace = 0x20000000;   // bytes pass through an in-place filter
constexpr std::uint32_t kFlagResizing = 0x40000000;  // name matched a resizing-filter rule

// A record is a u32 name length, the name, then start, size, flags and the
// filter word (all u32, little-endian): 20 + name length bytes.
constexpr std::size_t kFileHeadFixedBytes = 20;

// One record's fields as they lie in a directory, the name not copied.
struct FileRecord {
  const char* name = nullptr;
  std::uint32_t nameLength = 0;
  std::uint32_t start = 0;
  std::uint32_t size = 0;
  std::uint32_t flags = 0;
  std::uint32_t filterWord = 0;
};

// Parses one record from the available bytes. Returns the record size, or 0
// when the record (its name length included) does not fit in available.
std::size_t ParseFileRecord(const unsigned char* data, std::size_t available, FileRecord* record);

class FileHead {
 public:
  FileHead() = default;
  explicit FileHead(PackArchive* volume) : owner(volume) {}
  virtual ~FileHead() = default;

  PackArchive* owner = nullptr;  // the volume that stores the bytes; null for a loose file
  std::string name;
  std::uint32_t start = 0;
  std::uint32_t size = 0;
  std::uint32_t flags = 0;
  std::uint32_t filterWord = 0;  // bits 0-15: id of the decoding filter

  std::size_t RecordSize() const { return name.size() + kFileHeadFixedBytes; }

  // Parses one record from the available bytes. Returns the record size, or 0
  // when the record (its name length included) does not fit in available.
  std::size_t Parse(const unsigned char* data, std::size_t available);
  // Takes the fields of a record parsed already.
  void Assign(const FileRecord& record);

  // Writes the record to out, which must hold RecordSize() bytes. Returns the
  // record size.
  std::size_t Serialize(unsigned char* out) const;

  std::uint16_t FilterId() const { return static_cast<std::uint16_t>(filterWord & 0xFFFF); }
};

// A volume's file heads. Those its directory held when it was loaded live in
// one block that the volume owns (a load allocates once for them all, not
// once per file); heads stored later are allocated one by one. Either kind
// is held through a HeadPtr, which frees only the latter.
struct HeadDeleter {
  HeadDeleter() = default;
  explicit HeadDeleter(bool ownedByBlock) : inBlock(ownedByBlock) {}
  HeadDeleter(std::default_delete<FileHead>) {}  // NOLINT: a plain unique_ptr converts
  void operator()(FileHead* head) const {
    if (!inBlock) delete head;
  }
  bool inBlock = false;
};
using HeadPtr = std::unique_ptr<FileHead, HeadDeleter>;

}  // namespace pkfs

#endif  // PKFS_FILE_HEAD_H_
