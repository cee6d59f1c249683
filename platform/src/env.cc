// What every Env answers on top of its own calls.
#include <cstdint>
#include <string>

#include "platform/env.h"

namespace platform {

FileStamp Env::StampOf(const std::string& path) {
  FileStamp stamp;
  if (!StampFile(path, &stamp).ok()) return FileStamp();
  return stamp;
}

bool Env::IsSameFile(const std::string& a, const std::string& b) {
  bool same = false;
  return CompareFiles(a, b, &same).ok() && same;
}

Status Env::CompareFiles(const std::string& a, const std::string& b, bool* same) {
  *same = false;
  FileStamp first, second;
  Status status = StampFile(a, &first);
  if (status.ok()) status = StampFile(b, &second);
  if (status.ok()) *same = first.SameFileAs(second);
  return status;
}

bool Env::MayBeSameFile(const std::string& a, const std::string& b) {
  bool same = false;
  return !CompareFiles(a, b, &same).ok() || same;
}

bool Env::FileSystemIdOf(const std::string& path, std::uint64_t* id) {
  const FileStamp stamp = StampOf(path);
  if (!stamp.exists) return false;
  if (id != nullptr) *id = stamp.device;
  return true;
}

}  // namespace platform
