// The I/O fault campaign: an update of fifty files (pack and loose, "-df", some
// into directories it must make, some replacing files that a chained volume
// stores) run by the built updater once per I/O call it makes, with that call
// failing: every call of each kind (write, read, sync, open, rename, link,
// remove, mkdir, rmdir, list, stat, chmod), first failing once with EIO, then
// failing from there on with ENOSPC (a full disk stays full), and then with
// the process killed there. After each run: the updater exited 0 or 1 (or
// was killed); every update file whose content is not in place still exists;
// nothing else in the installation changed but for whole new contents; the
// pack set loads; and a clean rerun completes the update to exactly the
// bytes of a run that saw no fault.
//
// Every fault point is tried when MAROVETIN_FAULT_CAMPAIGN=full (as CI runs
// it); otherwise every tenth one and the last of each kind, to keep the
// ordinary suite quick.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fault_plan.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::vector<std::string> kArguments = {"-sw", "update", "-df"};
constexpr char kMissing[] = "<missing>";

// One file the update delivers, with what the installation held before.
struct Delivery {
  std::string name;  // relative to the work path, "Pak/..." for pack files
  std::string content;
  std::string before;  // kMissing when the installation did not have it
  bool pack = false;
  std::string Installed() const { return pack ? name.substr(4) : name; }
};

class FaultCampaign : public ::testing::Test {
 protected:
  // The installation before the update: a pack set of three chained volumes
  // holding twelve files and six loose files; then the fifty deliveries below
  // update/. The set is laid by the library with a small volume size (the
  // updater alone chains volumes only past 1.5 GiB), so that the update
  // moves replaced files from later volumes into the first one: its commit
  // changes every volume, in two passes.
  void MakeTemplate() {
    const std::string install = root_.Join("template");
    MakeDirs(install + "/maps");
    MakeDirs(install + "/config");
    {
      update_e2e::SetWriter set(install, 20000);
      for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(set.Add(PackName(i), update_e2e::NoisyBytes(100 + 700 * i, i)));
      }
      ASSERT_EQ(set.volumes(), 3u);
    }
    for (int i = 0; i < 6; ++i) {
      WriteFile(install + "/" + LooseName(i), "loose file " + std::to_string(i) + " before");
    }

    for (int i = 4; i < 29; ++i) {  // 8 replace stored files, 17 are new
      Delivery pack{"Pak/" + PackName(i), update_e2e::NoisyBytes(1 + (i * 2311) % 40000, 100 + i),
                    kMissing, true};
      if (i < 12) pack.before = update_e2e::NoisyBytes(100 + 700 * i, i);
      deliveries_.push_back(pack);
    }
    for (int i = 0; i < 25; ++i) {  // 6 replace loose files, 19 are new
      Delivery loose{LooseName(i), "loose " + update_e2e::NoisyBytes(1 + (i * 977) % 9000, 300 + i),
                     kMissing, false};
      if (i < 6) loose.before = "loose file " + std::to_string(i) + " before";
      deliveries_.push_back(loose);
    }
    for (const Delivery& delivery : deliveries_) {
      WriteFile(install + "/update/" + delivery.name, delivery.content);
    }
    for (int i = 0; i < 4; ++i) {
      untouched_.emplace_back(PackName(i), update_e2e::NoisyBytes(100 + 700 * i, i));
    }
  }

  static std::string PackName(int i) {
    static const char* const kFolders[] = {"data", "sound", "maps/town", "ui"};
    return std::string(kFolders[i % 4]) + "/file" + std::to_string(i) + (i % 3 ? ".bin" : ".txt");
  }
  static std::string LooseName(int i) {
    const std::string file = "/loose" + std::to_string(i) + ".dat";
    // Some new files land in directories the installation does not have yet.
    if (i >= 6 && i % 5 == 0) return "textures/set" + std::to_string(i % 2) + file;
    return std::string(i % 2 ? "maps" : "config") + file;
  }

  RunResult Run(const std::string& install, const std::vector<std::string>& arguments,
                const std::string& plan = "") {
    std::vector<std::string> environment = {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName()};
    if (!plan.empty()) environment.push_back("MAROVETIN_FAULT_PLAN=" + plan);
    std::vector<std::string> all = arguments.empty() ? kArguments : arguments;
    // The plan needs the test build; reruns and the reference run use the
    // program as it ships.
    const std::string program = plan.empty() ? testing_support::MarovetinBinary()
                                              : testing_support::MarovetinUnderFaultsBinary();
    return testing_support::RunProgram(program, all, install, environment);
  }

  std::string Fresh(const std::string& name) {
    const std::string install = root_.Join(name);
    std::filesystem::remove_all(install);
    std::filesystem::copy(root_.Join("template"), install,
                          std::filesystem::copy_options::recursive);
    return install;
  }

  // The installation after a run that may have failed part-way. Returns the
  // number of update files left in place.
  int ExpectSound(const std::string& install, const std::string& why) {
    update_e2e::PackReader reader(install);
    EXPECT_TRUE(reader.loaded()) << why << ": the pack set does not load";
    int left = 0;
    for (const Delivery& delivery : deliveries_) {
      const bool sourceLeft = FileExists(install + "/update/" + delivery.name);
      left += sourceLeft ? 1 : 0;
      const std::string target = install + "/" + delivery.Installed();
      const std::string now = delivery.pack        ? reader.Read(delivery.Installed())
                              : FileExists(target) ? ReadFile(target)
                                                   : kMissing;
      if (!sourceLeft) {
        EXPECT_TRUE(now == delivery.content) << why << ": " << delivery.name << " was lost";
      } else {
        EXPECT_TRUE(now == delivery.content || now == delivery.before)
            << why << ": " << delivery.Installed() << " holds neither its old nor its new bytes";
      }
    }
    for (const auto& file : untouched_) {
      EXPECT_TRUE(reader.Read(file.first) == file.second)
          << why << ": " << file.first << " changed";
    }
    return left;
  }

  TempDir root_;
  std::vector<Delivery> deliveries_;
  std::vector<std::pair<std::string, std::string>> untouched_;  // stored files no update names
};

