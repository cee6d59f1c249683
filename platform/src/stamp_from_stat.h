// A file's stamp from what stat or fstat said of it, so that a stamp of a
// path and one of an open file compare alike.
#ifndef MAROVETIN_PLATFORM_STAMP_FROM_STAT_H_
#define MAROVETIN_PLATFORM_STAMP_FROM_STAT_H_

#include <sys/stat.h>

#include <cstdint>

#include "platform/file_identity.h"

namespace platform {
namespace internal {

inline FileStamp StampFromStat(const struct stat& st) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.directory = S_ISDIR(st.st_mode);
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace internal
}  // namespace platform

#endif  // MAROVETIN_PLATFORM_STAMP_FROM_STAT_H_
