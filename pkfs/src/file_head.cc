// The on-disk record of one stored file.
#include "pkfs/file_head.h"

#include <cstring>

#include "platform/byte_order.h"

namespace pkfs {

std::size_t FileHead::Parse(const unsigned char* data, std::size_t available) {
  if (available < kFileHeadFixedBytes) return 0;
  std::uint32_t nameLength = platform::LoadU32(data);
  // Compared against what is left so that a huge length cannot overflow.
  if (nameLength > available - kFileHeadFixedBytes) return 0;
  name.assign(reinterpret_cast<const char*>(data + 4), nameLength);
  const unsigned char* fields = data + 4 + nameLength;
  start = platform::LoadU32(fields);
  size = platform::LoadU32(fields + 4);
  flags = platform::LoadU32(fields + 8);
  filterWord = platform::LoadU32(fields + 12);
  return RecordSize();
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
