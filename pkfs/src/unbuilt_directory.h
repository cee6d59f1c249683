// A volume's directory as read, not built into heads: what a set opened for
// reading keeps, so that a command that wants one file does not pay for a
// head per entry. A look-up by name reads the records in place and builds
// only the head it finds; whatever wants every head builds them all at once.
#ifndef PKFS_UNBUILT_DIRECTORY_H_
#define PKFS_UNBUILT_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pkfs/file_head.h"

namespace pkfs {

class UnbuiltDirectory {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Keeps the decoded table of length bytes and the offset of each record
  // kept; every one of them was checked to lie inside the table.
  void Keep(std::unique_ptr<unsigned char[]> table, std::size_t length,
            std::vector<std::uint32_t> records);
  // True while a table is kept (until Build or Clear).
  bool kept() const { return table_ != nullptr; }

  // The index of the first (or last) record called name, or kNone.
  std::size_t Find(const std::string& name, bool last) const;
  // The head of the record at index, stored by owner; built once and kept
  // until Build hands it over.
  FileHead* HeadAt(std::size_t index, PackArchive* owner);
  // Every head in record order into heads: those handed out already stay
  // the same objects, the others are built in one block, which *block then
  // owns. Forgets the table.
  void Build(PackArchive* owner, std::unique_ptr<FileHead[]>* block, std::vector<HeadPtr>* heads);
  void Clear();

 private:
  std::unique_ptr<unsigned char[]> table_;
  std::size_t length_ = 0;
  std::vector<std::uint32_t> records_;
  std::unordered_map<std::size_t, std::unique_ptr<FileHead>> built_;  // by record index
};

}  // namespace pkfs

#endif  // PKFS_UNBUILT_DIRECTORY_H_
