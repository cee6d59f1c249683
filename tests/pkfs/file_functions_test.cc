// The two tables of file operations: the pack table over the global manager's
// handles and the plain table over stdio, and where they differ.
#include "pkfs/file_functions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fake_entry_store.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "platform/file_system.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;
using testing_support::WriteFile;

class FileFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pkfs::TheManager().ResetForTesting(dir_.path());
    WriteFile(dir_.Join("lines.txt"), "ab\r\ncd\n");
  }
  void TearDown() override { pkfs::TheManager().ResetForTesting(dir_.path()); }

  TempDir dir_;
  ScopedCurrentDirectory inDir_{dir_.path()};
  const pkfs::FileFunctionTable& pack_ = pkfs::packFunctions;
  const pkfs::FileFunctionTable& plain_ = pkfs::plainFunctions;
};

TEST_F(FileFunctionsTest, ThePlainTableIsInForceUntilAFileSystemIsSet) {
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::plainFunctions);
  pkfs::SetFileSystem("DATA.pak", nullptr);
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::packFunctions);
  pkfs::UsePlainFunctionsForTesting();
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::plainFunctions);
}

TEST_F(FileFunctionsTest, SeekAnswersOneForPacksAndZeroForStdio) {
  void* pack = pack_.open("lines.txt", "rb");
  void* plain = plain_.open("lines.txt", "rb");
  ASSERT_NE(pack, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(pack_.seek(pack, 2, 0), 1);
  EXPECT_EQ(pack_.seek(pack, 0, 9), 1);
  EXPECT_EQ(pack_.tell(pack), 2);
  EXPECT_EQ(plain_.seek(plain, 2, 0), 0);
  EXPECT_EQ(plain_.tell(plain), 2);
  EXPECT_EQ(pack_.close(pack), 0);
  EXPECT_EQ(plain_.close(plain), 0);
}

TEST_F(FileFunctionsTest, GetsKeepsTheLineFeedOnlyForStdio) {
  void* pack = pack_.open("lines.txt", "rb");
  void* plain = plain_.open("lines.txt", "rb");
  char line[16];
  EXPECT_STREQ(pack_.gets(line, sizeof line, pack), "ab");
  EXPECT_STREQ(plain_.gets(line, sizeof line, plain), "ab\r\n");
  EXPECT_STREQ(pack_.gets(line, sizeof line, pack), "cd");
  EXPECT_STREQ(plain_.gets(line, sizeof line, plain), "cd\n");
  EXPECT_EQ(plain_.gets(line, sizeof line, plain), nullptr);
  EXPECT_NE(pack_.eof(pack), 0);
  EXPECT_EQ(pack_.getc(pack), -1);
  pack_.close(pack);
  plain_.close(plain);
}

TEST_F(FileFunctionsTest, ReadCountsItemsAndSizeZeroReadsNothing) {
  void* pack = pack_.open("lines.txt", "rb");
  char buffer[16] = {};
  EXPECT_EQ(pack_.read(buffer, 0, 5, pack), 0u);
  EXPECT_EQ(pack_.tell(pack), 0);
  EXPECT_EQ(pack_.read(buffer, 2, 3, pack), 3u);
  EXPECT_EQ(pack_.tell(pack), 6);
  EXPECT_EQ(pack_.read(buffer, 4, 1, pack), 0u) << "one byte left is no whole item";
  EXPECT_EQ(pack_.tell(pack), 7);
  EXPECT_EQ(pack_.read(buffer, 4, static_cast<std::size_t>(-1), pack), 0u);
  pack_.close(pack);
}

TEST_F(FileFunctionsTest, WriteAnswersInBytesAndPutsSkipsTheModeTest) {
  void* out = pack_.open("out.bin", "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(pack_.write("abcdefgh", 4, 2, out), 8u);
  EXPECT_EQ(pack_.puts("xy", out), 2);
  pack_.close(out);
  EXPECT_EQ(ReadFile(dir_.Join("OUT.BIN")), "abcdefghxy");

  // A read-only handle refuses write, but puts goes to the owner directly.
  auto store = std::make_unique<pkfs_test::FakeEntryStore>(&pkfs::TheManager());
  pkfs_test::FakeEntryStore* raw = store.get();
  pkfs::TheManager().SetFileSystem("", std::move(store));
  pkfs::TheManager().AddName(raw->AddEntry("STORED", {1, 2, 3}));
  void* stored = pack_.open("stored", "r");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(pack_.write("zz", 1, 2, stored), 0u);
  EXPECT_EQ(pack_.puts("pq", stored), 2);
  EXPECT_EQ(raw->written, (std::vector<unsigned char>{'p', 'q'}));
  pack_.close(stored);
}

TEST_F(FileFunctionsTest, CloseForgetsTheHandleAndNullHandlesAreHarmless) {
  void* pack = pack_.open("lines.txt", "rb");
  EXPECT_EQ(pkfs::TheManager().openFiles().size(), 1u);
  EXPECT_EQ(pack_.close(pack), 0);
  EXPECT_TRUE(pkfs::TheManager().openFiles().empty());
  EXPECT_EQ(pack_.close(nullptr), 0);
  EXPECT_EQ(pack_.open("missing", "rb"), nullptr);
  EXPECT_EQ(pack_.getc(nullptr), -1);
  EXPECT_EQ(pack_.read(nullptr, 1, 1, nullptr), 0u);
  EXPECT_NE(plain_.close(nullptr), 0);
  EXPECT_EQ(plain_.open("missing", "rb"), nullptr);
}

TEST_F(FileFunctionsTest, ChdirAndGetcwdOfBothTables) {
#ifdef _WIN32
  GTEST_SKIP() << "compares drive-less POSIX path forms";
#else
  testing_support::MakeDirs(dir_.Join("Sub"));
  EXPECT_EQ(pack_.chdir("sub"), 0);
  char buffer[512];
  EXPECT_EQ(std::string(pack_.getcwd(buffer, sizeof buffer)), dir_.path() + "/sub");
  EXPECT_EQ(platform::GetCurrentDirectory(), dir_.Join("Sub"));
  EXPECT_EQ(plain_.chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(std::string(plain_.getcwd(buffer, sizeof buffer)), platform::GetCurrentDirectory());
  EXPECT_EQ(plain_.getcwd(buffer, 2), nullptr) << "too small for the directory";
  EXPECT_NE(plain_.chdir(dir_.Join("none").c_str()), 0);
#endif
}

}  // namespace
