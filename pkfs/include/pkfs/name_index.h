// Stored files by name: an open-addressing hash table of file head pointers,
// each keyed by its head's own name. Built once when a directory loads, it
// takes one allocation however many names it holds, and a look-up compares
// one name in the usual case, where an ordered map compared a score of them
// and allocated twice for every name.
#ifndef PKFS_NAME_INDEX_H_
#define PKFS_NAME_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pkfs/file_head.h"

namespace pkfs {

class NameIndex {
 public:
  // What iteration yields, in no particular order: a name and its head.
  struct Entry {
    const std::string& first;
    FileHead* second;
  };

  class const_iterator {
   public:
    Entry operator*() const { return Entry{slots_[index_].head->name, slots_[index_].head}; }
    const_iterator& operator++() {
      ++index_;
      SkipEmpty();
      return *this;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }
    bool operator!=(const const_iterator& other) const { return index_ != other.index_; }

   private:
    friend class NameIndex;
    struct SlotView {
      FileHead* head;
      std::uint32_t hash;
    };
    const_iterator(const SlotView* slots, std::size_t index, std::size_t end)
        : slots_(slots), index_(index), end_(end) {
      SkipEmpty();
    }
    void SkipEmpty() {
      while (index_ < end_ && slots_[index_].head == nullptr) ++index_;
    }
    const SlotView* slots_;
    std::size_t index_;
    std::size_t end_;
  };

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear();
  // Room for count names without growing.
  void reserve(std::size_t count);

  FileHead* Find(std::string_view name) const;
  // head under its own name (which must not change while it is held);
  // returns the head it replaced, or null.
  FileHead* Put(FileHead* head);
  // head under its own name unless a head holds that name already; returns
  // the head that holds it afterwards.
  FileHead* PutIfAbsent(FileHead* head);
  // Takes out whatever head holds name; returns it, or null.
  FileHead* Remove(std::string_view name);

  const_iterator begin() const { return const_iterator(slots_.data(), 0, slots_.size()); }
  const_iterator end() const { return const_iterator(slots_.data(), slots_.size(), slots_.size()); }

 private:
  using Slot = const_iterator::SlotView;

  static std::uint32_t Hash(std::string_view name);
  // The slot that holds name, or the empty slot where it would go.
  std::size_t Locate(std::string_view name, std::uint32_t hash) const;
  // Room for one more name.
  void MakeRoom();
  void Grow(std::size_t capacity);

  std::vector<Slot> slots_;  // a power of two of them, at most three quarters used
  std::size_t size_ = 0;
};

}  // namespace pkfs

#endif  // PKFS_NAME_INDEX_H_
