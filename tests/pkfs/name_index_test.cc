// The name index against an ordered map, and the look-ups of a loaded
// directory through it: every letter case, a scrambled directory, and the
// repeated names of a damaged table.
#include "pkfs/name_index.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pack_fixture.h"
#include "pkfs/fs_file.h"

namespace pkfs_test {
namespace {

TEST(NameIndexTest, BehavesLikeAnOrderedMapThroughGrowthAndRemovals) {
  // Heads live as long as the test; the index only points at them.
  std::deque<pkfs::FileHead> heads;
  std::map<std::string, pkfs::FileHead*> model;
  pkfs::NameIndex index;
  std::mt19937 random(26);
  // Few distinct names, so that puts replace and removals hit; short ones
  // collide in the table's low bits and wrap around its end.
  auto someName = [&random] {
    std::string name = "N" + std::to_string(random() % 3000);
    if (random() % 4 == 0) name += "/LONGER/PATH/TO/A/FILE.TXT";
    return name;
  };
  for (int step = 0; step < 40000; ++step) {
    const std::string name = someName();
    switch (random() % 4) {
      case 0: {
        heads.emplace_back();
        heads.back().name = name;
        pkfs::FileHead* head = &heads.back();
        auto found = model.find(name);
        ASSERT_EQ(index.Put(head), found == model.end() ? nullptr : found->second);
        model[name] = head;
        break;
      }
      case 1: {
        heads.emplace_back();
        heads.back().name = name;
        pkfs::FileHead* head = &heads.back();
        auto inserted = model.emplace(name, head);
        ASSERT_EQ(index.PutIfAbsent(head), inserted.first->second);
        break;
      }
      case 2: {
        auto found = model.find(name);
        ASSERT_EQ(index.Remove(name), found == model.end() ? nullptr : found->second);
        if (found != model.end()) model.erase(found);
        break;
      }
      default: {
        auto found = model.find(name);
        ASSERT_EQ(index.Find(name), found == model.end() ? nullptr : found->second) << name;
      }
    }
    ASSERT_EQ(index.size(), model.size());
  }
  // Iteration yields every entry once.
  std::map<std::string, pkfs::FileHead*> listed;
  for (const auto& entry : index) {
    EXPECT_TRUE(listed.emplace(entry.first, entry.second).second) << entry.first;
    EXPECT_EQ(entry.second->name, entry.first);
  }
  EXPECT_EQ(listed, model);
  for (const auto& entry : model) EXPECT_EQ(index.Remove(entry.first), entry.second);
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.begin(), index.end());
  EXPECT_EQ(index.Find("N1"), nullptr);
}

class LoadedNamesTest : public PackFixture {};

TEST_F(LoadedNamesTest, EveryLetterCaseFindsTheStoredFileInAScrambledDirectory) {
  filtered_ = true;
  rules_ = {"txt", "xml"};
  const std::vector<std::string> stored = {"Data/Sound.txt", "data\\MAP\\level1.xml",
                                           "bin/tool.exe", "Solo.TXT"};
  ASSERT_TRUE(Mount());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    ASSERT_TRUE(Add(stored[i], Pattern(100 + i, static_cast<unsigned>(i))));
  }
  ASSERT_TRUE(Mount("DATA.pak", false));  // the directory is read back from disk
  // The directory on disk is scrambled: no stored name shows in it plainly.
  const std::string disk = Disk("DATA.pak");
  EXPECT_EQ(disk.find("SOUND"), std::string::npos);
  EXPECT_EQ(disk.find("PACK"), std::string::npos);

  const std::vector<std::vector<std::string>> spellings = {
      {"Data/Sound.txt", "DATA/SOUND.TXT", "data/sound.txt", "dAtA\\sOuNd.TxT", "data//Sound.txt"},
      {"data/map/level1.xml", "DATA\\MAP\\LEVEL1.XML", "Data/Map/Level1.Xml"},
      {"bin/tool.exe", "BIN/TOOL.EXE", "Bin\\Tool.Exe"},
      {"solo.txt", "SOLO.TXT", "sOLO.txt"}};
  for (std::size_t i = 0; i < spellings.size(); ++i) {
    for (const std::string& spelling : spellings[i]) {
      std::unique_ptr<pkfs::CFSFile> handle(manager_->Open(spelling, "rb"));
      ASSERT_NE(handle, nullptr) << spelling;
      Bytes content(200);
      content.resize(static_cast<std::size_t>(handle->Read(content.data(), 200)));
      EXPECT_EQ(content, Pattern(100 + i, static_cast<unsigned>(i))) << spelling;
    }
  }
  // Within a volume names are exact bytes: the stored form only.
  pkfs::PackArchive* volume = fs_->primary();
  EXPECT_NE(volume->FindHead("DATA/SOUND.TXT"), nullptr);
  EXPECT_EQ(volume->FindHead("Data/Sound.txt"), nullptr);
  EXPECT_EQ(manager_->fileMap().size(), 4u);
  EXPECT_EQ(manager_->FindName("DATA/SOUND"), nullptr);
}

