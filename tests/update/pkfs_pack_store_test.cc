// The pack store on the real pack file system: the mount and the store.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fault_env.h"
#include "pack_archive.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "test_support.h"
#include "update/pack_store.h"

namespace {

using testing_support::ReadFile;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;

class PkfsPackStoreTest : public ::testing::Test {
 protected:
  PkfsPackStoreTest() : cwd_(dir_.path()) { pkfs::TheManager().ResetForTesting(dir_.path()); }
  ~PkfsPackStoreTest() override { pkfs::TheManager().ResetForTesting(dir_.path()); }

  // Mounts quietly (loading prints a line per volume), through faults_.
  std::unique_ptr<update::PackStore> Mount(const std::string& name) {
    auto store = update::MakePkfsPackStore(&faults_);
    testing::internal::CaptureStdout();
    store->Mount(name);
    testing::internal::GetCapturedStdout();
    return store;
  }

  static pkfs::CPKFSF* Current() {
    return dynamic_cast<pkfs::CPKFSF*>(pkfs::TheManager().current());
  }

  bool Add(update::PackStore& store, const std::string& name, std::string bytes) {
    testing::internal::CaptureStdout();
    bool stored = store.AddFile(name, reinterpret_cast<unsigned char*>(&bytes[0]),
                                static_cast<std::uint32_t>(bytes.size()));
    testing::internal::GetCapturedStdout();
    return stored;
  }

  TempDir dir_;
  ScopedCurrentDirectory cwd_;
  testing_support::FaultEnv faults_;
};

TEST_F(PkfsPackStoreTest, MountCreatesTheFirstVolumeWhenNoneLoads) {
  auto store = Mount("DATA.pak");
  ASSERT_NE(Current(), nullptr);
  EXPECT_EQ(Current()->archives().size(), 1u);
  EXPECT_EQ(ReadFile(dir_.Join("DATA.pak")).size(), 32u);
}

TEST_F(PkfsPackStoreTest, StoresUnderTheNormalisedNameThroughTheRules) {
  auto store = Mount("DATA.pak");
  ASSERT_TRUE(Add(*store, "sub\\a.txt", "text"));
  ASSERT_TRUE(Add(*store, "b.bin", "bin"));
  ASSERT_TRUE(Add(*store, "ui\\c.xml", "xml"));
  pkfs::FileHead* text = Current()->primary()->FindHead("SUB/A.TXT");
  pkfs::FileHead* binary = Current()->primary()->FindHead("B.BIN");
  pkfs::FileHead* xml = Current()->primary()->FindHead("UI/C.XML");
  ASSERT_NE(text, nullptr);
  ASSERT_NE(binary, nullptr);
  ASSERT_NE(xml, nullptr);
  EXPECT_NE(text->flags & pkfs::kFlagInPlace, 0u);
  EXPECT_NE(xml->flags & pkfs::kFlagInPlace, 0u);
  EXPECT_EQ(binary->flags & pkfs::kFlagInPlace, 0u);
}

TEST_F(PkfsPackStoreTest, RemountLoadsTheScrambledVolumeItWrote) {
  {
    auto store = Mount("DATA.pak");
    ASSERT_TRUE(Add(*store, "a.txt", "kept"));
  }
  pkfs::TheManager().ResetForTesting(dir_.path());
  auto store = Mount("DATA.pak");
  ASSERT_NE(Current(), nullptr);
  EXPECT_NE(Current()->primary()->FindHead("A.TXT"), nullptr);
  EXPECT_GT(ReadFile(dir_.Join("DATA.pak")).size(), 32u);
}

TEST_F(PkfsPackStoreTest, FailedStoreIsReported) {
  auto store = Mount("DATA.pak");
  faults_.onWrite = [](const std::string&, std::uint64_t, std::size_t) {
    return testing_support::WriteDecision{testing_support::WriteDecision::kFail, 0};
  };
  EXPECT_FALSE(Add(*store, "a.txt", "lost?"));
  faults_.onWrite = nullptr;
  EXPECT_TRUE(Add(*store, "b.txt", "fine"));
}

TEST_F(PkfsPackStoreTest, ABatchIsDurableOnlyAtItsCommitWhichSaysWhyItFailed) {
  auto store = Mount("DATA.pak");
  store->BeginBatch();
  ASSERT_TRUE(Add(*store, "a.txt", "first"));
  EXPECT_EQ(ReadFile(dir_.Join("DATA.pak")).size(), 32u + 5u);  // data only, no directory yet
  faults_.onWrite = [](const std::string&, std::uint64_t, std::size_t) {
    return testing_support::WriteDecision{testing_support::WriteDecision::kFail, 0, ENOSPC};
  };
  testing::internal::CaptureStdout();
  const platform::Status status = store->CommitBatch();
  testing::internal::GetCapturedStdout();
  faults_.onWrite = nullptr;
  EXPECT_EQ(status.ToString(), "DATA.pak: No space left on device");
  EXPECT_EQ(Current()->primary()->FindHead("A.TXT"), nullptr);
  store->BeginBatch();
  ASSERT_TRUE(Add(*store, "b.txt", "second"));
  EXPECT_TRUE(store->CommitBatch().ok());
  EXPECT_NE(Current()->primary()->FindHead("B.TXT"), nullptr);
}

}  // namespace
