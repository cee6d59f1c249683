// The file system says why an operation failed: the last failure, as a
// Status and as the text of "CFSGetLastError", for loads, stores, commits
// and reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lock_holder.h"
#include "pack_fixture.h"
#include "pkfs/fs_file.h"
#include "platform/byte_order.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

class FailureReasonTest : public PackFixture {
 protected:
  std::string LastErrorText() {
    std::string text;
    fs_->Command("CFSGetLastError", text);
    return text;
  }

  // Two files of 8 bytes at 16 and 24, the table at 32.
  Bytes SoundVolume() {
    WriteVolume(dir_.Join("DATA.pak"), {Head("AB", 16, 8), Head("CDE", 24, 8)}, Pattern(16, 1),
                true);
    return BytesOf(Disk("DATA.pak"));
  }
  void Put(const Bytes& file) {
    testing_support::WriteFile(dir_.Join("DATA.pak"), std::string(file.begin(), file.end()));
  }

  // A new set that holds one file, OLD (40 bytes of pattern 1); the progress
  // lines stay off the test's output.
  void FreshSetHoldingOld() {
    Stop();
    std::filesystem::remove(dir_.Join("DATA.pak"));
    testing::internal::CaptureStdout();
    const bool mounted = Mount();
    const bool added = mounted && Add("old", Pattern(40, 1));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(mounted);
    ASSERT_TRUE(added);
  }

  // The set loaded again from disk, its progress lines off the test's output.
  bool Reload() {
    testing::internal::CaptureStdout();
    const bool reloaded = Mount("DATA.pak", false);
    testing::internal::GetCapturedStdout();
    return reloaded;
  }
};

TEST_F(FailureReasonTest, EachWayALoadFailsHasItsOwnReason) {
  const Bytes sound = SoundVolume();
  struct Row {
    std::size_t at;  // a word to overwrite, or kCut: keep only value bytes
    std::uint32_t value;
    const char* reason;
  };
  constexpr std::size_t kCut = ~std::size_t{0};
  const Row rows[] = {
      {kCut, 10, "not a pack volume (too short)"},
      {0, 0x4B434150 ^ 0xFF, "not a pack volume"},
      {4, 8, "directory overlaps the header"},
      {8, 0xFFFFFFFF, "directory runs past the end of the file"},
      {32, 1000, "file record runs past the end of the directory"},
      {32 + 6, 20, "file data lie outside the file or overlap"},
      {32 + 10, 0xFFFFFFFF, "file data lie outside the file or overlap"},
  };
  for (const Row& row : rows) {
    Bytes file = sound;
    if (row.at == kCut) {
      file.resize(row.value);
    } else {
      platform::StoreU32(file.data() + row.at, row.value);
    }
    Put(file);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Mount("DATA.pak", /*create=*/false)) << row.reason;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fs_->lastFailure().Reason(), row.reason);
    EXPECT_EQ(LastErrorText(), std::string("DATA.pak: ") + row.reason);
  }
  // A trailer whose next-volume name would leave the table.
  Bytes file = sound;
  file[file.size() - 4] = 0xFF;
  Put(file);
  EXPECT_FALSE(Mount("DATA.pak", false));
  EXPECT_EQ(LastErrorText(), "DATA.pak: directory trailer is damaged");
}

// Files in any order, touching, overlapping, empty or past the end: a volume
// loads exactly when the header, every file and the table lie apart inside
// the file, read-only or not (the loader checks volumes in the updater's
// order in one pass, and sorts any other).
TEST_F(FailureReasonTest, AVolumeLoadsExactlyWhenItsRegionsLieApart) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t dataBytes = 64;
    std::vector<pkfs::FileHead> heads;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> regions = {{0, 16}};
    const int count = 1 + static_cast<int>(random() % 5);
    std::uint32_t next = 16;
    for (int i = 0; i < count; ++i) {
      // Mostly back to back, as a writer leaves them; now and then anywhere.
      std::uint32_t start = next, size = 1 + random() % 16;
      if (random() % 4 == 0) start = random() % (16 + dataBytes + 8);
      if (random() % 8 == 0) size = 0;  // dropped at load: takes no room
      heads.push_back(Head("F" + std::to_string(i), start, size));
      if (size != 0) regions.emplace_back(start, std::uint64_t{start} + size);
      next = start + size;
    }
    if (random() % 3 == 0) std::shuffle(heads.begin(), heads.end(), random);
    WriteVolume(dir_.Join("DATA.pak"), heads, Pattern(dataBytes, 1), true);
    const std::uint64_t fileSize = std::filesystem::file_size(dir_.Join("DATA.pak"));
    const DiskDirectory disk = ReadDirectory("DATA.pak");
    regions.emplace_back(disk.header.tableOffset,
                         std::uint64_t{disk.header.tableOffset} + disk.header.tableSize);
    std::sort(regions.begin(), regions.end());
    bool apart = true;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      if (regions[i].second > fileSize) apart = false;
      if (i > 0 && regions[i].first < regions[i - 1].second) apart = false;
    }
    for (const bool readOnly : {false, true}) {
      testing::internal::CaptureStdout();
      Stop();
      manager_ = std::make_unique<pkfs::CFSManager>(dir_.path(), env_);
      auto fileSystem = std::make_unique<pkfs::CPKFSF>(manager_.get());
      fileSystem->SetReadOnly(readOnly);
      fs_ = fileSystem.get();
      const bool loaded = manager_->SetFileSystem("DATA.pak", std::move(fileSystem));
      testing::internal::GetCapturedStdout();
      ASSERT_EQ(loaded, apart) << "round " << round << " read-only " << readOnly;
    }
  }
}

