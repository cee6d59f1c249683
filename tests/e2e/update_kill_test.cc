// An update killed at random moments: 1,500 delivered files, half for the
// pack and half loose, under "-df". After every kill each file is still
// either at its source or complete at its destination; a run to the end then
// leaves every file byte-exact in place and no source behind. And a run that
// creates DATA.pak killed at each of its first syncs: the next run completes.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fault_plan.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr int kFiles = 1500;

#ifndef _WIN32
// Starts the updater in directory with its output discarded; returns its pid.
pid_t StartUpdater(const std::string& directory, const std::vector<std::string>& arguments) {
  const std::string shm = "MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName();
  const std::string program = testing_support::MarovetinBinary();
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(directory.c_str()) != 0) _exit(127);
  int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, 1);
  ::dup2(null, 2);
  ::putenv(const_cast<char*>(shm.c_str()));
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  _exit(127);
}
#endif

class UpdateKillTest : public ::testing::Test {
 protected:
  std::string install() const { return root_.Join("install"); }

  // Relative names below the work path, and their content.
  std::map<std::string, std::string> Deliver() {
    std::map<std::string, std::string> files;
    for (int i = 0; i < kFiles; ++i) {
      const std::string dir = "d" + std::to_string(i % 20) + "/";
      const std::string name =
          i < kFiles / 2 ? "Pak/" + dir + "f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin")
                         : "data/" + dir + "f" + std::to_string(i) + ".bin";
      files[name] = update_e2e::NoisyBytes(64 + (i * 37) % 700, static_cast<unsigned>(i + 1));
      WriteFile(install() + "/update/" + name, files[name]);
      MakeDirs(install() + "/data/" + dir);
    }
    return files;
  }

  // Where each file is: its source untouched, or its destination complete.
  void ExpectNothingLost(const std::map<std::string, std::string>& files, bool sourcesGone) {
    // A volume appears whole or not at all: a run killed before it made
    // DATA.pak leaves none (and every pack file still at its source).
    const bool packMade = FileExists(install() + "/DATA.pak");
    update_e2e::PackReader pack(install());
    if (packMade || sourcesGone) {
      ASSERT_TRUE(pack.loaded());
    }
    for (const auto& file : files) {
      const std::string source = install() + "/update/" + file.first;
      const bool inPack = file.first.compare(0, 4, "Pak/") == 0;
      const std::string placed =
          inPack ? pack.Read(file.first.substr(4)) : ReadFile(install() + "/" + file.first);
      if (FileExists(source)) {
        EXPECT_FALSE(sourcesGone) << file.first;
        ASSERT_EQ(ReadFile(source), file.second) << file.first;
      } else {
        ASSERT_EQ(placed, file.second) << file.first << " lost";
      }
      if (sourcesGone) {
        ASSERT_EQ(placed, file.second) << file.first;
      }
    }
  }

  testing_support::TempDir root_;
};

TEST_F(UpdateKillTest, KilledRunsLoseNothingAndTheNextRunCompletes) {
#ifdef _WIN32
  GTEST_SKIP() << "starts and kills the updater with fork and SIGKILL";
#else
  const std::map<std::string, std::string> files = Deliver();
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<std::string> arguments = {"-df", "-sw", "update"};
  for (int kill = 0; kill < 4; ++kill) {
    const pid_t pid = StartUpdater(install(), arguments);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 900));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ExpectNothingLost(files, /*sourcesGone=*/false);
  }
  const testing_support::RunResult last = update_e2e::RunUpdater(install(), arguments);
  EXPECT_EQ(last.exitStatus, 0) << last.err;
  ExpectNothingLost(files, /*sourcesGone=*/true);
  EXPECT_FALSE(FileExists(install() + "/update"));
#endif
}

TEST_F(UpdateKillTest, AKillAtEachOfTheFirstSyncsOfARunThatCreatesThePackIsRecovered) {
#ifdef _WIN32
  GTEST_SKIP() << "a dozen runs of the updater cost too much under the emulator";
#else
  const std::vector<std::string> arguments = {"-df", "-sw", "update"};
  std::map<std::string, std::string> files;
  for (int i = 0; i < 8; ++i) {
    const std::string name = i < 6 ? "Pak/s" + std::to_string(i % 2) + "/p" + std::to_string(i) +
                                         (i % 3 == 0 ? ".txt" : ".bin")
                                   : "data/l" + std::to_string(i) + ".bin";
    files[name] = update_e2e::NoisyBytes(100 + 53 * i, static_cast<unsigned>(i + 40));
  }
  auto deliver = [&] {
    std::filesystem::remove_all(install());
    MakeDirs(install() + "/data");
    for (const auto& file : files) WriteFile(install() + "/update/" + file.first, file.second);
  };
  auto run = [&](const std::string& plan) {
    std::vector<std::string> environment = {"MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName()};
    if (!plan.empty()) environment.push_back("MAROVETIN_FAULT_PLAN=" + plan);
    const std::string program = plan.empty() ? testing_support::MarovetinBinary()
                                              : testing_support::MarovetinUnderFaultsBinary();
    return testing_support::RunProgram(program, arguments, install(), environment);
  };
  deliver();
  const testing_support::RunResult counted = run("count");
  ASSERT_EQ(counted.exitStatus, 0) << counted.err;
  const int syncs = static_cast<int>(testing_support::FaultPlanCounts(counted.err)["sync"]);
  ASSERT_GE(syncs, 3) << counted.err;
  const int kills = std::min(syncs, 10);
  std::cout << "a run that creates DATA.pak: " << syncs << " syncs, killed at each of the first "
            << kills << "\n";
  for (int kill = 1; kill <= kills; ++kill) {
    SCOPED_TRACE("killed at sync " + std::to_string(kill) + " of " + std::to_string(syncs));
    deliver();
    const testing_support::RunResult killed = run("sync:" + std::to_string(kill) + ":KILL");
    EXPECT_NE(killed.exitStatus, 0);
    if (FileExists(install() + "/DATA.pak")) {
      update_e2e::PackReader pack(install());
      EXPECT_TRUE(pack.loaded()) << "the set is left unloadable";
    }
    const testing_support::RunResult rerun = run("");
    EXPECT_EQ(rerun.exitStatus, 0) << rerun.err;
    ExpectNothingLost(files, /*sourcesGone=*/true);
    EXPECT_FALSE(FileExists(install() + "/update"));
    EXPECT_FALSE(FileExists(install() + "/DATA.pak.pkfs-new"));
  }
#endif
}

}  // namespace
