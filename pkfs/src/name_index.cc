// Open addressing with linear probing; a removal shifts the entries behind
// it back, so no slot is ever marked deleted and look-ups stay short.
#include "pkfs/name_index.h"

#include <functional>
#include <utility>

namespace pkfs {

namespace {

constexpr std::size_t kSmallestTable = 16;

std::size_t TableFor(std::size_t count) {
  std::size_t capacity = kSmallestTable;
  while (capacity / 4 * 3 < count) capacity *= 2;
  return capacity;
}

}  // namespace

std::uint32_t NameIndex::Hash(std::string_view name) {
  const std::size_t hash = std::hash<std::string_view>()(name);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

void NameIndex::clear() {
  slots_.clear();
  size_ = 0;
}

void NameIndex::reserve(std::size_t count) {
  const std::size_t capacity = TableFor(count);
  if (capacity > slots_.size()) Grow(capacity);
}

void NameIndex::MakeRoom() {
  if (size_ + 1 > slots_.size() / 4 * 3) Grow(slots_.empty() ? kSmallestTable : 2 * slots_.size());
}

void NameIndex::Grow(std::size_t capacity) {
  std::vector<Slot> old(capacity, Slot{nullptr, 0});
  old.swap(slots_);
  // The names are all different: each goes to the first free slot from its
  // home, and no name need be read.
  const std::size_t mask = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.head == nullptr) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].head != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::size_t NameIndex::Locate(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.head == nullptr || (slot.hash == hash && slot.head->name == name)) return i;
  }
}

FileHead* NameIndex::Find(std::string_view name) const {
  if (size_ == 0) return nullptr;
  return slots_[Locate(name, Hash(name))].head;
}

FileHead* NameIndex::Put(FileHead* head) {
  if (head == nullptr) return nullptr;
  MakeRoom();
  const std::uint32_t hash = Hash(head->name);
  Slot& slot = slots_[Locate(head->name, hash)];
  FileHead* replaced = slot.head;
  if (replaced == nullptr) ++size_;
  slot = Slot{head, hash};
  return replaced;
}

FileHead* NameIndex::PutIfAbsent(FileHead* head) {
  if (head == nullptr) return nullptr;
  MakeRoom();
  const std::uint32_t hash = Hash(head->name);
  Slot& slot = slots_[Locate(head->name, hash)];
  if (slot.head != nullptr) return slot.head;
  slot = Slot{head, hash};
  ++size_;
  return head;
}

FileHead* NameIndex::Remove(std::string_view name) {
  if (size_ == 0) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = Locate(name, Hash(name));
  FileHead* removed = slots_[hole].head;
  if (removed == nullptr) return nullptr;
  // Every entry after the hole, up to the next empty slot, moves into the
  // hole unless its own home lies cyclically after the hole.
  for (std::size_t next = (hole + 1) & mask; slots_[next].head != nullptr;
       next = (next + 1) & mask) {
    const std::size_t home = slots_[next].hash & mask;
    const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (stays) continue;
    slots_[hole] = slots_[next];
    hole = next;
  }
  slots_[hole] = Slot{nullptr, 0};
  --size_;
  return removed;
}

}  // namespace pkfs
