// A stand-in for a pack file system in tests: entries are served from one
// byte vector at entry start + handle position, as a volume serves them, and
// every call is counted.
#ifndef MAROVETIN_TESTS_PKFS_FAKE_ENTRY_STORE_H_
#define MAROVETIN_TESTS_PKFS_FAKE_ENTRY_STORE_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/fs.h"
#include "pkfs/fs_file.h"

namespace pkfs_test {

class FakeEntryStore : public pkfs::CFS {
 public:
  explicit FakeEntryStore(pkfs::CFSManager* manager, std::vector<std::string>* events = nullptr)
      : CFS(manager), events_(events) {}
  ~FakeEntryStore() override { Log("destroyed"); }

  // Adds an entry holding bytes (stored as given) and returns its head.
  pkfs::FileHead* AddEntry(const std::string& name, const std::vector<unsigned char>& bytes,
                           std::uint32_t flags = 0, std::uint32_t filterWord = 0) {
    auto head = std::make_unique<pkfs::FileHead>();
    head->name = name;
    head->start = static_cast<std::uint32_t>(store.size());
    head->size = static_cast<std::uint32_t>(bytes.size());
    head->flags = flags;
    head->filterWord = filterWord;
    store.insert(store.end(), bytes.begin(), bytes.end());
    heads.push_back(std::move(head));
    return heads.back().get();
  }

  // A handle on head, made as the manager makes one for a stored name.
  std::unique_ptr<pkfs::CFSFile> MakeHandle(pkfs::FileHead* head) {
    auto handle = std::make_unique<pkfs::CFSFile>(head->name, this, nullptr, nullptr);
    handle->entry = head;
    return handle;
  }

  void OnFileOpened(pkfs::CFSFile* handle) override {
    ++openedCalls;
    lastOpenedMode = handle->mode;
  }
  void Release() override { Log("released"); }
  bool Load(const std::string& name) override {
    Log("load " + name);
    return loadResult;
  }
  bool CloseFile(pkfs::CFSFile* handle) override {
    Log("close " + handle->name);
    return CFS::CloseFile(handle);
  }
  int RawRead(void* buffer, std::uint32_t length, pkfs::CFSFile* handle) override {
    ++rawReads;
    const pkfs::FileHead* head = handle->entry;
    if (head == nullptr || handle->position < 0 ||
        static_cast<std::uint32_t>(handle->position) >= head->size) {
      return 0;
    }
    std::uint32_t n = std::min(length, head->size - static_cast<std::uint32_t>(handle->position));
    if (shortReadLimit != 0) n = std::min(n, shortReadLimit);
    std::memcpy(buffer, store.data() + head->start + handle->position, n);
    return static_cast<int>(n);
  }
  int RawWrite(const void* buffer, std::uint32_t length, pkfs::CFSFile* /*handle*/) override {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    written.insert(written.end(), bytes, bytes + length);
    return static_cast<int>(length);
  }

  std::vector<unsigned char> store;
  std::vector<std::unique_ptr<pkfs::FileHead>> heads;
  std::vector<unsigned char> written;
  int rawReads = 0;
  int openedCalls = 0;
  std::uint32_t lastOpenedMode = 0;
  std::uint32_t shortReadLimit = 0;  // when not 0, no raw read returns more
  bool loadResult = true;

 private:
  void Log(const std::string& event) {
    if (events_ != nullptr) events_->push_back(event);
  }
  std::vector<std::string>* events_;
};

// Bytes 0, 1, 2, ... with a multiplier, so that neighbouring bytes differ in
// both bit planes.
inline std::vector<unsigned char> PatternBytes(std::size_t count, unsigned seed = 7) {
  std::vector<unsigned char> bytes(count);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  return bytes;
}

}  // namespace pkfs_test

#endif  // MAROVETIN_TESTS_PKFS_FAKE_ENTRY_STORE_H_
