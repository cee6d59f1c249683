#include "fault_env.h"
#include "platform/env.h"
#include "platform/file_system.h"
#include "random_access_file_system.h"
#include "system_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file_identity.h"
#include "platform/random_access_file.h"
#include "platform/status.h"
#include "platform/unnamed_file.h"
#include "test_support.h"

namespace {

using platform::DirectoryEntry;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;
using testing_support::WriteFile;

std::vector<std::string> Names(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::string> names;
  for (const DirectoryEntry& e : entries) names.push_back(e.name + (e.isDirectory ? "/" : ""));
  return names;
}

TEST(ResolvePathTest, TranslatesBackslashesAndKeepsExactPaths) {
  TempDir dir;
  WriteFile(dir.Join("sub/a.txt"), "x");
  EXPECT_EQ(platform::ResolvePath(dir.path() + "\\sub\\a.txt"), dir.Join("sub/a.txt"));
  EXPECT_EQ(platform::ResolvePath(""), "");
  // A path that does not exist at all keeps its given names.
  EXPECT_EQ(platform::ResolvePath(dir.path() + "\\New\\File.TXT"), dir.Join("New/File.TXT"));
}

TEST(ResolvePathTest, MatchesComponentsIgnoringCase) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows matches names itself: paths reach it as written";
#else
  TempDir dir;
  WriteFile(dir.Join("Data/Sub/File.Txt"), "x");
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/DATA/sub/FILE.TXT"),
            dir.Join("Data/Sub/File.Txt"));
  // A new file below existing directories: directories resolved, name as given.
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/data/SUB/New.bin"), dir.Join("Data/Sub/New.bin"));
  // Relative paths resolve against the current directory.
  ScopedCurrentDirectory cwd(dir.path());
  EXPECT_EQ(platform::ResolvePath("data\\sub\\file.txt"), "Data/Sub/File.Txt");
  EXPECT_EQ(platform::ResolvePath("./DATA//sub/"), "./Data//Sub/");
#endif
}

TEST(ResolvePathTest, AmbiguousMatchIsNotSubstituted) {
  TempDir dir;
  WriteFile(dir.Join("Readme"), "1");
  WriteFile(dir.Join("README"), "2");
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/readme"), dir.Join("readme"));
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/README"), dir.Join("README"));
}

TEST(FileSystemTest, OpenFileThroughResolution) {
  TempDir dir;
  WriteFile(dir.Join("Pak/Sub/A.TXT"), "hello");
  std::FILE* f = platform::OpenFile(dir.path() + "\\pak\\sub\\a.txt", "rb");
  ASSERT_NE(f, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, f), 5u);
  EXPECT_EQ(std::string(buffer), "hello");
  std::fclose(f);
  // Creating under a resolved directory keeps the given file name.
  f = platform::OpenFile(dir.path() + "/PAK/sub/New.dat", "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(dir.Join("Pak/Sub/New.dat")));
  // A directory does not open as a file, as on Windows.
  EXPECT_EQ(platform::OpenFile(dir.Join("Pak"), "rb"), nullptr);
  EXPECT_EQ(platform::OpenFile(dir.Join("missing"), "rb"), nullptr);

  // Opened to read with its stamp: the stamp the path had, from the open
  // file itself; a directory or a missing file leaves the stamp alone.
  platform::FileStamp stamp;
  f = platform::OpenFileToRead(dir.path() + "/pak/SUB/a.txt", &stamp);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(stamp == platform::Env::Default()->StampOf(dir.Join("Pak/Sub/A.TXT")));
  std::setvbuf(f, nullptr, _IONBF, 0);
  EXPECT_EQ(platform::ReadSomeFromFile(f, buffer, sizeof buffer), 5);
  EXPECT_EQ(platform::ReadSomeFromFile(f, buffer, sizeof buffer), 0);
  std::fclose(f);
  for (const char* refused : {"Pak", "missing"}) {
    platform::FileStamp untouched;
    errno = 0;
    EXPECT_EQ(platform::OpenFileToRead(dir.Join(refused), &untouched), nullptr) << refused;
    EXPECT_EQ(errno, std::string(refused) == "Pak" ? EISDIR : ENOENT) << refused;
    EXPECT_FALSE(untouched.exists) << refused;
  }
}