TEST_F(LoadedNamesTest, RepeatedNamesOfADamagedTableResolveAsTheyAlwaysDid) {
  // Another program wrote one name three times and a second in two cases;
  // each record has its own region.
  const Bytes data = Pattern(20, 3);
  WriteVolume(dir_.Join("DATA.pak"),
              {Head("THRICE", 16, 4), Head("OTHER", 20, 4), Head("THRICE", 24, 4),
               Head("THRICE", 28, 4), Head("Mixed", 32, 2), Head("MIXED", 34, 2)},
              data, true);
  ASSERT_TRUE(Mount("DATA.pak", false));
  pkfs::PackArchive* volume = fs_->primary();
  ASSERT_EQ(volume->heads().size(), 6u);
  // The volume keeps the first record of a name, the set the last one
  // registered; names that differ in case are two names.
  EXPECT_EQ(volume->FindHead("THRICE")->start, 16u);
  EXPECT_EQ(manager_->FindName("THRICE")->start, 28u);
  EXPECT_EQ(volume->FindHead("Mixed")->start, 32u);
  EXPECT_EQ(volume->FindHead("MIXED")->start, 34u);
  EXPECT_EQ(manager_->FindName("MIXED")->start, 34u);
  EXPECT_EQ(manager_->fileMap().size(), 4u);  // THRICE, OTHER, Mixed, MIXED
  std::unique_ptr<pkfs::CFSFile> handle(manager_->Open("mixed", "rb"));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->entry->start, 34u);

  // Removing the name takes every record of it, and nothing else.
  handle.reset();
  EXPECT_TRUE(fs_->RemoveFile("THRICE"));
  EXPECT_EQ(volume->FindHead("THRICE"), nullptr);
  EXPECT_EQ(manager_->FindName("THRICE"), nullptr);
  EXPECT_EQ(volume->heads().size(), 3u);
  EXPECT_EQ(volume->FindHead("OTHER")->start, 20u);
  ExpectListsMatchRebuild();
  ASSERT_TRUE(Mount("DATA.pak", false));
  EXPECT_EQ(fs_->primary()->heads().size(), 3u);
  EXPECT_EQ(manager_->FindName("THRICE"), nullptr);
}

TEST_F(LoadedNamesTest, ASetOpenedForReadingResolvesEveryNameAsALoadedOneAndBuildsHeadsWhenAsked) {
  // Repeated names within a volume and across the two volumes of a chain.
  const Bytes data = Pattern(24, 5);
  WriteVolume(dir_.Join("DATA.pak"),
              {Head("THRICE", 16, 4), Head("OTHER", 20, 4), Head("THRICE", 24, 4),
               Head("BOTH", 28, 4), Head("THRICE", 32, 4), Head("EMPTY", 36, 0)},
              data, true, "Data1.pak");
  WriteVolume(dir_.Join("Data1.pak"),
              {Head("BOTH", 16, 8), Head("LATE", 24, 8), Head("LATE", 32, 4)}, data, true);
  const std::vector<std::string> names = {"THRICE", "OTHER", "BOTH", "LATE", "EMPTY", "NONE"};
  // Where each name resolves in the set, and in each volume, once loaded whole.
  const auto resolve = [this, &names] {
    std::vector<std::string> found;
    for (const std::string& name : names) {
      const pkfs::FileHead* head = manager_->FindName(name);
      found.push_back(head == nullptr ? "-"
                                      : head->owner->name() + ":" + std::to_string(head->start));
      for (const auto& volume : fs_->archives()) {
        const pkfs::FileHead* held = volume->FindHead(name);
        found.push_back(held == nullptr ? "-" : std::to_string(held->start));
      }
    }
    return found;
  };
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  const std::vector<std::string> loaded = resolve();
  // Per name: the set's head (the last registered), then each volume's (its first).
  EXPECT_EQ(loaded, (std::vector<std::string>{"DATA.pak:32", "16", "-",         // THRICE
                                              "DATA.pak:20", "20", "-",         // OTHER
                                              "Data1.pak:16", "28", "16",       // BOTH
                                              "Data1.pak:32", "-", "24",        // LATE
                                              "-", "-", "-", "-", "-", "-"}));  // EMPTY, NONE

  readOnly_ = true;
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(fs_->archives().size(), 2u);
  for (const auto& volume : fs_->archives()) EXPECT_TRUE(volume->headsPending());
  EXPECT_EQ(resolve(), loaded);
  // Looked up before the heads are built, the same heads after.
  pkfs::FileHead* both = manager_->FindName("BOTH");
  pkfs::FileHead* firstThrice = fs_->primary()->FindHead("THRICE");
  EXPECT_EQ(manager_->fileMap().size(), 4u);  // builds them all
  for (const auto& volume : fs_->archives()) EXPECT_FALSE(volume->headsPending());
  EXPECT_EQ(manager_->FindName("BOTH"), both);
  EXPECT_EQ(fs_->primary()->FindHead("THRICE"), firstThrice);
  EXPECT_EQ(fs_->primary()->heads().size(), 5u);  // the empty record is dropped
  EXPECT_EQ(resolve(), loaded);
  std::unique_ptr<pkfs::CFSFile> handle(manager_->Open("late", "rb"));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->entry->start, 32u);
  handle.reset();

  // Many look-ups build and index the heads rather than read every record
  // for each.
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  for (int i = 0; i < 12; ++i) EXPECT_EQ(manager_->FindName("LATE")->start, 32u);
  EXPECT_FALSE(fs_->primary()->headsPending());
}

}  // namespace
}  // namespace pkfs_test
