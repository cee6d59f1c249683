// Open handles and their read-ahead window. Sequential small reads (getc,
// gets) are served from the 1024-byte window, so the backing store is touched
// once per window; reads that leave the window go to the store directly and
// are decoded piece by piece when the entry is stored filtered.
#include "pkfs/fs_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "pkfs/file_head.h"
#include "pkfs/fs.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"

namespace pkfs {

namespace {

// Reads are capped so that every count fits the int results of the table.
constexpr std::uint32_t kMaxTransfer = 0x7FFFFFFF;

// The bytes a handle can serve of an entry: positions are 32-bit signed, so
// an entry longer than that ends, for the handle, at the last position it can
// stand on instead of wrapping the position negative.
std::int64_t ServedSize(const FileHead* entry) {
  if (entry == nullptr) return 0;
  return std::min<std::int64_t>(entry->size, kMaxTransfer);
}

}  // namespace

CFSFile::CFSFile(std::string entryName, CFS* fileSystem, PackArchive* volume, std::FILE* stream)
    : cache(std::make_unique<CFSReadCache>(this)),
      owner(fileSystem),
      name(std::move(entryName)),
      archive(volume),
      plainStream(stream) {}

CFSFile::~CFSFile() {
  if (owner != nullptr) owner->CloseFile(this);
}

bool CFSFile::Seek(std::int32_t offset, int origin) {
  // Positions wrap like the 32-bit arithmetic they model instead of
  // overflowing; a position outside the entry simply reads nothing.
  switch (origin) {
    case 0:
      position = offset;
      break;
    case 1:
      position = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) +
                                           static_cast<std::uint32_t>(offset));
      break;
    case 2: {
      const std::uint32_t size = entry != nullptr ? entry->size : 0;
      position = static_cast<std::int32_t>(size - static_cast<std::uint32_t>(offset));
      break;
    }
    default:
      break;
  }
  return true;
}

bool CFSFile::Eof() const { return position >= ServedSize(entry); }

int CFSFile::Read(void* buffer, std::uint32_t length) {
  if (buffer == nullptr || entry == nullptr || position < 0 || length == 0) return 0;
  const std::int64_t size = ServedSize(entry);
  const std::int64_t left = size - position;
  if (left <= 0) return 0;
  const std::uint32_t n = static_cast<std::uint32_t>(
      std::min<std::int64_t>({static_cast<std::int64_t>(length), left, kMaxTransfer}));
  auto* out = static_cast<unsigned char*>(buffer);

  CFSReadCache& window = *cache;
  if (window.valid) {
    const std::int64_t start = window.windowStart;
    const std::int64_t span = std::min<std::int64_t>(kReadWindowBytes, size - start);
    if (start <= position && position <= start + span) {
      const std::uint64_t off = static_cast<std::uint64_t>(position - start);
      if (off + n < kReadWindowBytes) {
        // A window that came back short (the file shrank under it) serves
        // only what it holds; anything beyond goes to the store.
        if (off + n <= window.filled) {
          std::memcpy(out, window.buffer.data() + off, n);
          position += static_cast<std::int32_t>(n);
          return static_cast<int>(n);
        }
      } else if (window.filled == kReadWindowBytes) {
        // The read crosses the window's end: take the window's tail, read the
        // rest directly, and move the window on unless the entry is done.
        const std::uint32_t head = static_cast<std::uint32_t>(kReadWindowBytes - off);
        std::memcpy(out, window.buffer.data() + off, head);
        window.windowStart += kReadWindowBytes;
        window.valid = false;
        position = static_cast<std::int32_t>(window.windowStart);
        int rest = 0;
        if (n > head) rest = ReadDirect(out + head, n - head);
        if (position != size) RefillWindow();
        return static_cast<int>(head) + rest;
      }
    }
  }
  return ReadDirect(out, n);
}

int CFSFile::ReadDirect(unsigned char* buffer, std::uint32_t length) {
  const std::int32_t start = position;
  int got = owner != nullptr ? owner->Read(buffer, length, this) : 0;
  got = std::max(0, std::min(got, static_cast<int>(std::min(length, kMaxTransfer))));

  CFSManager* manager = owner != nullptr ? owner->manager() : nullptr;
  if (manager != nullptr && entry != nullptr) {
    // The decoder finds its carry through this handle, at the piece's start.
    position = start;
    const std::uint32_t filterId = entry->FilterId();
    if ((entry->flags & kFlagInPlace) != 0) {
      transferKind = kTransferDecode;
      if (CFSFilter* filter = manager->FindInPlaceFilter(filterId)) {
        filter->Decode(buffer, static_cast<std::uint32_t>(got), this);
      }
    }
    if ((entry->flags & kFlagResizing) != 0) {
      transferKind = kTransferDecompress;
      if (CFSFilter* filter = manager->FindResizingFilter(filterId)) {
        filter->Decode(buffer, static_cast<std::uint32_t>(got), this);
      }
    }
  }
  position = static_cast<std::int32_t>(static_cast<std::uint32_t>(start) +
                                       static_cast<std::uint32_t>(got));
  return got;
}

void CFSFile::RefillWindow() {
  CFSReadCache& window = *cache;
  window.valid = false;
  window.filled = 0;
  if (entry == nullptr || position < 0) return;
  const std::int64_t left = ServedSize(entry) - position;
  if (left <= 0) return;
  const std::int32_t start = position;
  const std::uint32_t n =
      static_cast<std::uint32_t>(std::min<std::int64_t>(left, kReadWindowBytes));
  const int got = ReadDirect(window.buffer.data(), n);
  position = start;
  window.windowStart = static_cast<std::uint32_t>(start);
  window.filled = static_cast<std::uint32_t>(got);
  window.valid = got > 0;
}

int CFSFile::Write(const void* buffer, std::uint32_t length) {
  if ((mode & (kModeWrite | kModeAppend)) == 0 || owner == nullptr) return 0;
  return owner->Write(buffer, length, this);
}

char* CFSFile::Gets(char* buffer, int length) {
  if (buffer == nullptr || length <= 0) return buffer;
  std::memset(buffer, 0, static_cast<std::size_t>(length));
  for (int i = 0; i < length - 1; ++i) {
    // The byte itself rather than Getc's result, so that a 0xFF byte in the
    // line is not taken for the end of the entry.
    unsigned char byte = 0;
    if (!NextByte(&byte)) break;
    if (byte == '\n' || byte == '\0') {
      buffer[i] = '\0';
      if (i > 0 && buffer[i - 1] == '\r') buffer[i - 1] = '\0';
      break;
    }
    buffer[i] = static_cast<char>(byte);
  }
  return buffer;
}

void CFSFile::SetModeFromText(const std::string& modeText) {
  auto has = [&modeText](char c) { return modeText.find(c) != std::string::npos; };
  if (has('a')) mode = kModeAppend;
  if (has('r')) mode = kModeRead;
  if (has('w')) mode = kModeWrite;
  if (has('+')) mode |= kModeRead | kModeWrite;
  if (has('b')) mode |= kModeBinary;
}

}  // namespace pkfs