TEST(FileSystemTest, PredicatesAndDirectoryCalls) {
  TempDir dir;
  WriteFile(dir.Join("f"), "x");
  EXPECT_TRUE(platform::PathExists(dir.Join("F")));
  EXPECT_TRUE(platform::IsReadableFile(dir.Join("f")));
  EXPECT_FALSE(platform::IsReadableFile(dir.path()));
  EXPECT_TRUE(platform::IsDirectory(dir.path()));
  EXPECT_FALSE(platform::IsDirectory(dir.Join("f")));
  EXPECT_TRUE(platform::CreateDirectory(dir.Join("d")));
  EXPECT_FALSE(platform::CreateDirectory(dir.Join("d")));
  EXPECT_FALSE(platform::CreateDirectory(dir.Join("x/y")));  // parent missing
  EXPECT_FALSE(platform::DeleteFile(dir.Join("d")));         // not a file
  WriteFile(dir.Join("d/g"), "y");
  EXPECT_FALSE(platform::RemoveDirectory(dir.Join("d")));  // not empty
  EXPECT_TRUE(platform::RenameFile(dir.Join("d/g"), dir.Join("f")));
  EXPECT_EQ(ReadFile(dir.Join("f")), "y");
  EXPECT_TRUE(platform::RemoveDirectory(dir.Join("D")));
  EXPECT_TRUE(platform::DeleteFile(dir.Join("F")));
  EXPECT_FALSE(FileExists(dir.Join("f")));
  EXPECT_FALSE(platform::DeleteFile(dir.Join("f")));
}

TEST(FileSystemTest, SetAttributesNormalGivesOwnerWrite) {
  TempDir dir;
  WriteFile(dir.Join("ro.txt"), "x");
  ASSERT_EQ(::chmod(dir.Join("ro.txt").c_str(), 0444), 0);
  EXPECT_TRUE(platform::SetAttributesNormal(dir.Join("RO.TXT")));
  struct stat st;
  ASSERT_EQ(::stat(dir.Join("ro.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  EXPECT_FALSE(platform::SetAttributesNormal(dir.Join("missing.txt")));
  EXPECT_FALSE(FileExists(dir.Join("missing.txt")));
}

TEST(ListDirectoryTest, SortedIgnoringCaseWithoutDotEntries) {
  TempDir dir;
  WriteFile(dir.Join("b.txt"), "");
  WriteFile(dir.Join("A.txt"), "");
  WriteFile(dir.Join("a.txt"), "");
  WriteFile(dir.Join("C/x"), "");
  WriteFile(dir.Join(".hidden"), "");
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(dir.path(), &entries));
#ifdef _WIN32
  // Names that differ only in case are one file there.
  EXPECT_EQ(Names(entries), (std::vector<std::string>{".hidden", "A.txt", "b.txt", "C/"}));
#else
  EXPECT_EQ(Names(entries), (std::vector<std::string>{".hidden", "A.txt", "a.txt", "b.txt", "C/"}));
#endif
  EXPECT_FALSE(platform::ListDirectory(dir.Join("missing"), &entries));
  EXPECT_TRUE(entries.empty());
}

TEST(ListDirectoryTest, LinksToDirectoriesAreLeftOut) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows";
#else
  TempDir dir;
  WriteFile(dir.Join("tree/real/f"), "");
  WriteFile(dir.Join("target.txt"), "t");
  ASSERT_EQ(::symlink(dir.path().c_str(), dir.Join("tree/loop").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Join("target.txt").c_str(), dir.Join("tree/file-link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Join("nowhere").c_str(), dir.Join("tree/dangling").c_str()), 0);
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(dir.path() + "\\TREE", &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"file-link", "real/"}));
#endif
}

TEST(ListDirectoryTest, OnlyFilesAndDirectoriesThatCanBeNamed) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no pipes in directories and no \\\\ in names";
#else
  TempDir dir;
  WriteFile(dir.Join("plain"), "");
  WriteFile(dir.Join("back\\slash"), "");  // one name on Linux; two levels to this layer
  ASSERT_EQ(::mkfifo(dir.Join("pipe").c_str(), 0600), 0);
  std::vector<DirectoryEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(dir.path(), &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"plain"}));
#endif
}