// Only the test build reads the plan: the program as it ships ignores the
// variable, however it is set, and neither fails nor reports.
TEST_F(FaultCampaign, TheShippedProgramIgnoresAFaultPlan) {
  ASSERT_NO_FATAL_FAILURE(MakeTemplate());
  const std::string install = Fresh("shipped");
  std::vector<std::string> environment = {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName(),
                                          "MAROVETIN_FAULT_PLAN=write:1+:EIO,sync:1:KILL"};
  const RunResult shipped =
      testing_support::RunProgram(testing_support::MarovetinBinary(), kArguments, install,
                                  environment);
  EXPECT_EQ(shipped.exitStatus, 0) << shipped.err;
  EXPECT_EQ(shipped.err.find("fault plan"), std::string::npos) << shipped.err;
  EXPECT_EQ(ExpectSound(install, "shipped program"), 0);
}

TEST_F(FaultCampaign, EveryFailedCallLeavesASoundInstallationThatARerunCompletes) {
#ifdef _WIN32
  GTEST_SKIP() << "the fault plan counts the POSIX layer's calls only";
#endif
  ASSERT_NO_FATAL_FAILURE(MakeTemplate());
  ASSERT_EQ(deliveries_.size(), 50u);

  const std::string clean = Fresh("clean");
  const RunResult counted = Run(clean, {}, "count");
  ASSERT_EQ(counted.exitStatus, 0) << counted.err;
  ASSERT_EQ(ExpectSound(clean, "clean run"), 0);
  std::map<std::string, long long> calls = testing_support::FaultPlanCounts(counted.err);
  ASSERT_GT(calls["write"], 0) << counted.err;
  calls.erase("failed");
  const char* campaign = std::getenv("MAROVETIN_FAULT_CAMPAIGN");
  const long long stride = campaign != nullptr && std::string(campaign) == "full" ? 1 : 10;
  int tried = 0;
  int fired = 0;
  int keptBack = 0;
  int kills = 0;
  std::map<std::string, int> triedByKind;
  for (const auto& kind : calls) {
    for (long long k = 1; k <= kind.second; ++k) {
      if ((k - 1) % stride != 0 && k != kind.second) continue;
      const std::string at = kind.first + ":" + std::to_string(k);
      // The process killed at the call, before it acts, is a run stopped
      // anywhere: the rerun must complete it.
      for (const std::string& plan : {at + ":EIO", at + "+:ENOSPC", at + ":KILL"}) {
        const bool kill = plan == at + ":KILL";
        const std::string install = Fresh("faulted");
        const RunResult faulted = Run(install, {}, plan);
        if (kill) {
          if (faulted.exitStatus == -1) {
            ++kills;
          } else {
            // The read-ahead's threads look at files a varying number of
            // times: a run that made fewer calls of the kind never met the
            // kill, and must have ended as a run without faults does.
            ASSERT_LT(testing_support::FaultPlanCounts(faulted.err)[kind.first], k)
                << plan << ": the run was not killed\n"
                << faulted.err;
            ASSERT_TRUE(faulted.exitStatus == 0 || faulted.exitStatus == 1) << faulted.err;
          }
          ExpectSound(install, plan);
        } else {
          ++tried;
          ++triedByKind[kind.first];
          fired += testing_support::FaultPlanCounts(faulted.err)["failed"] > 0 ? 1 : 0;
          ASSERT_TRUE(faulted.exitStatus == 0 || faulted.exitStatus == 1)
              << plan << ": exit " << faulted.exitStatus << "\n"
              << faulted.err;
          const int left = ExpectSound(install, plan);
          keptBack += left > 0 ? 1 : 0;
          EXPECT_EQ(left > 0, faulted.exitStatus == 1) << plan << ": files kept back vs. status";
        }

        const RunResult rerun = Run(install, {});
        ASSERT_EQ(rerun.exitStatus, 0) << plan << ": the clean rerun failed\n" << rerun.err;
        EXPECT_EQ(ExpectSound(install, plan + ", rerun"), 0);
        if (HasFailure()) return;
      }
    }
  }
  std::string byKind;
  for (const auto& kind : triedByKind) {
    byKind += (byKind.empty() ? "" : ", ") + kind.first + " " + std::to_string(kind.second);
  }
  std::printf(
      "fault campaign: %d fault points tried (%s; EIO once and ENOSPC onward, every %lld. "
      "call), %d injected, %d left files kept back; %d runs killed at those calls; "
      "0 files lost\n",
      tried, byKind.c_str(), stride, fired, keptBack, kills);
  RecordProperty("fault_points", tried);
}

}  // namespace
