// Loose files under the start directory, served through the same handles as
// stored files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/fs.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class PlainBackendTest : public ::testing::Test {
 protected:
  TempDir dir_;
  pkfs::CFSManager manager_{dir_.path()};
};

TEST_F(PlainBackendTest, ANameNoVolumeHoldsOpensTheLooseFileWhateverItsCase) {
  WriteFile(dir_.Join("data/sound.txt"), "line one\r\nline two");
  pkfs::CFSFile* handle = manager_.Open("data\\Sound.txt", "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->owner, manager_.defaultFileSystem());
  EXPECT_EQ(handle->name, dir_.path() + "/DATA/SOUND.TXT");
  ASSERT_NE(handle->entry, nullptr);
  EXPECT_EQ(handle->entry->size, 18u);
  EXPECT_EQ(handle->entry->start, 0u);
  EXPECT_EQ(handle->entry->flags, 0u);
  EXPECT_EQ(handle->mode, 9u);
  char line[32];
  EXPECT_STREQ(handle->Gets(line, sizeof line), "line one");
  EXPECT_STREQ(handle->Gets(line, sizeof line), "line two");
  EXPECT_TRUE(handle->Eof());
  delete handle;
  EXPECT_TRUE(manager_.openFiles().empty());
}

TEST_F(PlainBackendTest, ReadsStopAtTheLengthMeasuredAtOpen) {
  WriteFile(dir_.Join("grow.bin"), "12345");
  pkfs::CFSFile* handle = manager_.Open("GROW.BIN", "rb");
  ASSERT_NE(handle, nullptr);
  WriteFile(dir_.Join("grow.bin"), "1234567890");
  char buffer[16] = {};
  handle->Seek(3, 0);
  EXPECT_EQ(handle->Read(buffer, 16), 2);
  EXPECT_STREQ(buffer, "45");
  EXPECT_TRUE(handle->Eof());
  delete handle;
}

TEST_F(PlainBackendTest, WritesGoWhereTheStreamStandsAndEofKeepsTheOpenSize) {
  pkfs::CFSFile* handle = manager_.Open("new.bin", "wb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->entry->size, 0u);
  EXPECT_EQ(handle->Write("abc", 3), 3);
  EXPECT_EQ(handle->Write("de", 2), 2);
  EXPECT_TRUE(handle->Eof());
  EXPECT_EQ(handle->Tell(), 0) << "the handle position does not move on write";
  delete handle;
  // New files are created under the key, which is upper-case.
  EXPECT_EQ(ReadFile(dir_.Join("NEW.BIN")), "abcde");
}

TEST_F(PlainBackendTest, AReadOnlyHandleDoesNotWrite) {
  WriteFile(dir_.Join("r.txt"), "keep");
  pkfs::CFSFile* handle = manager_.Open("r.txt", "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Write("xx", 2), 0);
  delete handle;
  EXPECT_EQ(ReadFile(dir_.Join("r.txt")), "keep");
}

TEST_F(PlainBackendTest, ReadAfterWriteOnAnUpdateStreamSeesTheBytes) {
  WriteFile(dir_.Join("u.bin"), "0123456789");
  pkfs::CFSFile* handle = manager_.Open("u.bin", "rb+");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Write("AB", 2), 2);  // at the stream's position after the window fill
  handle->Seek(0, 0);
  handle->cache->valid = false;
  char buffer[11] = {};
  EXPECT_EQ(handle->Read(buffer, 10), 10);
  delete handle;
  const std::string content = ReadFile(dir_.Join("u.bin"));
  EXPECT_EQ(content.size(), 12u);
  EXPECT_EQ(content.substr(10), "AB");
  EXPECT_EQ(std::string(buffer), "0123456789");
}

TEST_F(PlainBackendTest, AReadRightAfterAWriteContinuesWhereTheStreamStands) {
  std::string original(2000, 'o');
  for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<char>('a' + i % 26);
  WriteFile(dir_.Join("mid.bin"), original);
  pkfs::CFSFile* handle = manager_.Open("mid.bin", "rb+");
  ASSERT_NE(handle, nullptr);
  // The window fill left the stream at 1024; the write lands there.
  EXPECT_EQ(handle->Write("XY", 2), 2);
  handle->Seek(1026, 0);
  char buffer[4] = {};
  EXPECT_EQ(handle->Read(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer), original.substr(1026, 3));
  delete handle;
  std::string expected = original;
  expected.replace(1024, 2, "XY");
  EXPECT_EQ(ReadFile(dir_.Join("mid.bin")), expected);
}

TEST_F(PlainBackendTest, GetLastErrorAnswersWithAnEmptyText) {
  pkfs::CFS* fs = manager_.defaultFileSystem();
  std::string text = "previous";
  fs->Command("CFSGetLastError", text);
  EXPECT_EQ(text, "");
  text = "previous";
  fs->Command("CFSGetLastErrorX", text);
  fs->Command("CFSGetLastErro", text);
  fs->Command("cfsgetlasterror", text);
  EXPECT_EQ(text, "previous") << "only the exact 15-byte name answers";
}

TEST_F(PlainBackendTest, LooseFilesHaveNoVolumeOperations) {
  pkfs::CFS* fs = manager_.defaultFileSystem();
  EXPECT_FALSE(fs->Load("DATA.pak"));
  EXPECT_FALSE(fs->CreateVolume("DATA.pak"));
  EXPECT_FALSE(fs->RemoveFile("A"));
  EXPECT_EQ(fs->ReservedOp(nullptr), 0);
  fs->Release();
  EXPECT_EQ(manager_.defaultFileSystem(), fs) << "the default file system stays";
}

TEST_F(PlainBackendTest, DirectoriesAndMissingFilesDoNotOpen) {
  testing_support::MakeDirs(dir_.Join("sub"));
  EXPECT_EQ(manager_.Open("sub", "rb"), nullptr);
  EXPECT_EQ(manager_.Open("nothing.bin", "rb"), nullptr);
  EXPECT_EQ(manager_.defaultFileSystem()->OpenPlain(dir_.Join("nothing"), "rb"), nullptr);
  EXPECT_TRUE(manager_.openFiles().empty());
}

TEST_F(PlainBackendTest, ClosingAllHandlesClosesTheirStreams) {
  WriteFile(dir_.Join("a"), "a");
  WriteFile(dir_.Join("b"), "b");
  ASSERT_NE(manager_.Open("a", "rb"), nullptr);
  ASSERT_NE(manager_.Open("b", "ab"), nullptr);
  EXPECT_EQ(manager_.openFiles().size(), 2u);
  manager_.CloseAllFiles();
  EXPECT_TRUE(manager_.openFiles().empty());
}

}  // namespace