TEST(ListTreeAsIsTest, ReportsWhatTheSortedListingLeavesOut) {
  TempDir dir;
  WriteFile(dir.Join("a.txt"), "a");
  WriteFile(dir.Join(".hidden/b.txt"), "b");
#ifndef _WIN32  // no pipes, no "\\" within a name, and links need privileges
  WriteFile(dir.Join("odd\\name/c.txt"), "c");
  ASSERT_EQ(::symlink(".hidden", dir.Join("link").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.Join("pipe").c_str(), 0600), 0);
#endif
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeAsIs(dir.path(), &entries);
  using Kind = platform::TreeEntry::Kind;
  std::vector<std::pair<std::string, Kind>> seen;
  for (const auto& e : entries) seen.emplace_back(e.path, e.kind);
#ifdef _WIN32
  const std::vector<std::pair<std::string, Kind>> expected = {
      {".hidden", Kind::kDirectory}, {".hidden/b.txt", Kind::kFile}, {"a.txt", Kind::kFile}};
#else
  const std::vector<std::pair<std::string, Kind>> expected = {
      {".hidden", Kind::kDirectory},   {".hidden/b.txt", Kind::kFile},
      {"a.txt", Kind::kFile},          {"link", Kind::kOther},
      {"odd\\name", Kind::kDirectory}, {"odd\\name/c.txt", Kind::kFile},
      {"pipe", Kind::kOther}};
#endif
  EXPECT_EQ(seen, expected);
  platform::ListTreeAsIs(dir.Join("missing"), &entries);
  EXPECT_TRUE(entries.empty());
}

TEST(FileIdentityTest, CanonicalPathAndPermissionsOfAReplacement) {
  TempDir dir;
  WriteFile(dir.Join("Sub/File.txt"), "x");
  WriteFile(dir.Join("new.txt"), "y");
  const std::string canonical = platform::CanonicalPath(dir.path());
  EXPECT_EQ(platform::CanonicalPath(dir.path() + "\\sub\\.\\..\\SUB\\file.TXT"),
            canonical + "/Sub/File.txt");
  EXPECT_EQ(platform::CanonicalPath(dir.Join("missing")), "");
  namespace fs = std::filesystem;
  // Read-only (on Windows: the read-only attribute): the bits are copied as
  // they are; on Windows the copy may be written, so that it can be replaced.
  fs::permissions(dir.Join("Sub/File.txt"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_TRUE(platform::CopyPermissions(dir.Join("Sub/File.txt"), dir.Join("new.txt")));
  const fs::perms copied = fs::status(dir.Join("new.txt")).permissions();
#ifdef _WIN32
  EXPECT_NE(copied & fs::perms::owner_write, fs::perms::none);
#else
  EXPECT_EQ(copied & fs::perms::all, static_cast<fs::perms>(0500));
#endif
  EXPECT_FALSE(platform::CopyPermissions(dir.Join("missing"), dir.Join("new.txt")));
}

TEST(ResolvePathTest, DotComponentsAndAbsolutePaths) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows matches names itself: paths reach it as written";
#else
  TempDir dir;
  WriteFile(dir.Join("One/Two/f.TXT"), "x");
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/one/./two/../TWO/F.txt"),
            dir.Join("One/./Two/../Two/f.TXT"));
  EXPECT_TRUE(platform::IsReadableFile(dir.path() + "\\ONE\\two\\f.txt"));
  // Below a level that matches nothing, later levels are not looked up.
  EXPECT_EQ(platform::ResolvePath(dir.path() + "/none/ONE"), dir.Join("none/ONE"));
#endif
}

TEST(FileSystemTest, CurrentDirectoryRoundTrip) {
  TempDir dir;
  MakeDirs(dir.Join("Work"));
  std::string before = platform::GetCurrentDirectory();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(platform::SetCurrentDirectory(dir.path() + "\\work"));
  char buffer[4096];
  ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
  EXPECT_EQ(platform::GetCurrentDirectory(), std::string(buffer));
  ASSERT_TRUE(platform::SetCurrentDirectory(before));
  EXPECT_FALSE(platform::SetCurrentDirectory(dir.Join("missing")));
}

}  // namespace

namespace {

// Syncs succeed on what exists and name the path and the reason otherwise.
TEST(FileSyncTest, SyncsReportTheFileAndTheReason) {
  TempDir dir;
  WriteFile(dir.Join("f"), "x");
  EXPECT_TRUE(platform::SyncDirectory(dir.path()).ok());
  EXPECT_TRUE(platform::SyncFileSystemOf(dir.Join("f")).ok());
  auto file = platform::internal::SystemFile::Open(dir.Join("f"),
                                                  platform::RandomAccessFile::Mode::kReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->Sync().ok());

  platform::Status missing = platform::SyncDirectory(dir.Join("gone"));
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), ENOENT);
  EXPECT_EQ(missing.ToString(), dir.Join("gone") + ": No such file or directory");
  EXPECT_EQ(platform::SyncDirectory(dir.Join("f")).error(), ENOTDIR);
}

