// The manager: start directory, name keys, the name map, filters, the file
// system in force, open handles and the emulated current directory.
#include "pkfs/fs_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_entry_store.h"
#include "pkfs/file_functions.h"
#include "pkfs/fs_file.h"
#include "platform/file_system.h"
#include "test_support.h"

namespace {

using pkfs_test::FakeEntryStore;
using testing_support::ScopedCurrentDirectory;
using testing_support::TempDir;

// Installs a fake store as the file system in force and returns it.
FakeEntryStore* Mount(pkfs::CFSManager& manager, std::vector<std::string>* events = nullptr) {
  auto store = std::make_unique<FakeEntryStore>(&manager, events);
  FakeEntryStore* raw = store.get();
  manager.SetFileSystem("DATA.pak", std::move(store));
  return raw;
}

TEST(FsManagerTest, StartDirectoryGivesCwdRootAndBaseDir) {
  pkfs::CFSManager windows("D:\\Apps\\Client");
  EXPECT_EQ(windows.cwd(), "\\Apps\\Client");
  EXPECT_EQ(windows.root(), "\\Apps\\Client");
  EXPECT_EQ(windows.baseDir(), "D:\\Apps\\Client/");
  EXPECT_EQ(windows.current(), nullptr);
  ASSERT_NE(windows.defaultFileSystem(), nullptr);

  pkfs::CFSManager posix("/tmp/x");
  EXPECT_EQ(posix.cwd(), "/tmp/x");
  EXPECT_EQ(posix.root(), "/tmp/x");
  EXPECT_EQ(posix.baseDir(), "/tmp/x/");
  EXPECT_EQ(pkfs::CFSManager("/").baseDir(), "/");
  EXPECT_EQ(pkfs::CFSManager("C:\\").baseDir(), "C:\\");
}

TEST(FsManagerTest, EveryFormOfANameMeetsUnderOneKey) {
  pkfs::CFSManager manager("D:\\Apps\\Client");
  FakeEntryStore* store = Mount(manager);
  pkfs::FileHead* head = store->AddEntry("DATA/SOUND.TXT", {1, 2, 3});
  manager.AddName(head);
  for (const char* name :
       {"data\\Sound.txt", "D:\\Apps\\Client\\DATA\\SOUND.TXT", "/Apps/Client/Data/sound.txt"}) {
    pkfs::CFSFile* handle = manager.Open(name, "rb");
    ASSERT_NE(handle, nullptr) << name;
    EXPECT_EQ(handle->entry, head) << name;
    EXPECT_EQ(handle->name, "DATA/SOUND.TXT");
    EXPECT_EQ(handle->owner, store);
    delete handle;
  }
  EXPECT_TRUE(manager.openFiles().empty());
}

TEST(FsManagerTest, PosixStartDirectoryIsCutOffTheKey) {
  pkfs::CFSManager manager("/tmp/x");
  FakeEntryStore* store = Mount(manager);
  pkfs::FileHead* head = store->AddEntry("DATA/SOUND.TXT", {1});
  manager.AddName(head);
  for (const char* name : {"data\\Sound.txt", "/tmp/x/DATA/sound.txt", "//tmp//x/data/SOUND.txt"}) {
    pkfs::CFSFile* handle = manager.Open(name, "rb");
    ASSERT_NE(handle, nullptr) << name;
    EXPECT_EQ(handle->entry, head) << name;
    delete handle;
  }
}

TEST(FsManagerTest, StartingAtARootCutsNothingOffTheKey) {
  for (const char* start : {"/", "C:\\", "D:"}) {
    pkfs::CFSManager manager(start);
    FakeEntryStore* store = Mount(manager);
    pkfs::FileHead* head = store->AddEntry("DATA/X", {1});
    manager.AddName(head);
    for (const char* name : {"data\\x", "/data/x"}) {
      pkfs::CFSFile* handle = manager.Open(name, "rb");
      ASSERT_NE(handle, nullptr) << start << " " << name;
      EXPECT_EQ(handle->entry, head) << start << " " << name;
      delete handle;
    }
  }
}

TEST(FsManagerTest, OpenSetsModeCallsTheOpenHookAndFillsTheWindow) {
  pkfs::CFSManager manager("/tmp/x");
  FakeEntryStore* store = Mount(manager);
  manager.AddName(store->AddEntry("A.BIN", {5, 6, 7}));
  pkfs::CFSFile* handle = manager.Open("a.bin", "ab+");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->mode, 15u);
  EXPECT_EQ(store->openedCalls, 1);
  EXPECT_EQ(store->lastOpenedMode, 15u);
  EXPECT_TRUE(handle->cache->valid);
  EXPECT_EQ(store->rawReads, 1);
  ASSERT_EQ(manager.openFiles().size(), 1u);
  EXPECT_EQ(manager.openFiles()[0], handle);
  delete handle;
  EXPECT_TRUE(manager.openFiles().empty());
}

