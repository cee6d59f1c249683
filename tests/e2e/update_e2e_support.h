// Helpers for the end-to-end update tests: payload encoding as the options
// expect it, running the built updater in an installation, and reading the
// installation's pack volumes back through the library.
#ifndef MAROVETIN_TESTS_E2E_UPDATE_E2E_SUPPORT_H_
#define MAROVETIN_TESTS_E2E_UPDATE_E2E_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "pack_archive.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "test_support.h"

namespace update_e2e {

// Every file and directory below root with its bytes (directories as
// "<dir>", symbolic links as "<link TARGET>", not followed), keyed by the path
// relative to root with "/" between levels on every system.
inline std::map<std::string, std::string> TreeSnapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    if (entry.is_symlink()) {
      tree[relative] = "<link " + fs::read_symlink(entry.path()).string() + ">";
    } else {
      tree[relative] =
          entry.is_directory() ? "<dir>" : testing_support::ReadFile(entry.path().string());
    }
  }
  return tree;
}

// The pack library's lines carry the wall-clock time and the milliseconds
// an operation took; without them two runs' output must match.
inline std::string StripClock(const std::string& out) {
  static const std::regex clock("[0-9]+/[0-9]+/[0-9]+ [0-9]+:[0-9]+:[0-9]+ |Cost Time is [0-9]+");
  return std::regex_replace(out, clock, "");
}

inline std::string Invert(std::string bytes) {
  for (char& c : bytes) c = static_cast<char>(~static_cast<unsigned char>(c));
  return bytes;
}

using testing_support::Bzip2;

// Bytes of varied content that bzip2 cannot shrink much.
inline std::string NoisyBytes(std::size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

// A name for the shared block that no other test uses.
inline std::string UniqueShmName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string("marovetin-e2e-") + std::to_string(::getpid()) + "-" +
         info->test_suite_name() + "-" + info->name();
}

inline testing_support::RunResult RunUpdater(const std::string& installation,
                                             const std::vector<std::string>& arguments) {
  return testing_support::RunProgram(testing_support::MarovetinBinary(), arguments, installation,
                                     {"MAROVETIN_SHM_NAME=" + UniqueShmName()});
}

// An installation at install() in a fresh directory, with its update
// delivered below update(), for tests that run the built updater in it.
class InstallationTest : public ::testing::Test {
 public:
  InstallationTest() { testing_support::MakeDirs(install()); }
  std::string install() const { return root_.Join("install"); }
  std::string update() const { return install() + "/update"; }
  std::string In(const std::string& relative) const { return install() + "/" + relative; }
  std::string Delivered(const std::string& relative) const { return update() + "/" + relative; }
  testing_support::RunResult Run(const std::vector<std::string>& arguments) const {
    return RunUpdater(install(), arguments);
  }
  static bool Says(const testing_support::RunResult& r, const std::string& text) {
    return r.err.find(text) != std::string::npos;
  }

 protected:
  testing_support::TempDir root_;
};

// Mounts the installation's pack volumes in this process as the updater does,
// for the object's lifetime.
class PackReader {
 public:
  explicit PackReader(const std::string& installation)
      : cwd_(installation), installation_(installation) {
    pkfs::CFSManager& manager = pkfs::TheManager();
    manager.ResetForTesting(installation);
    auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
    fileSystem_ = owned.get();
    manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    testing::internal::CaptureStdout();  // the load prints a line per volume
    loaded_ = pkfs::SetFileSystem("DATA.pak", std::move(owned));
    testing::internal::GetCapturedStdout();
  }
  ~PackReader() { pkfs::TheManager().ResetForTesting(installation_); }

  bool loaded() const { return loaded_; }

  // Every stored head with this name, over all volumes.
  std::vector<const pkfs::FileHead*> Heads(const std::string& name) const {
    std::vector<const pkfs::FileHead*> found;
    for (const auto& volume : fileSystem_->archives()) {
      for (const auto& head : volume->heads()) {
        if (head->name == name) found.push_back(head.get());
      }
    }
    return found;
  }

  std::size_t FileCount() const {
    std::size_t count = 0;
    for (const auto& volume : fileSystem_->archives()) count += volume->heads().size();
    return count;
  }

  // The stored bytes as they lie in the volume.
  std::string Raw(const pkfs::FileHead& head) const {
    std::string bytes(head.size, '\0');
    if (head.size != 0) head.owner->ReadBuffer(&bytes[0], head.start, head.size);
    return bytes;
  }

  // The file as the library serves it (decoded); "<missing>" when not stored.
  std::string Read(const std::string& name) const {
    pkfs::CFSFile* handle = pkfs::TheManager().Open(name, "rb");
    if (handle == nullptr) return "<missing>";
    std::string bytes;
    char chunk[4096];
    int got;
    while ((got = handle->Read(chunk, sizeof chunk)) > 0) bytes.append(chunk, got);
    delete handle;
    return bytes;
  }

 private:
  testing_support::ScopedCurrentDirectory cwd_;
  std::string installation_;
  pkfs::CPKFSF* fileSystem_ = nullptr;
  bool loaded_ = false;
};

// Lays a pack set at directory/DATA.pak through the library as the updater
// writes one (its directory filter, its "txt" and "xml" rules), with volumes
// of at most sizeLimit bytes, so that a test gets a chained set that the
// updater alone grows only past 1.5 GiB. Holds the set for its lifetime.
class SetWriter {
 public:
  SetWriter(const std::string& directory, std::uint32_t sizeLimit) : manager_(directory) {
    manager_.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    auto owned = std::make_unique<pkfs::CPKFSF>(&manager_);
    fileSystem_ = owned.get();
    fileSystem_->SetSizeLimitForTesting(sizeLimit);
    fileSystem_->AddNameRule("txt", 0);
    fileSystem_->AddNameRule("xml", 0);
    testing::internal::CaptureStdout();  // the load and the stores print
    const std::string first = directory + "/DATA.pak";
    if (!manager_.SetFileSystem(first, std::move(owned))) manager_.CreateVolume(first);
  }
  ~SetWriter() { testing::internal::GetCapturedStdout(); }

  bool Add(const std::string& name, std::string data) {
    return fileSystem_->AddFile(name, reinterpret_cast<unsigned char*>(&data[0]),
                                static_cast<std::uint32_t>(data.size()));
  }
  std::size_t volumes() const { return fileSystem_->archives().size(); }

 private:
  pkfs::CFSManager manager_;
  pkfs::CPKFSF* fileSystem_ = nullptr;
};

}  // namespace update_e2e

#endif  // MAROVETIN_TESTS_E2E_UPDATE_E2E_SUPPORT_H_
