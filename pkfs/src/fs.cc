// The plain-file backend: loose files under the start directory, read and
// written through stdio streams behind the same handles as stored files.
#include "pkfs/fs.h"

#include <algorithm>
#include <climits>

#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "platform/file_system.h"

namespace pkfs {

namespace {

// Handle positions are 32-bit signed, so a loose file is served up to that.
constexpr long kMaxPlainSize = 0x7FFFFFFF;

// The stream's length, leaving its position where it was. 0 when the stream
// cannot tell.
std::uint32_t MeasureStream(std::FILE* stream) {
  const long here = std::ftell(stream);
  if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return 0;
  const long end = std::ftell(stream);
  std::fseek(stream, here, SEEK_SET);
  if (end <= 0) return 0;
  return static_cast<std::uint32_t>(std::min(end, kMaxPlainSize));
}

int ClampCount(std::uint32_t length) {
  return static_cast<int>(std::min<std::uint32_t>(length, INT_MAX));
}

}  // namespace

CFS::CFS(CFSManager* manager) : manager_(manager) {}

CFS::~CFS() = default;

void CFS::OnFileOpened(CFSFile* /*handle*/) {}

// Loose files hold nothing loaded; the manager decides when a file system
// goes away.
void CFS::Release() {}

int CFS::Read(void* buffer, std::uint32_t length, CFSFile* handle) {
  return RawRead(buffer, length, handle);
}

int CFS::Write(const void* buffer, std::uint32_t length, CFSFile* handle) {
  return RawWrite(buffer, length, handle);
}

bool CFS::CloseFile(CFSFile* handle) {
  if (handle == nullptr) return true;
  if (handle->plainStream != nullptr) {
    std::fclose(handle->plainStream);
    handle->plainStream = nullptr;
  }
  if (manager_ != nullptr) manager_->ForgetFile(handle);
  // Nothing reaches a loose file's head once its handle is gone; dropping it
  // here keeps a long run of opens from piling heads up.
  auto made = std::find_if(
      plainHeads_.begin(), plainHeads_.end(),
      [handle](const std::unique_ptr<FileHead>& head) { return head.get() == handle->entry; });
  if (made != plainHeads_.end()) {
    handle->entry = nullptr;
    plainHeads_.erase(made);
  }
  return true;
}

bool CFS::CreateVolume(const std::string& /*name*/) { return false; }

CFSFile* CFS::NewFile(const std::string& name, PackArchive* archive, std::FILE* plainStream,
                      CFS* owner) {
  return new CFSFile(name, owner, archive, plainStream);
}

int CFS::ReservedOp(void* /*argument*/) { return 0; }

bool CFS::Load(const std::string& /*name*/) { return false; }

void CFS::Command(const std::string& name, std::string& text) {
  if (name == "CFSGetLastError") text = lastError_;
}

int CFS::RawRead(void* buffer, std::uint32_t length, CFSFile* handle) {
  if (buffer == nullptr || handle == nullptr || handle->plainStream == nullptr ||
      handle->position < 0) {
    return 0;
  }
  // Seeking drops stdio's buffer (and costs a system call) even when the
  // stream already stands there, as it does for sequential reads.
  if (std::ftell(handle->plainStream) != handle->position &&
      std::fseek(handle->plainStream, handle->position, SEEK_SET) != 0) {
    return 0;
  }
  return static_cast<int>(
      std::fread(buffer, 1, static_cast<std::size_t>(ClampCount(length)), handle->plainStream));
}

int CFS::RawWrite(const void* buffer, std::uint32_t length, CFSFile* handle) {
  if (buffer == nullptr || handle == nullptr || handle->plainStream == nullptr) return 0;
  // Writes go where the stream stands. stdio wants a seek between a read and
  // a write on one stream (the no-op seek, which does not move it) and a
  // flush between a write and the next read (RawRead may not seek).
  std::fseek(handle->plainStream, 0, SEEK_CUR);
  const std::size_t written =
      std::fwrite(buffer, 1, static_cast<std::size_t>(ClampCount(length)), handle->plainStream);
  std::fflush(handle->plainStream);
  return static_cast<int>(written);
}

bool CFS::RemoveFile(const std::string& /*name*/) { return false; }

platform::Env* CFS::env() const {
  return manager_ != nullptr ? manager_->env() : platform::Env::Default();
}

CFSFile* CFS::OpenPlain(const std::string& path, const std::string& mode) {
  // The platform refuses directories, as Windows does.
  std::FILE* stream = nullptr;
  if (!env()->OpenStream(path, mode.c_str(), &stream).ok()) return nullptr;

  auto head = std::make_unique<FileHead>();
  head->size = MeasureStream(stream);
  CFSFile* handle = NewFile(path, nullptr, stream, this);
  handle->entry = head.get();
  plainHeads_.push_back(std::move(head));
  return handle;
}

FileHead* CFS::FindPendingName(const std::string& key) {
  static_cast<void>(key);
  return nullptr;
}

}  // namespace pkfs
