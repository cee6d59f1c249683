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

bool IsSameFile(const std::string& a, const std::string& b) {
  FileId ia, ib;
  if (!IdOf(a, &ia) || !IdOf(b, &ib)) return false;
  return ia.volume == ib.volume && ia.high == ib.high && ia.low == ib.low;
}

}  // namespace platform