// A directory that fails its checksum is read, with one warning, and never
// written: not by an add, a removal, a new volume, a handle's write or a
// commit. The volume's bytes stay as they were.
TEST_F(FailureReasonTest, AChecksumMismatchIsSaidOnceAndTheSetIsReadButNeverWritten) {
  Bytes file = SoundVolume();
  file[file.size() - 8] ^= 0x01;  // the trailer's checksum word
  Put(file);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Mount("DATA.pak", false));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "DATA.pak: directory checksum does not match; the volume is read, but the set is not "
            "written\n");
  EXPECT_EQ(StoredContent("AB").size(), 8u);
  const std::string refusal =
      "DATA.pak: directory checksum does not match; the set is not written until it is rebuilt "
      "('pkfs compact --salvage')";
  EXPECT_EQ(fs_->WriteRefusal().ToString(), refusal);
  EXPECT_FALSE(Add("new", Pattern(4, 2)));
  EXPECT_EQ(LastErrorText(), refusal);
  EXPECT_FALSE(fs_->RemoveFile("AB"));
  EXPECT_EQ(LastErrorText(), refusal);
  EXPECT_FALSE(fs_->CreateVolume(""));
  EXPECT_EQ(LastErrorText(), refusal);
  pkfs::CFSFile* writer = manager_->Open("CDE", "wb");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(writer->Write("xy", 2), 0);
  delete writer;
  testing::internal::GetCapturedStdout();
  Stop();
  EXPECT_EQ(BytesOf(Disk("DATA.pak")), file);
  EXPECT_FALSE(platform::PathExists(dir_.Join("Data1.pak")));

  SoundVolume();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(fs_->WriteRefusal().ok());
}

// Loaded read only, a set is read without its lock (a writer holds it) and
// every change is refused.
TEST_F(FailureReasonTest, AReadOnlySetIsReadWhileAWriterHoldsItAndRefusesChanges) {
  SoundVolume();
  testing_support::ForeignLockHolder writer(dir_.Join("DATA.pak"));
  ASSERT_TRUE(writer.held());
  Stop();
  manager_ = std::make_unique<pkfs::CFSManager>(dir_.path(), env_);
  auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
  fs_ = owned.get();
  fs_->SetReadOnly(true);
  fs_->SetLockTimeout(0);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(manager_->SetFileSystem("DATA.pak", std::move(owned)));
  EXPECT_EQ(StoredContent("CDE").size(), 8u);
  EXPECT_FALSE(Add("new", Pattern(4, 2)));
  EXPECT_EQ(LastErrorText(), "DATA.pak: loaded read only; not written");
  EXPECT_FALSE(fs_->RemoveFile("AB"));
  testing::internal::GetCapturedStdout();
}

// A full disk on the data write of an add, and on the table and the header
// writes of its commit: the add fails with the volume and the errno text.
TEST_F(FailureReasonTest, AFullDiskOnAnyWriteOfAnAddIsNamed) {
  for (int failing = 1; failing <= 3; ++failing) {
    ASSERT_NO_FATAL_FAILURE(FreshSetHoldingOld());
    testing::internal::CaptureStdout();
    int seen = 0;
    faults_.onWrite = [&seen, failing](const std::string&, std::uint64_t, std::size_t) {
      testing_support::WriteDecision decision;
      if (++seen >= failing) decision = {testing_support::WriteDecision::kFail, 0, ENOSPC};
      return decision;
    };
    const bool added = Add("new", Pattern(40, 2));
    faults_.onWrite = nullptr;
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(added) << "write " << failing;
    EXPECT_EQ(LastErrorText(), "DATA.pak: No space left on device") << "write " << failing;
    // On disk the set is as before the add.
    ASSERT_TRUE(Reload()) << LastErrorText();
    EXPECT_EQ(manager_->FindName("NEW"), nullptr) << "write " << failing;
    testing::internal::CaptureStdout();
    EXPECT_EQ(StoredContent("OLD"), Pattern(40, 1));
    // The next add starts clean.
    EXPECT_TRUE(Add("new", Pattern(40, 2)));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(LastErrorText(), "");
  }
}

