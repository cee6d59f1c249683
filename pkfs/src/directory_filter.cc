// The manager's id-0 filters as the directory filter of the format layer.
#include "pkfs/directory_filter.h"

#include <cstdint>

#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"

namespace pkfs {

DirectoryFilter DirectoryFilterOf(const CFSManager* manager) {
  if (manager == nullptr) return DirectoryFilter();
  DirectoryFilter filter;
  filter.encode = [manager](unsigned char* data, std::size_t length) {
    const auto size = static_cast<std::uint32_t>(length);
    if (CFSFilter* resizing = manager->FindResizingFilter(0)) resizing->Encode(data, size, nullptr);
    if (CFSFilter* inPlace = manager->FindInPlaceFilter(0)) inPlace->Encode(data, size, nullptr);
  };
  filter.decode = [manager](unsigned char* data, std::size_t length) {
    const auto size = static_cast<std::uint32_t>(length);
    if (CFSFilter* inPlace = manager->FindInPlaceFilter(0)) inPlace->Decode(data, size, nullptr);
    if (CFSFilter* resizing = manager->FindResizingFilter(0)) resizing->Decode(data, size, nullptr);
  };
  return filter;
}

void EncodeDirectoryBlock(const CFSManager* manager, unsigned char* data, std::size_t length) {
  EncodeDirectoryBlock(DirectoryFilterOf(manager), data, length);
}

void DecodeDirectoryBlock(const CFSManager* manager, unsigned char* data, std::size_t length) {
  DecodeDirectoryBlock(DirectoryFilterOf(manager), data, length);
}

}  // namespace pkfs
