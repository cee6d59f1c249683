// "OnWriteBuffer": a write through a handle stores the whole file anew.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "pkfs/normalize_name.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "scope_timer.h"

namespace pkfs {

namespace {

// Points handle at whatever head the set now holds under key (the new copy
// after a successful store, the old one after a failed one), or at nothing.
void FollowStoredHead(CFSManager* manager, const std::string& key, CFSFile* handle) {
  handle->entry = nullptr;
  CFSFile* probe = manager->OpenByKey(key, "rb");
  if (probe == nullptr) return;
  // A key the set does not hold opens as a loose file: that is not the entry.
  if (probe->archive != nullptr && probe->entry != nullptr) {
    handle->entry = probe->entry;
    handle->archive = probe->archive;
  }
  delete probe;
}

}  // namespace

int CPKFSF::RawWrite(const void* buffer, std::uint32_t length, CFSFile* handle) {
  ScopeTimer timer("OnWriteBuffer");
  if (handle == nullptr || handle->entry == nullptr || handle->archive == nullptr ||
      manager_ == nullptr || (buffer == nullptr && length > 0) || length > INT_MAX ||
      handle->position < 0) {
    return 0;
  }
  // The whole rewrite is one batch, or part of the one that is open.
  BatchScope scope(this);
  const auto position = static_cast<std::uint32_t>(handle->position);
  const std::uint32_t stored = handle->entry->size;
  const bool append = stored > 0 && (handle->mode & kModeAppend) != 0;
  const std::uint64_t offset = append ? stored : position;
  const std::uint64_t total = std::max<std::uint64_t>(stored, offset + length);
  // Larger than any volume may hold: refused before anything is allocated.
  if (total >= sizeLimit()) return 0;

  std::vector<unsigned char> content(static_cast<std::size_t>(total), 0);
  if (stored > 0) {
    // Read through the handle so that filtered content arrives decoded.
    handle->Seek(0, 0);
    const int got = handle->Read(content.data(), stored);
    if (got != static_cast<int>(stored)) {
      handle->Seek(static_cast<std::int32_t>(position), 0);
      return 0;
    }
  }
  if (length > 0) std::memcpy(content.data() + offset, buffer, length);

  const std::string name = handle->entry->name;
  std::string key = name;
  NormalizeName(key);
  // The old head is replaced (and freed) by the store; the handle lets go of
  // it first and picks up the head in force afterwards.
  handle->entry = nullptr;
  bool written = AddFile(name, content.data(), static_cast<std::uint32_t>(total));
  // A head stored under a name that was not in key form leaves that copy.
  if (written && key != name) written = RemoveFile(name);
  // A failed commit puts the old head back in force.
  written = scope.Finish(written);
  FollowStoredHead(manager_, key, handle);
  // The window holds bytes of the content before this write.
  handle->cache->valid = false;
  if (!written || handle->entry == nullptr) {
    if (handle->entry == nullptr) FollowStoredHead(manager_, name, handle);
    handle->Seek(static_cast<std::int32_t>(position), 0);
    return 0;
  }
  handle->Seek(static_cast<std::int32_t>(total), 0);
  return static_cast<int>(length);
}

}  // namespace pkfs
