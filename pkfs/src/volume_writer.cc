// The one writer of directory and header bytes (volume_writer.h).
#include "pkfs/volume_writer.h"

#include "pkfs/directory_filter.h"
#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"

namespace pkfs {

static_assert(kVolumeHeaderBytes == kPackHeaderBytes, "one header size");

void DirectoryWriter::Add(const FileHead& head) {
  const std::size_t at = records_.size();
  records_.resize(at + head.RecordSize());
  head.Serialize(records_.data() + at);
  sum_ += ByteSum(records_.data() + at, records_.size() - at);
}

void DirectoryWriter::AddSerialized(const unsigned char* records, std::size_t length,
                                    std::uint32_t byteSum) {
  records_.insert(records_.end(), records, records + length);
  sum_ += byteSum;
}

std::vector<unsigned char> DirectoryWriter::Finish(const std::string& nextName,
                                                   const CFSManager* filters) const {
  PackTrailer trailer;
  trailer.nextName = nextName;
  trailer.checksum = sum_;
  trailer.Refresh(nullptr);
  std::vector<unsigned char> table;
  table.reserve(records_.size() + trailer.RecordSize());
  table.assign(records_.begin(), records_.end());
  table.resize(records_.size() + trailer.RecordSize());
  trailer.Serialize(table.data() + records_.size());
  EncodeDirectoryBlock(filters, table.data(), table.size());
  return table;
}

void EncodeVolumeHeader(const CFSManager* filters, std::uint32_t tableOffset,
                        std::uint32_t tableSize, std::uint32_t headCount,
                        unsigned char out[kVolumeHeaderBytes]) {
  PackHeader header;
  header.tableOffset = tableOffset;
  header.tableSize = tableSize;
  header.headCount = headCount;
  header.Serialize(out);
  EncodeDirectoryBlock(filters, out, kVolumeHeaderBytes);
}

}  // namespace pkfs