TEST(StatusTest, ReasonPrefersTheMessageThenErrno) {
  EXPECT_EQ(platform::Status::Ok().ToString(), "OK");
  EXPECT_EQ(platform::Status::FromErrno(ENOSPC, "DATA.pak").ToString(),
            "DATA.pak: No space left on device");
  platform::Status corrupt =
      platform::Status::Error(platform::Status::Code::kCorrupt, "Data1.pak", "not a pack volume");
  EXPECT_EQ(corrupt.code(), platform::Status::Code::kCorrupt);
  EXPECT_EQ(corrupt.Reason(), "not a pack volume");
  EXPECT_EQ(corrupt.ToString(), "Data1.pak: not a pack volume");
}

}  // namespace

TEST(NameMatchCacheTest, ListingsFollowTheLayersOwnChangesAndSeeOthers) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows matches names itself: there is no listing to keep";
#else
  TempDir dir;
  const std::string d = dir.path();
  platform::NameMatchCacheScope scope;
  platform::NameMatchCacheScope nested;
  // A missing name: the directory's listing is read once and kept.
  EXPECT_EQ(platform::ResolvePath(d + "/A.TXT"), d + "/A.TXT");
  // Each change through the layer is seen at once, though the listing is
  // not read again.
  std::FILE* created = platform::OpenFile(d + "/a.txt", "wb");
  ASSERT_NE(created, nullptr);
  std::fclose(created);
  EXPECT_EQ(platform::ResolvePath(d + "/A.TXT"), d + "/a.txt");
  ASSERT_TRUE(platform::RenameFile(d + "/A.TXT", d + "/b.txt"));
  EXPECT_EQ(platform::ResolvePath(d + "/A.TXT"), d + "/A.TXT");
  EXPECT_EQ(platform::ResolvePath(d + "/B.TXT"), d + "/b.txt");
  ASSERT_TRUE(platform::DeleteFile(d + "/B.TXT"));
  EXPECT_EQ(platform::ResolvePath(d + "/B.TXT"), d + "/B.TXT");
  ASSERT_TRUE(platform::CreateDirectory(d + "/Sub"));
  EXPECT_EQ(platform::ResolvePath(d + "/SUB/new.bin"), d + "/Sub/new.bin");
  ASSERT_TRUE(platform::RemoveDirectory(d + "/sub"));
  EXPECT_EQ(platform::ResolvePath(d + "/SUB/new.bin"), d + "/SUB/new.bin");
  // Changes made behind the layer's back move the directory's times: it is
  // read again. (Apart by more than one tick of the file system's clock.)
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  WriteFile(d + "/c.txt", "c");
  EXPECT_EQ(platform::ResolvePath(d + "/C.TXT"), d + "/c.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  WriteFile(d + "/C.txt", "C");
  EXPECT_EQ(platform::ResolvePath(d + "/c.TXT"), d + "/c.TXT");  // two match: as given
#endif
}

namespace {

TEST(UnnamedFileTest, NotWrittenWhereNoneCanBeOrUnderAWatchingEnv) {
  TempDir dir;
  EXPECT_EQ(platform::UnnamedFile::Write(dir.Join("missing"), nullptr, 0), nullptr);
  const unsigned char bytes[] = {1, 2, 3};
  // A fault Env counts and decides writes in their order: a file written
  // ahead on another thread must not take one of its turns.
  testing_support::FaultEnv faults;
  std::unique_ptr<platform::UnnamedFile> file;
  EXPECT_EQ(faults.WriteUnnamedFile(dir.path(), bytes, sizeof bytes, &file).code(),
            platform::Status::Code::kInvalid);
  EXPECT_EQ(file, nullptr);
  const platform::Status written =
      platform::Env::Default()->WriteUnnamedFile(dir.path(), bytes, sizeof bytes, &file);
#ifdef _WIN32
  EXPECT_FALSE(written.ok());
  EXPECT_EQ(file, nullptr);
#else
  ASSERT_TRUE(written.ok());
  ASSERT_NE(file, nullptr);
  WriteFile(dir.Join("taken"), "x");
  errno = 0;
  EXPECT_FALSE(file->Name(dir.Join("taken")));
  EXPECT_EQ(errno, EEXIST);
  ASSERT_TRUE(file->Name(dir.Join("named")));
  EXPECT_EQ(ReadFile(dir.Join("named")), std::string("\x01\x02\x03", 3));
#endif
}

}  // namespace
