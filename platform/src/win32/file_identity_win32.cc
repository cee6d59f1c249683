// Whether two paths name one file: same volume serial number and file index.
#include "platform/file_identity.h"
#include "windows_api.h"

namespace platform {

namespace {

struct FileId {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
};

bool InfoOf(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  if (path.empty()) return false;
  // No access rights asked: only the identity is read. Backup semantics lets
  // a directory open too.
  HANDLE file = ::CreateFileA(internal::NativePath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandle(file, info) != 0;
  ::CloseHandle(file);
  return ok;
}

bool IdOf(const std::string& path, FileId* id) {
  if (path.empty()) return false;
  // No access rights asked: only the identity is read. Backup semantics lets
  // a directory open too.
  HANDLE file = ::CreateFileA(internal::NativePath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  if (!ok) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->high = info.nFileIndexHigh;
  id->low = info.nFileIndexLow;
  return true;
}

}  // namespace

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (!InfoOf(path, &info)) return stamp;
  stamp.exists = true;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                         info.nFileSizeLow);
  // 100-nanosecond units; the write time stands for both times.
  const std::uint64_t written =
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime;
  stamp.modifiedNs = static_cast<std::int64_t>(written) * 100;
  stamp.changedNs = stamp.modifiedNs;
  return stamp;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  FileId ia, ib;
  if (!IdOf(a, &ia) || !IdOf(b, &ib)) return false;
  return ia.volume == ib.volume && ia.high == ib.high && ia.low == ib.low;
}

}  // namespace platform
