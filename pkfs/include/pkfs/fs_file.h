// An open file of the library, served from a pack entry or a loose file, with
// a 1024-byte read-ahead window.
#ifndef PKFS_FS_FILE_H_
#define PKFS_FS_FILE_H_

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "pkfs/file_head.h"

namespace pkfs {

class CFS;
class CFSFile;
class PackArchive;

// Mode bits of a handle, from the stdio mode text.
constexpr std::uint32_t kModeRead = 1;
constexpr std::uint32_t kModeWrite = 2;
constexpr std::uint32_t kModeAppend = 4;
constexpr std::uint32_t kModeBinary = 8;

// Transfer kinds set just before a filter runs over freshly read bytes.
constexpr std::int32_t kTransferDecode = 2;
constexpr std::int32_t kTransferDecompress = 4;

constexpr std::uint32_t kReadWindowBytes = 1024;

class CFSReadCache {
 public:
  explicit CFSReadCache(CFSFile* owningHandle) : handle(owningHandle) {}
  virtual ~CFSReadCache() = default;

  std::uint32_t windowStart = 0;  // entry position of buffer[0]
  bool valid = false;
  std::uint32_t filled = 0;  // bytes of buffer that the last refill read
  std::array<unsigned char, kReadWindowBytes> buffer{};
  CFSFile* handle;
};

class CFSFile {
 public:
  CFSFile(std::string name, CFS* owner, PackArchive* archive, std::FILE* plainStream);
  // Has the owner close it (which removes it from the manager's open files).
  virtual ~CFSFile();
  CFSFile(const CFSFile&) = delete;
  CFSFile& operator=(const CFSFile&) = delete;

  // origin 0: from the start; 1: from the position; 2: entry size - offset.
  // Never clamps. Always returns true.
  bool Seek(std::int32_t offset, int origin);
  std::int32_t Tell() const { return position; }
  // Positions are 32-bit signed, so an entry ends for its handle at
  // 0x7FFFFFFF even when it is longer: eof there, nothing read beyond.
  bool Eof() const;
  // Reads at most the bytes left in the entry; decodes filtered entries.
  int Read(void* buffer, std::uint32_t length);
  // Writes through the owner when the mode allows writing; else 0.
  int Write(const void* buffer, std::uint32_t length);
  // One byte, sign-extended from 8 bits; -1 at the end of the entry.
  int Getc() {
    unsigned char byte;
    return NextByte(&byte) ? static_cast<signed char>(byte) : -1;
  }
  // Reads a line without its line end (CR LF or LF); the buffer is always
  // terminated. Writes nothing when buffer is null or length is not positive.
  char* Gets(char* buffer, int length);
  // Reads the window at the current position.
  void RefillWindow();
  // Sets the mode bits from a stdio mode text.
  void SetModeFromText(const std::string& modeText);

  FileHead* entry = nullptr;  // not owned
  std::int32_t transferKind = 0;
  std::uint32_t mode = 0;
  std::unique_ptr<CFSReadCache> cache;
  CFS* owner;
  std::int32_t position = 0;
  std::string name;
  PackArchive* archive;    // the volume holding a pack entry
  std::FILE* plainStream;  // the stream of a loose file

 private:
  int ReadDirect(unsigned char* buffer, std::uint32_t length);
  // One byte through Read, with the common case inline: the byte is in the
  // window and is not its last one (reading the last byte moves the window
  // on, which Read does).
  bool NextByte(unsigned char* byte) {
    const CFSReadCache& window = *cache;
    if (window.valid && entry != nullptr && position >= 0 &&
        static_cast<std::uint32_t>(position) < entry->size) {
      const std::uint32_t off = static_cast<std::uint32_t>(position) - window.windowStart;
      if (static_cast<std::uint32_t>(position) >= window.windowStart &&
          off + 1 < kReadWindowBytes && off < window.filled) {
        ++position;
        *byte = window.buffer[off];
        return true;
      }
    }
    return Read(byte, 1) == 1;
  }
};

}  // namespace pkfs

#endif  // PKFS_FS_FILE_H_
