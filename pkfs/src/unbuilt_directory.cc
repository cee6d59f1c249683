// The directory a set opened for reading keeps as read (unbuilt_directory.h).
#include "unbuilt_directory.h"

#include <cstring>
#include <utility>

#include "platform/byte_order.h"

namespace pkfs {

void UnbuiltDirectory::Keep(std::unique_ptr<unsigned char[]> table, std::size_t length,
                            std::vector<std::uint32_t> records) {
  table_ = std::move(table);
  length_ = length;
  records_ = std::move(records);
  built_.clear();
}

std::size_t UnbuiltDirectory::Find(const std::string& name, bool last) const {
  std::size_t found = kNone;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const unsigned char* record = table_.get() + records_[i];
    if (platform::LoadU32(record) != name.size() ||
        std::memcmp(record + 4, name.data(), name.size()) != 0) {
      continue;
    }
    if (!last) return i;
    found = i;
  }
  return found;
}

FileHead* UnbuiltDirectory::HeadAt(std::size_t index, PackArchive* owner) {
  std::unique_ptr<FileHead>& head = built_[index];
  if (head == nullptr) {
    head = std::make_unique<FileHead>(owner);
    const std::uint32_t offset = records_[index];
    head->Parse(table_.get() + offset, length_ - offset);
  }
  return head.get();
}

void UnbuiltDirectory::Build(PackArchive* owner, std::unique_ptr<FileHead[]>* block,
                             std::vector<HeadPtr>* heads) {
  const std::size_t count = records_.size();
  block->reset(new FileHead[count]);
  heads->reserve(heads->size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto looked = built_.find(i);
    if (looked != built_.end()) {
      // Handed out already: the same head stays in force.
      heads->emplace_back(looked->second.release(), HeadDeleter(false));
      continue;
    }
    FileHead* head = &(*block)[i];
    head->owner = owner;
    const std::uint32_t offset = records_[i];
    head->Parse(table_.get() + offset, length_ - offset);
    heads->emplace_back(head, HeadDeleter(true));
  }
  Clear();
}

void UnbuiltDirectory::Clear() {
  built_.clear();
  std::vector<std::uint32_t>().swap(records_);
  table_.reset();
  length_ = 0;
}

}  // namespace pkfs
