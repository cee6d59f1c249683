// compact stopped at every write (refused, or torn part-way with every later
// write refused, as on a machine that stopped) and before every step of its
// switch-over: the set loads afterwards with exactly the files it had, and
// its first volume is byte for byte the old one or the finished new one.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../pkfs/pack_fixture.h"
#include "pkfstool/compact.h"
#include "pkfstool/set_scan.h"
#include "platform/file_system.h"
#include "power_loss.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

using Files = std::map<std::string, std::pair<std::uint32_t, Bytes>>;  // name -> flags, content

class CompactCrashTest : public PackFixture {
 protected:
  CompactCrashTest() {
    filtered_ = true;  // as the updater and the tool store sets
    rules_ = {"txt"};
  }

  // Three volumes with gaps, a replaced file and filtered ones.
  void BuildSet() {
    sizeLimit_ = 3000;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(Mount());
    ASSERT_TRUE(Add("a.bin", Pattern(900, 1)));
    ASSERT_TRUE(Add("b.txt", Pattern(1200, 2)));
    ASSERT_TRUE(Add("c.bin", Pattern(1500, 3)));
    ASSERT_TRUE(Add("d.txt", Pattern(2000, 4)));
    ASSERT_TRUE(Add("a.bin", Pattern(300, 5)));
    ASSERT_TRUE(Add("e.txt", Pattern(40, 6)));
    ASSERT_TRUE(fs_->RemoveFile("B.TXT"));
    ASSERT_EQ(fs_->archives().size(), 3u);
    testing::internal::GetCapturedStdout();
    Stop();
  }


  // What the set holds after a fresh load: every name with flags and content.
  Files Reloaded() {
    testing::internal::CaptureStdout();
    const bool loaded = Mount("DATA.pak", /*create=*/false);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loaded);
    Files files;
    for (const auto& entry : manager_->fileMap()) {
      files[entry.first] = {entry.second->flags, StoredContent(entry.first)};
    }
    Stop();
    return files;
  }

  platform::Status Compact(const std::function<bool(const std::string&)>& beforeStep = nullptr,
                           platform::Env* env = nullptr) {
    pkfstool::CompactOptions options;
    options.env = env != nullptr ? env : env_;
    options.volumeSizeLimit = 2500;
    options.beforeStep = beforeStep;
    return pkfstool::CompactSet("DATA.pak", options, nullptr);
  }
};

// Counts writes; from the stop-th on, the first is cut as decided and every
// later one is refused.
class StoppedMachine {
 public:
  StoppedMachine(testing_support::FaultEnv& env, int stop,
                 testing_support::WriteDecision::Kind kind, double share)
      : env_(env) {
    env_.onWrite = [=](const std::string&, std::uint64_t, std::size_t length) {
      ++writes_;
      testing_support::WriteDecision decision;
      if (stop <= 0 || writes_ < stop) return decision;
      decision.kind = writes_ == stop ? kind : testing_support::WriteDecision::kFail;
      decision.tearAfter = static_cast<std::size_t>(static_cast<double>(length) * share);
      return decision;
    };
  }
  ~StoppedMachine() { env_.onWrite = nullptr; }
  int writes() const { return writes_; }

 private:
  testing_support::FaultEnv& env_;
  int writes_ = 0;
};

TEST_F(CompactCrashTest, EveryStopLeavesTheOldSetOrTheNewOne) {
  BuildSet();
  const Volumes initial = SaveVolumes();
  const Files before = Reloaded();
  ASSERT_EQ(before.size(), 4u);

  // The full run, for its writes, its steps and the new set it leaves.
  int writes = 0;
  std::vector<std::string> steps;
  {
    StoppedMachine counter(faults_, 0, testing_support::WriteDecision::kProceed, 0);
    ASSERT_TRUE(Compact([&steps](const std::string& step) {
                  steps.push_back(step);
                  return true;
                }).ok());
    writes = counter.writes();
  }
  const Volumes compacted = SaveVolumes();
  EXPECT_EQ(Reloaded(), before);
  auto total = [](const Volumes& volumes) {
    std::size_t bytes = 0;
    for (const auto& volume : volumes) bytes += volume.second.size();
    return bytes;
  };
  EXPECT_LT(total(compacted), total(initial));
  EXPECT_EQ(compacted.count("Data1.pak") + compacted.count("Data2.pak"), 0u);
  ASSERT_GT(writes, 3);
  ASSERT_EQ(steps.size(), 3u);  // the rename, then the two old later volumes go

  const struct {
    testing_support::WriteDecision::Kind kind;
    double share;
  } cuts[] = {{testing_support::WriteDecision::kFail, 0},
              {testing_support::WriteDecision::kTear, 0.5},
              {testing_support::WriteDecision::kTear, 0.95}};
  for (int stop = 1; stop <= writes; ++stop) {
    for (const auto& cut : cuts) {
      RestoreVolumes(initial);
      {
        StoppedMachine machine(faults_, stop, cut.kind, cut.share);
        EXPECT_FALSE(Compact().ok()) << "write " << stop;
      }
      EXPECT_EQ(Disk("DATA.pak"), initial.at("DATA.pak")) << "write " << stop;
      EXPECT_EQ(Reloaded(), before) << "write " << stop << ", cut " << cut.kind;
    }
  }
  for (std::size_t stopAt = 0; stopAt < steps.size(); ++stopAt) {
    RestoreVolumes(initial);
    std::size_t step = 0;
    EXPECT_FALSE(Compact([&](const std::string&) { return step++ != stopAt; }).ok());
    const std::string first = Disk("DATA.pak");
    EXPECT_TRUE(first == initial.at("DATA.pak") || first == compacted.at("DATA.pak"))
        << steps[stopAt];
    EXPECT_EQ(first == compacted.at("DATA.pak"), stopAt > 0) << steps[stopAt];
    EXPECT_EQ(Reloaded(), before) << "stopped before " << steps[stopAt];
    pkfs::CFSManager filters(dir_.path());
    filters.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    EXPECT_TRUE(pkfstool::ScanSet("DATA.pak", filters).Sound()) << steps[stopAt];
  }
}

// A power failure at each sync of a compaction, with the unsynced writes
// kept, dropped or torn by sector in several ways: the old set or the new.
TEST_F(CompactCrashTest, APowerLossAtEverySyncLeavesTheOldSetOrTheNewOne) {
  BuildSet();
  const Volumes initial = SaveVolumes();
  const Files before = Reloaded();
  int syncs = 0;
  {
    testing_support::PowerLossEnv counter;
    ASSERT_TRUE(Compact(nullptr, &counter).ok());
    syncs = counter.syncs();
  }
  const Volumes compacted = SaveVolumes();
  ASSERT_GT(syncs, 2);
  for (int stop = 1; stop <= syncs; ++stop) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
      RestoreVolumes(initial);
      {
        testing_support::PowerLossEnv disk;
        disk.StopAtSync(stop);
        Compact(nullptr, &disk);
        disk.Crash(seed);
      }
      const std::string first = Disk("DATA.pak");
      EXPECT_TRUE(first == initial.at("DATA.pak") || first == compacted.at("DATA.pak"))
          << "power lost at sync " << stop << ", seed " << seed;
      EXPECT_EQ(Reloaded(), before) << "power lost at sync " << stop << ", seed " << seed;
    }
  }
}

}  // namespace
}  // namespace pkfs_test
