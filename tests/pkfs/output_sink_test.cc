// The library's own lines go through its manager's sink: the default sink
// writes them to standard output and error as they always were; with a sink
// installed nothing of them reaches either descriptor.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "lock_holder.h"
#include "pack_fixture.h"
#include "platform/random_access_file.h"

namespace pkfs_test {
namespace {

using Line = std::pair<pkfs::OutputStream, std::string>;

class OutputSinkTest : public PackFixture {
 protected:
  // DATA.pak with one file and a damaged checksum (a warning at every load),
  // and a sound SOUND.pak beside it.
  void WriteWarnedVolume() {
    WriteVolume(dir_.Join("DATA.pak"), {Head("AB", 16, 8)}, Pattern(8, 1), true);
    std::string file = Disk("DATA.pak");
    file[file.size() - 8] ^= 0x01;  // the trailer's checksum word
    testing_support::WriteFile(dir_.Join("DATA.pak"), file);
    WriteVolume(dir_.Join("SOUND.pak"), {Head("AB", 16, 8)}, Pattern(8, 1), true);
  }

  // Loads the warned set (with the sink, when given, installed first), which
  // refuses a store, then the sound one, which takes it; says what reached
  // descriptors 1 and 2.
  std::pair<std::string, std::string> Run(pkfs::OutputSink sink) {
    Stop();
    manager_ = std::make_unique<pkfs::CFSManager>(dir_.path());
    if (sink) manager_->SetOutputSink(std::move(sink));
    auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
    fs_ = owned.get();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(manager_->SetFileSystem("DATA.pak", std::move(owned)));
    EXPECT_FALSE(Add("new", Pattern(4, 2)));
    owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
    fs_ = owned.get();
    EXPECT_TRUE(manager_->SetFileSystem("SOUND.pak", std::move(owned)));
    EXPECT_TRUE(Add("new", Pattern(4, 2)));
    std::string err = testing::internal::GetCapturedStderr();
    return {testing::internal::GetCapturedStdout(), err};
  }
};

TEST_F(OutputSinkTest, DefaultSinkPrintsAsBeforeAndAnInstalledSinkTakesEverything) {
  WriteWarnedVolume();
  const auto [out, err] = Run(nullptr);
  const std::string warning =
      "DATA.pak: directory checksum does not match; the volume is read, but the set is not "
      "written\n";
  EXPECT_EQ(err, warning);
  const std::string load = "Load DATA.pak to Pkfs\nLoad SOUND.pak to Pkfs\n";
  ASSERT_EQ(out.compare(0, load.size(), load), 0) << out;
  // The add's "Cost Time" line follows, with the volume, the name and the place.
  EXPECT_NE(out.find(" AddFileFromBuffer SOUND.pak:NEW Leak StartPos = ", load.size()),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(" Cost Time is "), std::string::npos);

  WriteWarnedVolume();
  std::vector<Line> lines;
  const auto [quietOut, quietErr] =
      Run([&lines](pkfs::OutputStream stream, const std::string& text) {
        lines.emplace_back(stream, text);
      });
  EXPECT_EQ(quietOut, "");
  EXPECT_EQ(quietErr, "");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], Line(pkfs::OutputStream::kError, warning));
  EXPECT_EQ(lines[1].second + lines[2].second, load);
  EXPECT_EQ(lines[2].first, pkfs::OutputStream::kOutput);
  lines.erase(lines.begin() + 1);
  // The same line as the first run's but for its clock (a run may cross a
  // second, or take a millisecond longer).
  const auto withoutClock = [](const std::string& text) {
    static const std::regex clock("[0-9]+/[0-9]+/[0-9]+ [0-9]+:[0-9]+:[0-9]+ |Cost Time is [0-9]+");
    return std::regex_replace(text, clock, "");
  };
  EXPECT_EQ(withoutClock(lines[2].second),
            withoutClock(out.substr(load.size())).substr(0, withoutClock(lines[2].second).size()));
}

// The wait for a volume that another process holds is said once, to the
// error side of the sink.
TEST_F(OutputSinkTest, TheWaitForAHeldVolumeGoesToTheSink) {
  WriteVolume(dir_.Join("DATA.pak"), {Head("AB", 16, 8)}, Pattern(8, 1), true);
  testing_support::ForeignLockHolder holder(dir_.Join("DATA.pak"));
  ASSERT_TRUE(holder.held());

  manager_ = std::make_unique<pkfs::CFSManager>(dir_.path());
  std::vector<Line> lines;
  manager_->SetOutputSink([&lines](pkfs::OutputStream stream, const std::string& text) {
    lines.emplace_back(stream, text);
  });
  auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
  fs_ = owned.get();
  fs_->SetLockTimeout(200);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(manager_->SetFileSystem("DATA.pak", std::move(owned)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Line(pkfs::OutputStream::kError,
                           "Waiting for DATA.pak: another process has it open\n"));
}

}  // namespace
}  // namespace pkfs_test
