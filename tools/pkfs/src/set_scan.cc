// Reading and checking volume files directly, record by record.
#include "pkfstool/set_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "pkfs/directory_filter.h"
#include "pkfs/pack_volume.h"
#include "platform/file_identity.h"
#include "pkfstool/stored_name.h"
#include "platform/file_system.h"

namespace pkfstool {

namespace {

// Offsets are 32-bit: nothing may end past this, however long the file.
constexpr std::uint64_t kLastAddressableEnd = 0xFFFFFFFFu;

using platform::RandomAccessFile;

std::string Range(std::uint64_t start, std::uint64_t end) {
  return "[" + std::to_string(start) + ", " + std::to_string(end) + ")";
}

std::string Hex(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

bool ReadAt(RandomAccessFile& file, std::uint64_t offset, unsigned char* data, std::size_t length) {
  return file.ReadAt(offset, data, length) == static_cast<long long>(length);
}

// The volume at path opened to be read, through the manager's files.
platform::Status OpenVolume(const std::string& path, const pkfs::CFSManager& manager,
                            std::unique_ptr<RandomAccessFile>* file) {
  return manager.env()->OpenFile(path, RandomAccessFile::Mode::kRead, file);
}

struct Region {
  std::uint64_t start;
  std::uint64_t end;
  std::string what;
};

// Regions that share bytes, each pair named once.
void CheckOverlaps(VolumeScan& volume) {
  std::vector<Region> regions;
  regions.push_back({0, pkfs::kPackHeaderBytes, "the header"});
  regions.push_back({volume.header.tableOffset,
                     std::uint64_t{volume.header.tableOffset} + volume.header.tableSize,
                     "the directory"});
  for (const pkfs::FileHead& record : volume.records) {
    if (record.size == 0) continue;
    regions.push_back({record.start, std::uint64_t{record.start} + record.size, record.name});
  }
  std::stable_sort(regions.begin(), regions.end(),
                   [](const Region& a, const Region& b) { return a.start < b.start; });
  const Region* reach = nullptr;  // the region reaching furthest so far
  for (const Region& region : regions) {
    if (region.start == region.end) continue;
    if (reach != nullptr && region.start < reach->end) {
      volume.problems.push_back(region.what + " " + Range(region.start, region.end) + " overlaps " +
                                reach->what + " " + Range(reach->start, reach->end));
    }
    if (reach == nullptr || region.end > reach->end) reach = &region;
  }
}

void CheckRecords(VolumeScan& volume, const pkfs::CFSManager& filters) {
  std::set<std::string> names;
  const std::uint64_t limit = std::min(volume.fileSize, kLastAddressableEnd);
  for (const pkfs::FileHead& record : volume.records) {
    if (record.size == 0) continue;  // dropped by every reader
    const std::uint64_t end = std::uint64_t{record.start} + record.size;
    if (end > limit) {
      volume.problems.push_back(record.name + ": data " + Range(record.start, end) +
                                " reach past the end of the file (" +
                                std::to_string(volume.fileSize) + " bytes)");
    }
    const std::string unsafe = UnsafeNameReason(record.name);
    if (!unsafe.empty()) {
      volume.problems.push_back(PrintableName(record.name) + ": cannot be extracted safely: " +
                                unsafe);
    }
    if (!names.insert(record.name).second) {
      volume.problems.push_back(record.name + ": recorded twice in one directory");
    }
    if ((record.flags & pkfs::kFlagInPlace) != 0 &&
        filters.FindInPlaceFilter(record.FilterId()) == nullptr) {
      volume.problems.push_back(record.name + ": stored through filter " +
                                std::to_string(record.FilterId()) + ", which is not known");
    }
  }
  CheckOverlaps(volume);
}

void CheckTrailer(VolumeScan& volume, const std::vector<unsigned char>& table,
                  std::size_t position) {
  const std::uint32_t sum = pkfs::ByteSum(table.data(), position);
  if (position == table.size()) return;  // no trailer: a last volume, allowed
  const std::size_t used = volume.trailer.Parse(table.data() + position, table.size() - position);
  if (used == 0) {
    volume.problems.push_back("directory trailer at " + std::to_string(position) +
                              " reaches past the end of the directory (" +
                              std::to_string(table.size()) + " bytes)");
    return;
  }
  volume.hasTrailer = true;
  if (std::memcmp(volume.trailer.tag, "PKES", 4) != 0) {
    volume.problems.push_back("directory trailer does not start with PKES");
  }
  if (volume.trailer.bodySize != volume.trailer.BodySize()) {
    volume.problems.push_back("directory trailer gives body size " +
                              std::to_string(volume.trailer.bodySize) + ", its contents take " +
                              std::to_string(volume.trailer.BodySize()));
  }
  if (volume.trailer.checksum != sum) {
    volume.problems.push_back("directory checksum " + Hex(volume.trailer.checksum) +
                              " does not match its records (" + Hex(sum) + ")");
  }
  if (position + used < table.size()) {
    volume.problems.push_back(std::to_string(table.size() - position - used) +
                              " stray bytes after the directory trailer");
  }
}

// The volume's header, decoded; false when fewer than 16 bytes can be read.
bool ReadHeader(RandomAccessFile& file, const pkfs::CFSManager& filters, pkfs::PackHeader* header) {
  unsigned char bytes[pkfs::kPackHeaderBytes];
  if (!ReadAt(file, 0, bytes, sizeof bytes)) return false;
  pkfs::DecodeDirectoryBlock(&filters, bytes, sizeof bytes);
  *header = pkfs::PackHeader::Parse(bytes);
  return true;
}

void ScanVolume(VolumeScan& volume, const pkfs::CFSManager& filters) {
  std::unique_ptr<RandomAccessFile> file;
  const platform::Status opened = OpenVolume(volume.path, filters, &file);
  if (!opened.ok()) {
    volume.problems.push_back("cannot be opened: " + opened.Reason());
    return;
  }
  volume.fileSize = file->Size();
  if (volume.fileSize < pkfs::kPackHeaderBytes || !ReadHeader(*file, filters, &volume.header)) {
    volume.problems.push_back("truncated: " + std::to_string(volume.fileSize) +
                              " bytes, shorter than the 16-byte header");
    return;
  }
  if (!volume.header.HasMagic()) {
    volume.problems.push_back("not a pack volume: its header does not start with PACK");
    return;
  }
  const std::uint64_t tableEnd = std::uint64_t{volume.header.tableOffset} + volume.header.tableSize;
  if (volume.header.tableOffset < pkfs::kPackHeaderBytes) {
    volume.problems.push_back("directory offset " + std::to_string(volume.header.tableOffset) +
                              " lies inside the header");
    return;
  }
  // A header that contradicts itself is damaged; one that does not may
  // also belong to a file that lost its end.
  if (std::uint64_t{volume.header.headCount} * pkfs::kFileHeadFixedBytes >
      volume.header.tableSize) {
    volume.problems.push_back("header is damaged: it counts " +
                              std::to_string(volume.header.headCount) + " records, more than its " +
                              std::to_string(volume.header.tableSize) +
                              "-byte directory can hold");
    return;
  }
  if (tableEnd > std::min(volume.fileSize, kLastAddressableEnd)) {
    volume.problems.push_back("header names a directory at " +
                              Range(volume.header.tableOffset, tableEnd) +
                              ", past the end of the file (" + std::to_string(volume.fileSize) +
                              " bytes): the header is damaged or the file was cut short");
    return;
  }
  std::vector<unsigned char> table(volume.header.tableSize);
  if (!table.empty() &&
      !ReadAt(*file, volume.header.tableOffset, table.data(), table.size())) {
    volume.problems.push_back("directory cannot be read");
    return;
  }
  pkfs::DecodeDirectoryBlock(&filters, table.data(), table.size());

  std::size_t position = 0;
  for (std::uint32_t i = 0; i < volume.header.headCount; ++i) {
    pkfs::FileHead record;
    const std::size_t used = record.Parse(table.data() + position, table.size() - position);
    if (used == 0) {
      volume.problems.push_back(
          "record " + std::to_string(i + 1) + " of " + std::to_string(volume.header.headCount) +
          " at " + std::to_string(position) + " reaches past the end of the directory (" +
          std::to_string(table.size()) + " bytes)");
      volume.records.clear();
      return;
    }
    position += used;
    volume.records.push_back(std::move(record));
  }
  volume.directoryRead = true;
  CheckTrailer(volume, table, position);
  CheckRecords(volume, filters);
}

}  // namespace

std::vector<std::string> SetScan::Problems() const {
  std::vector<std::string> lines;
  for (const VolumeScan& volume : volumes) {
    for (const std::string& problem : volume.problems)
      lines.push_back(volume.path + ": " + problem);
  }
  return lines;
}

bool HeadersUnchanged(const SetScan& scan, const pkfs::CFSManager& filters) {
  for (const VolumeScan& volume : scan.volumes) {
    std::unique_ptr<RandomAccessFile> file;
    pkfs::PackHeader header;
    const bool read =
        OpenVolume(volume.path, filters, &file).ok() && ReadHeader(*file, filters, &header);
    if (read != (volume.fileSize >= pkfs::kPackHeaderBytes)) return false;
    if (read && (header.tableOffset != volume.header.tableOffset ||
                 header.tableSize != volume.header.tableSize ||
                 header.headCount != volume.header.headCount)) {
      return false;
    }
  }
  return true;
}

SetScan ScanSet(const std::string& firstPath, const pkfs::CFSManager& filters) {
  SetScan scan;
  VolumeScan first;
  first.name = firstPath;
  first.path = firstPath;
  scan.volumes.push_back(std::move(first));
  for (std::size_t at = 0; at < scan.volumes.size(); ++at) {
    VolumeScan& volume = scan.volumes[at];
    ScanVolume(volume, filters);
    if (!volume.hasTrailer || volume.trailer.nextName.empty()) continue;
    const std::string name = volume.trailer.nextName;
    const std::string path = pkfs::PathBeside(volume.path, name);
    bool repeated = false;
    for (const VolumeScan& earlier : scan.volumes) {
      repeated =
          repeated || earlier.path == path || filters.env()->IsSameFile(earlier.path, path);
    }
    if (repeated) {
      volume.problems.push_back("next volume " + name + " leads back into the set");
    } else if (!platform::PathExists(path)) {
      volume.problems.push_back("next volume " + name + " is missing (" + path + ")");
    } else {
      VolumeScan next;
      next.name = name;
      next.path = path;
      scan.volumes.push_back(std::move(next));  // volume is not used after this
    }
  }
  return scan;
}

}  // namespace pkfstool
