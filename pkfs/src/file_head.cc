// The on-disk record of one stored file.
#include "pkfs/file_head.h"

#include <cstring>

#include "platform/byte_order.h"

namespace pkfs {

std::size_t ParseFileRecord(const unsigned char* data, std::size_t available,
                            FileRecord* record) {
  if (available < kFileHeadFixedBytes) return 0;
  const std::uint32_t nameLength = platform::LoadU32(data);
  // Compared against what is left so that a huge length cannot overflow.
  if (nameLength > available - kFileHeadFixedBytes) return 0;
  record->name = reinterpret_cast<const char*>(data + 4);
  record->nameLength = nameLength;
  const unsigned char* fields = data + 4 + nameLength;
  record->start = platform::LoadU32(fields);
  record->size = platform::LoadU32(fields + 4);
  record->flags = platform::LoadU32(fields + 8);
  record->filterWord = platform::LoadU32(fields + 12);
  return kFileHeadFixedBytes + nameLength;
}

std::size_t FileHead::Parse(const unsigned char* data, std::size_t available) {
  FileRecord record;
  const std::size_t used = ParseFileRecord(data, available, &record);
  if (used != 0) Assign(record);
  return used;
}

void FileHead::Assign(const FileRecord& record) {
  name.assign(record.name, record.nameLength);
  start = record.start;
  size = record.size;
  flags = record.flags;
  filterWord = record.filterWord;
}

std::size_t FileHead::Serialize(unsigned char* out) const {
  platform::StoreU32(out, static_cast<std::uint32_t>(name.size()));
  if (!name.empty()) std::memcpy(out + 4, name.data(), name.size());
  unsigned char* fields = out + 4 + name.size();
  platform::StoreU32(fields, start);
  platform::StoreU32(fields + 4, size);
  platform::StoreU32(fields + 8, flags);
  platform::StoreU32(fields + 12, filterWord);
  return RecordSize();
}

}  // namespace pkfs