TEST(FsManagerTest, OpenByKeySkipsModeHookAndWindow) {
  pkfs::CFSManager manager("/tmp/x");
  FakeEntryStore* store = Mount(manager);
  pkfs::FileHead* head = store->AddEntry("A.BIN", {5, 6, 7});
  manager.AddName(head);
  pkfs::CFSFile* handle = manager.OpenByKey("A.BIN", "rb");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->entry, head);
  EXPECT_EQ(handle->mode, 0u);
  EXPECT_EQ(store->openedCalls, 0);
  EXPECT_FALSE(handle->cache->valid);
  EXPECT_EQ(manager.openFiles().size(), 1u);
  delete handle;
}

TEST(FsManagerTest, ANameNoVolumeHoldsAndNoFileMatchesOpensNothing) {
  TempDir dir;
  pkfs::CFSManager manager(dir.path());
  EXPECT_EQ(manager.Open("missing.txt", "rb"), nullptr);
  EXPECT_EQ(manager.OpenByKey("MISSING.TXT", "rb"), nullptr);
  EXPECT_EQ(manager.Open("", "rb"), nullptr) << "the start directory itself is no file";
  EXPECT_TRUE(manager.openFiles().empty());
}

TEST(FsManagerTest, AddNameReplacesRemoveNameDropsFindNameLooksUp) {
  pkfs::CFSManager manager("/tmp/x");
  pkfs::FileHead first, second, other;
  first.name = second.name = "A/B.TXT";
  other.name = "C";
  manager.AddName(&first);
  manager.AddName(&other);
  manager.AddName(&second);
  EXPECT_EQ(manager.FindName("A/B.TXT"), &second);
  EXPECT_EQ(manager.fileMap().size(), 2u);
  manager.RemoveName(&first);  // whatever head the name has goes
  EXPECT_EQ(manager.FindName("A/B.TXT"), nullptr);
  manager.RemoveName(&first);
  EXPECT_EQ(manager.FindName("C"), &other);
  EXPECT_EQ(manager.FindName("c"), nullptr) << "keys are exact";
}

