// Helpers for the tests of marovetin-mkupdate: installations written from a
// description (loose files and a pack set made through the library with the
// updater's name rules), read back, and the programs run on them.
#ifndef MAROVETIN_TESTS_MKUPDATE_MKUPDATE_E2E_SUPPORT_H_
#define MAROVETIN_TESTS_MKUPDATE_MKUPDATE_E2E_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/ascii_case.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace mkupdate_e2e {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // path or stored name: bytes

struct InstallationSpec {
  Files loose;
  Files pack;  // an empty value is stored as a record the set drops
};

// A manager of its own for one set below root, quiet, with the updater's
// filter; filterId names a further rule ("dat" through that id) for tests of
// filters the tool does not know.
class TestSet {
 public:
  explicit TestSet(const std::string& root, bool create, std::uint16_t unknownFilter = 0)
      : manager_(root) {
    manager_.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    if (unknownFilter != 0)
      manager_.RegisterFilter(std::make_unique<pkfs::CFSFilter>(unknownFilter));
    manager_.SetOutputSink([](pkfs::OutputStream, const std::string&) {});
    auto owned = std::make_unique<pkfs::CPKFSF>(&manager_);
    set_ = owned.get();
    set_->SetSizeLimitForTesting(48 * 1024);  // a few entries fill a volume: sets chain
    const std::string first = root + "/DATA.pak";
    loaded_ = manager_.SetFileSystem(first, std::move(owned));
    if (!loaded_ && create) loaded_ = manager_.CreateVolume(first);
    set_->AddNameRule("txt", 0);
    set_->AddNameRule("xml", 0);
    if (unknownFilter != 0) set_->AddNameRule("dat", unknownFilter);
  }

  bool loaded() const { return loaded_; }

  void Add(const std::string& name, const std::string& bytes) {
    std::vector<unsigned char> data(bytes.begin(), bytes.end());
    ASSERT_TRUE(set_->AddFile(name, data.data(), static_cast<std::uint32_t>(data.size()))) << name;
  }

  // Every entry in force, decoded.
  Files Read() {
    Files entries;
    for (const auto& named : manager_.fileMap()) {
      if (named.second == nullptr || named.second->owner == nullptr) continue;
      pkfs::CFSFile* handle = manager_.OpenByKey(named.first, "rb");
      std::string bytes;
      char piece[4096];
      int got;
      while ((got = handle->Read(piece, sizeof piece)) > 0) bytes.append(piece, got);
      delete handle;
      entries[named.first] = bytes;
    }
    return entries;
  }

 private:
  pkfs::CFSManager manager_;
  pkfs::CPKFSF* set_ = nullptr;
  bool loaded_ = false;
};

inline void WriteInstallation(const std::string& root, const InstallationSpec& spec) {
  testing_support::MakeDirs(root);
  for (const auto& [path, bytes] : spec.loose) testing_support::WriteFile(root + "/" + path, bytes);
  if (spec.pack.empty()) return;
  TestSet set(root, true);
  ASSERT_TRUE(set.loaded());
  for (const auto& [name, bytes] : spec.pack) set.Add(name, bytes);
}

inline bool IsVolumeName(const std::string& path) {
  const std::string key = platform::LowerAscii(path);
  return key == "data.pak" ||
         (key.rfind("data", 0) == 0 && key.size() > 8 &&
          key.compare(key.size() - 4, 4, ".pak") == 0 && key.find('/') == std::string::npos);
}

// Every regular file below root but the pack volumes, by path.
inline Files ReadLoose(const std::string& root) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    if (!IsVolumeName(relative)) files[relative] = testing_support::ReadFile(entry.path().string());
  }
  return files;
}

inline Files ReadPack(const std::string& root) {
  if (!fs::exists(root + "/DATA.pak")) return {};
  TestSet set(root, false);
  EXPECT_TRUE(set.loaded()) << root;
  return set.Read();
}

// The files keyed by their names in lower case, as names meet where letter
// case does not count.
inline Files ByCaseKey(const Files& files) {
  Files keyed;
  for (const auto& [path, bytes] : files) keyed[platform::LowerAscii(path)] = bytes;
  return keyed;
}

inline testing_support::RunResult RunMkupdate(const std::vector<std::string>& arguments,
                                              const std::string& directory) {
  return testing_support::RunProgram(MKUPDATE_BINARY, arguments, directory);
}

// The names that standard error says are removed in NEW.
inline std::set<std::string> NamedRemoved(const std::string& err) {
  std::set<std::string> names;
  std::istringstream lines(err);
  const std::string head = "cannot be expressed: ";
  const std::string tail = " is removed in NEW";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(head, 0) == 0 && line.size() > head.size() + tail.size() &&
        line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
      names.insert(line.substr(head.size(), line.size() - head.size() - tail.size()));
    }
  }
  return names;
}

}  // namespace mkupdate_e2e

#endif  // MAROVETIN_TESTS_MKUPDATE_MKUPDATE_E2E_SUPPORT_H_
