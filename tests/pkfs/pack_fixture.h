// A pack file system over real volumes in a scratch directory, for the
// archive, volume, crash and handle tests: a fresh manager and CPKFSF that
// can be dropped and started again from what is on disk.
#ifndef MAROVETIN_TESTS_PKFS_PACK_FIXTURE_H_
#define MAROVETIN_TESTS_PKFS_PACK_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pack_archive.h"
#include "fault_env.h"
#include "platform/env.h"
#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/byte_order.h"
#include "platform/file_system.h"
#include "test_support.h"

namespace pkfs_test {

using Bytes = std::vector<unsigned char>;

inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes data(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (unsigned char& byte : data) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<unsigned char>(state >> 24);
  }
  return data;
}

// A volume's directory as it is on disk, decoded.
struct DiskDirectory {
  pkfs::PackHeader header;
  Bytes table;  // decoded
  std::vector<pkfs::FileHead> heads;
  bool hasTrailer = false;
  pkfs::PackTrailer trailer;
};

// Writes a volume file by hand: header, data and a table at the end.
inline void WriteVolume(const std::string& path, const std::vector<pkfs::FileHead>& heads,
                        const Bytes& data, bool trailer, const std::string& nextName = "") {
  Bytes table;
  for (const pkfs::FileHead& head : heads) {
    Bytes record(head.RecordSize());
    head.Serialize(record.data());
    table.insert(table.end(), record.begin(), record.end());
  }
  if (trailer) {
    pkfs::PackTrailer end;
    end.nextName = nextName;
    end.checksum = pkfs::ByteSum(table.data(), table.size());
    Bytes record(end.RecordSize());
    end.Serialize(record.data());
    table.insert(table.end(), record.begin(), record.end());
  }
  pkfs::PackHeader header;
  header.tableOffset = static_cast<std::uint32_t>(16 + data.size());
  header.tableSize = static_cast<std::uint32_t>(table.size());
  header.headCount = static_cast<std::uint32_t>(heads.size());
  Bytes file(16);
  header.Serialize(file.data());
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), table.begin(), table.end());
  testing_support::WriteFile(path, std::string(file.begin(), file.end()));
}

inline pkfs::FileHead Head(const std::string& name, std::uint32_t start, std::uint32_t size) {
  pkfs::FileHead head;
  head.name = name;
  head.start = start;
  head.size = size;
  head.flags = pkfs::kFlagStored;
  return head;
}

class PackFixture : public ::testing::Test {
 protected:
  PackFixture() : cwd_(dir_.path()) {}
  ~PackFixture() override { Stop(); }

  // Starts a fresh manager (with the id-0 filter when filtered) on env_ and
  // mounts name; creates it when it does not load and create is true.
  bool Mount(const std::string& name = "DATA.pak", bool create = true) {
    Stop();
    manager_ = std::make_unique<pkfs::CFSManager>(dir_.path(), env_);
    if (filtered_) manager_->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    auto fileSystem = std::make_unique<pkfs::CPKFSF>(manager_.get());
    fs_ = fileSystem.get();
    if (sizeLimit_ != 0) fs_->SetSizeLimitForTesting(sizeLimit_);
    fs_->SetReadOnly(readOnly_);
    if (!rules_.empty()) {
      for (const std::string& rule : rules_) fs_->AddNameRule(rule, 0);
    }
    bool loaded = manager_->SetFileSystem(name, std::move(fileSystem));
    if (!loaded && create) loaded = manager_->CreateVolume(name);
    return loaded;
  }

  // Drops every in-memory object; the volumes stay on disk.
  void Stop() {
    fs_ = nullptr;
    manager_.reset();
  }

  std::string Disk(const std::string& name) const {
    return testing_support::ReadFile(dir_.Join(name));
  }