class TrackedFilter : public pkfs::CFSFilter {
 public:
  TrackedFilter(std::uint32_t filterId, bool* destroyed)
      : CFSFilter(filterId), destroyed_(destroyed) {}
  ~TrackedFilter() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST(FsManagerTest, ASecondFilterWithTheSameIdReplacesTheFirst) {
  pkfs::CFSManager manager("/tmp/x");
  bool firstGone = false, secondGone = false, otherGone = false;
  manager.RegisterFilter(std::make_unique<TrackedFilter>(0, &firstGone));
  manager.RegisterFilter(std::make_unique<TrackedFilter>(5, &otherGone));
  auto second = std::make_unique<TrackedFilter>(0, &secondGone);
  pkfs::CFSFilter* secondRaw = second.get();
  manager.RegisterFilter(std::move(second));
  EXPECT_TRUE(firstGone);
  EXPECT_FALSE(secondGone);
  EXPECT_EQ(manager.FindInPlaceFilter(0), secondRaw);
  EXPECT_NE(manager.FindInPlaceFilter(5), nullptr);
  EXPECT_EQ(manager.FindInPlaceFilter(1), nullptr);
  EXPECT_EQ(manager.FindResizingFilter(0), nullptr) << "nothing registers a resizing filter";
  manager.RegisterFilter(nullptr);
  EXPECT_EQ(manager.FindInPlaceFilter(0), secondRaw);
}

TEST(FsManagerTest, SetFileSystemReleasesDropsNamesAndLoads) {
  pkfs::CFSManager manager("/tmp/x");
  std::vector<std::string> events;
  FakeEntryStore* first = Mount(manager, &events);
  EXPECT_EQ(manager.current(), first);
  EXPECT_EQ(events, (std::vector<std::string>{"load DATA.pak"}));
  manager.AddName(first->AddEntry("A", {1, 2}));
  pkfs::CFSFile* handle = manager.Open("a", "rb");
  ASSERT_NE(handle, nullptr);

  events.clear();
  auto second = std::make_unique<FakeEntryStore>(&manager, &events);
  second->loadResult = false;
  EXPECT_FALSE(manager.SetFileSystem("OTHER.pak", std::move(second)));
  // The old file system's handles are closed before it goes.
  EXPECT_EQ(events,
            (std::vector<std::string>{"close A", "released", "destroyed", "load OTHER.pak"}));
  EXPECT_TRUE(manager.fileMap().empty());
  EXPECT_TRUE(manager.openFiles().empty());

  EXPECT_FALSE(manager.SetFileSystem("X", nullptr));
  EXPECT_EQ(manager.current(), manager.defaultFileSystem());
  EXPECT_FALSE(manager.CreateVolume("X")) << "loose files have no volumes";
}

TEST(FsManagerTest, DestructionClosesHandlesBeforeReleasingTheFileSystem) {
  std::vector<std::string> events;
  {
    pkfs::CFSManager manager("/tmp/x");
    FakeEntryStore* store = Mount(manager, &events);
    manager.AddName(store->AddEntry("A", {1}));
    manager.AddName(store->AddEntry("B", {2}));
    ASSERT_NE(manager.Open("a", "rb"), nullptr);
    ASSERT_NE(manager.Open("b", "rb"), nullptr);
    events.clear();
  }
  EXPECT_EQ(events, (std::vector<std::string>{"close A", "close B", "released", "destroyed"}));
}

TEST(FsManagerTest, ForgetFileDropsOnlyTheFirstOccurrence) {
  pkfs::CFSManager manager("/tmp/x");
  FakeEntryStore* store = Mount(manager);
  pkfs::FileHead* head = store->AddEntry("A", {1});
  auto a = store->MakeHandle(head);
  auto b = store->MakeHandle(head);
  manager.TrackFile(a.get());
  manager.TrackFile(b.get());
  manager.TrackFile(a.get());
  manager.ForgetFile(a.get());
  EXPECT_EQ(manager.openFiles(), (std::vector<pkfs::CFSFile*>{b.get(), a.get()}));
  manager.ForgetFile(a.get());
  manager.ForgetFile(b.get());
  EXPECT_TRUE(manager.openFiles().empty());
}

TEST(FsManagerTest, ChangeDirectoryClimbsSlashLevelsOnly) {
  TempDir dir;
  ScopedCurrentDirectory keep(dir.path());
  pkfs::CFSManager manager("D:\\Apps\\Client");
  char buffer[64];
  // The start directory holds no "/", so ".." has no level to climb.
  EXPECT_EQ(manager.ChangeDirectory("..\\Other"), 0);
  EXPECT_EQ(manager.cwd(), "\\Apps\\Client/../Other");
  EXPECT_EQ(manager.ChangeDirectory("/Apps/Client"), 0);
  EXPECT_EQ(manager.ChangeDirectory("..\\Other"), 0);
  EXPECT_EQ(manager.cwd(), "/Apps/Other");
  EXPECT_STREQ(manager.GetDirectory(buffer, sizeof buffer), "/Apps/Other");
  EXPECT_EQ(manager.ChangeDirectory("E:\\Games"), 0);
  EXPECT_EQ(manager.cwd(), "E:/Games");
  EXPECT_EQ(manager.ChangeDirectory(""), 0);
  EXPECT_EQ(manager.cwd(), "E:/Games");
  EXPECT_EQ(manager.ChangeDirectory("sub"), 0);
  EXPECT_EQ(manager.cwd(), "E:/Games/sub");
}

TEST(FsManagerTest, ChangeDirectoryMovesTheProcessToo) {
#ifdef _WIN32
  GTEST_SKIP() << "compares drive-less POSIX path forms";
#else
  TempDir dir;
  testing_support::MakeDirs(dir.Join("a"));
  testing_support::MakeDirs(dir.Join("Other"));
  ScopedCurrentDirectory keep(dir.Join("a"));
  pkfs::CFSManager manager(dir.Join("a"));
  manager.ChangeDirectory("..\\other");
  EXPECT_EQ(manager.cwd(), dir.Join("other"));
  EXPECT_EQ(platform::GetCurrentDirectory(), dir.Join("Other"));
#endif
}

TEST(FsManagerTest, GetDirectoryAlwaysTerminatesAndStaysInTheBuffer) {
  pkfs::CFSManager manager("/Apps/Client");
  char area[8];
  std::memset(area, '#', sizeof area);
  EXPECT_EQ(manager.GetDirectory(area + 1, 5), area + 1);
  EXPECT_EQ(std::string(area, 8), std::string("#/App\0##", 8));
  EXPECT_EQ(manager.GetDirectory(area + 1, 0), area + 1);
  EXPECT_EQ(manager.GetDirectory(nullptr, 5), nullptr);
}

TEST(FsManagerTest, GlobalSetFileSystemSwitchesToThePackTable) {
  TempDir dir;
  pkfs::CFSManager& manager = pkfs::TheManager();
  manager.ResetForTesting(dir.path());
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::plainFunctions);
  EXPECT_FALSE(pkfs::SetFileSystem("DATA.pak", nullptr));
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::packFunctions);
  EXPECT_EQ(manager.current(), manager.defaultFileSystem());
  manager.ResetForTesting(dir.path());
  EXPECT_EQ(*pkfs::currentFunctions, &pkfs::plainFunctions);
  EXPECT_EQ(manager.current(), nullptr);
}

}  // namespace
