// The pkfs tool's changes stopped at every sync and every write, each stop
// looked at as a killed process and as several power losses leave it: "pkfs
// add" making a new set, and one batch that moves files between two existing
// volumes (a copy from the second volume into a gap of the first, another
// from the first into the second). In every state the set is absent (when
// there was none) or loads and every name reads its old bytes or its new
// ones; the same command run again then ends with every file byte-exact and
// no scratch volume left.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "../pkfs/pack_fixture.h"
#include "crash_points.h"
#include "pkfstool/commands.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/store_tree.h"
#include "volume_creation.h"

namespace pkfs_test {
namespace {

using Files = std::map<std::string, Bytes>;  // stored key -> bytes
const Bytes kAbsent = BytesOf("<absent>");

class SetCrashTest : public PackFixture {
 protected:
  SetCrashTest() { filtered_ = true; }

  // What the set holds, read afresh; false when it does not load.
  bool Stored(Files* files) {
    testing::internal::CaptureStdout();
    const bool loaded = Mount("DATA.pak", /*create=*/false);
    testing::internal::GetCapturedStdout();
    files->clear();
    if (loaded) *files = Snapshot();
    Stop();
    return loaded;
  }

  // A sound state: the set loads (or is absent when there was none), each
  // name old or new, and after the recovery every name new and no scratch
  // volume beside the set.
  bool Sound(const std::string& label, const Files& before, const Files& after,
             const std::function<bool()>& recover) {
    std::string problems;
    Files found;
    if (!Stored(&found) && (!before.empty() || platform::PathExists(dir_.Join("DATA.pak")))) {
      problems = "the set does not load; ";
    }
    Files names = before;
    names.insert(after.begin(), after.end());
    for (const auto& entry : names) {
      if (!problems.empty()) break;
      const auto now = found.find(entry.first);
      const Bytes& is = now == found.end() ? kAbsent : now->second;
      const auto old = before.find(entry.first);
      if (is != after.at(entry.first) && is != (old == before.end() ? kAbsent : old->second)) {
        problems += entry.first + " reads bytes neither old nor new; ";
      }
    }
    if (problems.empty() && !recover()) problems = "the recovery failed; ";
    if (problems.empty() && (!Stored(&found) || found != after)) {
      problems = "the recovery did not end byte-exact:";
      for (const auto& entry : found) {
        const auto expected = after.find(entry.first);
        if (expected == after.end() || expected->second != entry.second)
          problems += " " + entry.first;
      }
      for (const auto& entry : after) {
        if (found.count(entry.first) == 0) problems += " no " + entry.first;
      }
      problems += "; ";
    }
    if (problems.empty() && platform::PathExists(pkfs::VolumeScratchPath(dir_.Join("DATA.pak")))) {
      problems = "a scratch volume is left; ";
    }
    if (problems.empty()) return true;
    ADD_FAILURE() << label << ": " << problems;
    return false;
  }

  void Report(const char* scenario, const testing_support::CrashTally& tally) {
    std::cout << scenario << ": " << tally.Summary() << "\n";
    EXPECT_GT(tally.points, 0);
    EXPECT_EQ(tally.broken, 0);
  }
};

TEST_F(SetCrashTest, AddMakingANewSet) {
  const Files delivered = {{"A.BIN", Pattern(400, 1)},
                           {"SUB/B.TXT", Pattern(900, 2)},
                           {"C.BIN", Pattern(60, 3)}};
  for (const auto& file : std::map<std::string, std::string>{
           {"src/a.bin", "A.BIN"}, {"src/sub/b.txt", "SUB/B.TXT"}, {"src/c.bin", "C.BIN"}}) {
    const Bytes& bytes = delivered.at(file.second);
    testing_support::WriteFile(dir_.Join(file.first), std::string(bytes.begin(), bytes.end()));
  }
  auto add = [](platform::Env* env) {
    const char* argv[] = {"pkfs", "add", "DATA.pak", "-C", "src", "."};
    testing::internal::CaptureStderr();
    const int status = pkfstool::RunTool(6, argv, env);
    testing::internal::GetCapturedStderr();
    return status == 0;
  };
  const testing_support::CrashTally tally = testing_support::TryEveryCrashPoint(
      dir_.path(), [&](platform::Env* env) { add(env); },
      [&](const std::string& label) {
        return Sound(label, {}, delivered, [&] { return add(platform::Env::Default()); });
      });
  Report("pkfs add of a new set", tally);
}

TEST_F(SetCrashTest, ABatchThatMovesFilesBetweenTwoExistingVolumes) {
  sizeLimit_ = 4000;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount());
  ASSERT_TRUE(Add("a.bin", Pattern(1500, 1)));
  ASSERT_TRUE(Add("b.bin", Pattern(1500, 2)));
  ASSERT_TRUE(Add("c.bin", Pattern(1200, 3)));
  ASSERT_TRUE(Add("d.bin", Pattern(600, 4)));
  ASSERT_EQ(fs_->archives().size(), 2u);
  ASSERT_TRUE(fs_->RemoveFile("A.BIN"));  // a gap in the first volume
  testing::internal::GetCapturedStdout();
  Files before;
  ASSERT_TRUE(Stored(&before));

  // c moves from the second volume into the first one's gap; b grows past
  // the first one's room and moves to the second.
  const Files changed = {{"C.BIN", Pattern(1000, 5)}, {"B.BIN", Pattern(1700, 6)}};
  std::vector<pkfstool::SourceFile> sources;
  for (const auto& file : changed) {
    testing_support::WriteFile(dir_.Join("src/" + file.first),
                               std::string(file.second.begin(), file.second.end()));
    sources.push_back({dir_.Join("src/" + file.first), file.first});
  }
  Files after = before;
  for (const auto& file : changed) after[file.first] = file.second;
  auto store = [&](platform::Env* env) {
    pkfstool::PackSet set(env);
    if (!set.OpenForWriting("DATA.pak").ok()) return false;
    set.fileSystem().SetSizeLimitForTesting(sizeLimit_);
    std::vector<std::string> failures;
    pkfstool::StoreTree(set.fileSystem(), sources, nullptr, &failures);
    return failures.empty();
  };
  const testing_support::CrashTally tally = testing_support::TryEveryCrashPoint(
      dir_.path(), [&](platform::Env* env) { store(env); },
      [&](const std::string& label) {
        return Sound(label, before, after, [&] { return store(platform::Env::Default()); });
      });
  Report("a batch that moves files between two existing volumes", tally);

  // The batch is what its name says.
  ASSERT_TRUE(store(platform::Env::Default()));
  testing::internal::CaptureStdout();
  ASSERT_TRUE(Mount("DATA.pak", false));
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(fs_->archives().size(), 2u);
  EXPECT_EQ(manager_->FindName("C.BIN")->owner, fs_->archives()[0].get());
  EXPECT_EQ(manager_->FindName("B.BIN")->owner, fs_->archives()[1].get());
}

}  // namespace
}  // namespace pkfs_test