// A read that comes back short fails (in RawRead and through a handle)
// instead of handing back zeros as data.
TEST_F(FailureReasonTest, AShortReadFailsAndIsNamed) {
  SoundVolume();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  std::filesystem::resize_file(dir_.Join("DATA.pak"), 20);  // cut inside AB

  pkfs::CFSFile* handle = manager_->Open("AB", "rb");
  ASSERT_NE(handle, nullptr);
  unsigned char buffer[8] = {};
  EXPECT_EQ(fs_->RawRead(buffer, sizeof buffer, handle), -1);
  EXPECT_EQ(LastErrorText(), "DATA.pak: read failed at offset 16");
  EXPECT_EQ(handle->Read(buffer, sizeof buffer), 0);
  delete handle;
}

// Another process holds the volume past the lock timeout: the load fails,
// naming the volume, with a busy status.
TEST_F(FailureReasonTest, ALockHeldElsewhereIsNamedAsBusy) {
  SoundVolume();
  testing_support::ForeignLockHolder holder(dir_.Join("DATA.pak"));
  ASSERT_TRUE(holder.held());

  Stop();
  manager_ = std::make_unique<pkfs::CFSManager>(dir_.path(), env_);
  auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
  fs_ = owned.get();
  fs_->SetLockTimeout(0);
  EXPECT_FALSE(manager_->SetFileSystem("DATA.pak", std::move(owned)));
  EXPECT_EQ(fs_->lastFailure().code(), platform::Status::Code::kBusy);
  EXPECT_EQ(fs_->lastFailure().context(), "DATA.pak");
}

// Each step of removing a file and of making a new volume that can fail
// leaves its reason, naming the volume; the set on disk stays as it was.
TEST_F(FailureReasonTest, RemovalsAndNewVolumesSayWhichStepFailed) {
  enum class Op { kRemove, kRemoveMissing, kNewVolume, kNewVolumeNoDirectory };
  struct Row {
    Op op;
    int failingWrite;  // 0: none; else the n-th write of the operation and every later one
    int failingSync;
    const char* text;  // "CFSGetLastError" afterwards
  };
  const Row rows[] = {
      {Op::kRemoveMissing, 0, 0, "DATA.pak: NOPE is not stored in the set"},
      {Op::kRemove, 1, 0, "DATA.pak: No space left on device"},  // table
      {Op::kRemove, 0, 1, "DATA.pak: Input/output error"},       // table sync
      {Op::kRemove, 2, 0, "DATA.pak: No space left on device"},  // header
      {Op::kNewVolumeNoDirectory, 0, 0,
       "missing/New.pak: cannot be created: No such file or directory"},
      // header and empty directory, written under the scratch name
      {Op::kNewVolume, 1, 0, "Data1.pak: cannot be created: No space left on device"},
      {Op::kNewVolume, 0, 1, "Data1.pak: cannot be created: Input/output error"},  // its sync
      {Op::kNewVolume, 0, 2, "Data1.pak: cannot be created: Input/output error"},  // directory
      {Op::kNewVolume, 2, 0,
       "DATA.pak: cannot chain Data1.pak behind it: No space left on device"},  // the link
  };
  for (const Row& row : rows) {
    ASSERT_NO_FATAL_FAILURE(FreshSetHoldingOld());
    testing::internal::CaptureStdout();
    int writes = 0;
    int syncs = 0;
    faults_.onWrite = [&writes, &row](const std::string&, std::uint64_t, std::size_t) {
      testing_support::WriteDecision decision;
      if (row.failingWrite > 0 && ++writes >= row.failingWrite)
        decision = {testing_support::WriteDecision::kFail, 0, ENOSPC};
      return decision;
    };
    faults_.onSync = [&syncs, &row](const std::string& path) {
      return ++syncs == row.failingSync ? platform::Status::FromErrno(EIO, path)
                                        : platform::Status::Ok();
    };
    bool done = false;
    switch (row.op) {
      case Op::kRemove:
        done = fs_->RemoveFile("OLD");
        break;
      case Op::kRemoveMissing:
        done = fs_->RemoveFile("NOPE");
        break;
      case Op::kNewVolume:
        done = fs_->CreateVolume("");
        break;
      case Op::kNewVolumeNoDirectory:
        done = fs_->CreateVolume("missing/New.pak");
        break;
    }
    faults_.onWrite = nullptr;
    faults_.onSync = nullptr;
    testing::internal::GetCapturedStdout();
    // A name nobody stores is no failed call, but it is said.
    EXPECT_EQ(done, row.op == Op::kRemoveMissing) << row.text;
    EXPECT_EQ(LastErrorText(), row.text);
    // Nothing half-made stays, and the set reloads as it was.
    EXPECT_FALSE(std::filesystem::exists(dir_.Join("Data1.pak"))) << row.text;
    EXPECT_FALSE(std::filesystem::exists(dir_.Join("Data1.pak.pkfs-new"))) << row.text;
    ASSERT_TRUE(Reload()) << row.text;
    EXPECT_EQ(fs_->archives().size(), 1u) << row.text;
    EXPECT_EQ(StoredContent("OLD"), Pattern(40, 1)) << row.text;
  }
}

}  // namespace
}  // namespace pkfs_test