  // Every file of the set's directory with its bytes, and putting them back
  // (what is there now goes): the state a crash test returns to.
  using Volumes = std::map<std::string, std::string>;  // file name -> bytes
  Volumes SaveVolumes() const {
    Volumes saved;
    std::vector<platform::DirectoryEntry> entries;
    platform::Env::Default()->ListDirectory(dir_.path(), &entries, nullptr);
    for (const auto& entry : entries) saved[entry.name] = Disk(entry.name);
    return saved;
  }
  void RestoreVolumes(const Volumes& saved) {
    std::vector<platform::DirectoryEntry> entries;
    platform::Env::Default()->ListDirectory(dir_.path(), &entries, nullptr);
    for (const auto& entry : entries) platform::Env::Default()->DeleteFile(dir_.Join(entry.name));
    for (const auto& file : saved) testing_support::WriteFile(dir_.Join(file.first), file.second);
  }

  // Reads and decodes the directory of a volume file, trusting nothing.
  DiskDirectory ReadDirectory(const std::string& name) const {
    DiskDirectory out;
    const std::string file = Disk(name);
    EXPECT_GE(file.size(), 16u);
    if (file.size() < 16) return out;
    Bytes header(file.begin(), file.begin() + 16);
    if (filtered_) pkfs::DecodeBuffer(header.data(), 16);
    out.header = pkfs::PackHeader::Parse(header.data());
    const std::uint64_t end = std::uint64_t{out.header.tableOffset} + out.header.tableSize;
    EXPECT_LE(end, file.size());
    if (end > file.size()) return out;
    out.table.assign(file.begin() + out.header.tableOffset, file.begin() + static_cast<long>(end));
    if (filtered_ && !out.table.empty()) {
      pkfs::DecodeBuffer(out.table.data(), static_cast<std::uint32_t>(out.table.size()));
    }
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < out.header.headCount; ++i) {
      pkfs::FileHead head;
      const std::size_t used = head.Parse(out.table.data() + at, out.table.size() - at);
      EXPECT_NE(used, 0u);
      if (used == 0) return out;
      at += used;
      out.heads.push_back(head);
    }
    if (at < out.table.size()) {
      out.hasTrailer = out.trailer.Parse(out.table.data() + at, out.table.size() - at) != 0;
    }
    return out;
  }

  // The file's stored bytes through the set, decoded when they were filtered.
  Bytes StoredContent(const std::string& key) {
    pkfs::FileHead* head = manager_->FindName(key);
    if (head == nullptr || head->owner == nullptr) return {};
    Bytes data(head->size);
    head->owner->ReadBuffer(data.data(), head->start, head->size);
    if ((head->flags & pkfs::kFlagInPlace) != 0 && filtered_) {
      pkfs::DecodeBuffer(data.data(), static_cast<std::uint32_t>(data.size()));
    }
    return data;
  }

  // name -> content of every file the set resolves.
  std::map<std::string, Bytes> Snapshot() {
    std::map<std::string, Bytes> files;
    for (const auto& entry : manager_->fileMap()) files[entry.first] = StoredContent(entry.first);
    return files;
  }

  bool Add(const std::string& name, Bytes data) {
    return fs_->AddFile(name, data.data(), static_cast<std::uint32_t>(data.size()));
  }

  void ExpectListsMatchRebuild() {
    for (const auto& volume : fs_->archives()) {
      EXPECT_EQ(volume->leakList().bounds(), volume->ComputeLeakList().bounds()) << volume->name();
    }
  }

  testing_support::TempDir dir_;
  testing_support::ScopedCurrentDirectory cwd_;
  bool filtered_ = false;
  bool readOnly_ = false;  // the set opened for reading (SetReadOnly)
  std::uint32_t sizeLimit_ = 0;
  std::vector<std::string> rules_;
  // The files under faults_ (which fails nothing until a test asks it to),
  // unless a test points env_ at an Env of its own: the next Mount reaches
  // the files through env_, and a test that changes it calls Stop() before
  // its Env goes.
  testing_support::FaultEnv faults_;
  platform::Env* env_ = &faults_;
  std::unique_ptr<pkfs::CFSManager> manager_;
  pkfs::CPKFSF* fs_ = nullptr;
};

}  // namespace pkfs_test

#endif  // MAROVETIN_TESTS_PKFS_PACK_FIXTURE_H_
