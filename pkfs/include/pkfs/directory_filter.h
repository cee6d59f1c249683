// The filter a volume's header and table pass through: the id-0 filters that
// the manager holds, as the pure format layer takes it.
#ifndef PKFS_DIRECTORY_FILTER_H_
#define PKFS_DIRECTORY_FILTER_H_

#include <cstddef>

#include "pkfs/pack_format.h"

namespace pkfs {

class CFSManager;

// On the way to disk the resizing filter with id 0 runs, then the in-place
// one; on the way back the reverse. Each is looked up when the block passes,
// so a filter registered later counts. No manager, or neither filter
// registered: the bytes stay as they are.
DirectoryFilter DirectoryFilterOf(const CFSManager* manager);

// The same, in one call.
void EncodeDirectoryBlock(const CFSManager* manager, unsigned char* data, std::size_t length);
void DecodeDirectoryBlock(const CFSManager* manager, unsigned char* data, std::size_t length);

}  // namespace pkfs

#endif  // PKFS_DIRECTORY_FILTER_H_
