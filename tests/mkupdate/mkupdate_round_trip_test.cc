// The update that marovetin-mkupdate makes from two random installations,
// applied by the real updater to a copy of the older one, must give the
// newer one: every loose file and pack entry byte for byte, with the files
// that no update can remove exactly those it named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "mkupdate_e2e_support.h"

namespace {

using namespace mkupdate_e2e;
using testing_support::TempDir;

struct Scenario {
  InstallationSpec oldSide;
  InstallationSpec newSide;
  std::set<std::string> removed;  // loose paths and "Pak/" + stored names
};

class ScenarioMaker {
 public:
  explicit ScenarioMaker(unsigned seed) : random_(seed), seed_(seed) {}

  Scenario Make() {
    Scenario s;
    MakeLoose(s);
    MakePack(s);
    return s;
  }

 private:
  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }

  std::string Bytes(std::size_t size) {
    return update_e2e::NoisyBytes(size, seed_ * 7919 + ++made_);
  }

  std::string RandomBytes() {
    switch (Pick(6)) {
      case 0:
        return std::string();
      case 1:
        return Bytes(1 + Pick(64));
      case 2:
        return std::string(1 + Pick(9000), static_cast<char>('a' + Pick(26)));
      default:
        return Bytes(1 + Pick(5000));
    }
  }

  // Other bytes, half the time of the same size.
  std::string Changed(const std::string& bytes) {
    if (!bytes.empty() && Pick(2) == 0) {
      std::string same = bytes;
      same[Pick(static_cast<unsigned>(same.size()))] ^= 0x5A;
      return same;
    }
    return RandomBytes() + "!";
  }

  static std::string SwapCase(std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
      else if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  }

  void MakeLoose(Scenario& s) {
    const char* dirs[] = {"", "Maps/", "Maps/Town/", "config/", "sound/fx/", "UpdateSetting/"};
    const char* exts[] = {".txt", ".xml", ".dat", ".map", ".TXT", ""};
    const unsigned count = 14 + Pick(8);
    for (unsigned i = 0; i < count; ++i) {
      const std::string path = std::string(dirs[Pick(6)]) + "f" + std::to_string(i) + exts[Pick(6)];
      const std::string bytes = RandomBytes();
      s.oldSide.loose[path] = bytes;
      switch (Pick(10)) {
        case 0:
        case 1:
        case 2:
        case 3:  // unchanged
          s.newSide.loose[path] = bytes;
          break;
        case 4:
        case 5:
          s.newSide.loose[path] = Changed(bytes);
          break;
        case 6:
          s.removed.insert(path);
          break;
        case 7: {  // NEW spells the file's name in other letters
          const std::size_t slash = path.rfind('/') + 1;
          s.newSide.loose[path.substr(0, slash) + SwapCase(path.substr(slash))] =
              Pick(2) == 0 ? bytes : Changed(bytes);
          break;
        }
        case 8: {  // moved into the pack
          s.removed.insert(path);
          std::string name = path;
          for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
          s.newSide.pack["MOVED/" + name] = bytes.empty() ? "was empty" : bytes;
          break;
        }
        default:  // unchanged, and a new file beside it through another spelling of its directory
          s.newSide.loose[path] = bytes;
          s.newSide.loose[SwapCase(path.substr(0, path.rfind('/') + 1)) + "g" + std::to_string(i)] =
              RandomBytes();
      }
    }
    s.newSide.loose["new/sub/added.txt"] = Bytes(3000);
    s.newSide.loose["new/empty.dat"] = std::string();
    // One payload longer than the tool's pieces, some of the time.
    if (seed_ % 2 == 0) s.newSide.loose["config/big.dat"] = Bytes(300 * 1024 + Pick(100));
  }

  void MakePack(Scenario& s) {
    const char* kinds[] = {"DATA/E%u.DAT", "SCRIPT/Q%u.TXT", "UI/W%u.XML", "MAPS/TOWN/M%u"};
    const unsigned count = 8 + Pick(6);
    for (unsigned i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, kinds[Pick(4)], i);
      std::string bytes = Bytes(1 + Pick(12000));
      s.oldSide.pack[name] = bytes;
      switch (Pick(6)) {
        case 0:
        case 1:
          s.newSide.pack[name] = bytes;
          break;
        case 2:
          s.newSide.pack[name] = Changed(bytes);
          break;
        case 3:
          s.removed.insert(std::string("Pak/") + name);
          break;
        case 4:  // emptied: a set cannot hold an empty file, so it is gone
          s.newSide.pack[name] = std::string();
          s.removed.insert(std::string("Pak/") + name);
          break;
        default:
          s.newSide.pack[name] = Changed(bytes) + "x";
      }
    }
    s.newSide.pack["NEW/ADDED.TXT"] = Bytes(2000);
  }

  std::mt19937 random_;
  unsigned seed_;
  unsigned made_ = 0;
};

// Where the updater lands each NEW file in the copy of OLD: its own name
// when OLD has it, else the one OLD name that differs only in case.
std::string Landing(const Files& oldFiles, const std::string& path) {
  if (oldFiles.count(path) != 0) return path;
  std::string found;
  for (const auto& [name, bytes] : oldFiles) {
    if (platform::LowerAscii(name) == platform::LowerAscii(path)) {
      if (!found.empty()) return std::string();
      found = name;
    }
  }
  return found;
}

// What the update must hold: every NEW file that differs from where it
// lands, and every pack entry that differs from OLD's.
std::set<std::string> ExpectedPayloads(const Scenario& s) {
  std::set<std::string> payloads;
  for (const auto& [path, bytes] : s.newSide.loose) {
    const std::string landing = Landing(s.oldSide.loose, path);
    if (landing.empty() || s.oldSide.loose.at(landing) != bytes) payloads.insert(path);
  }
  for (const auto& [name, bytes] : s.newSide.pack) {
    if (bytes.empty()) continue;
    auto old = s.oldSide.pack.find(name);
    if (old == s.oldSide.pack.end() || old->second != bytes) payloads.insert("Pak/" + name);
  }
  return payloads;
}

std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) names.insert(fs::relative(entry.path(), root).generic_string());
  }
  return names;
}

struct Mode {
  const char* name;
  std::vector<std::string> flags;
};

class MkupdateRoundTrip : public ::testing::TestWithParam<unsigned> {};

TEST_P(MkupdateRoundTrip, UpdateAppliedToOldGivesNewInEveryEncoding) {
  const Scenario s = ScenarioMaker(GetParam()).Make();
  TempDir dir;
  WriteInstallation(dir.Join("old"), s.oldSide);
  WriteInstallation(dir.Join("new"), s.newSide);
  const auto oldBefore = update_e2e::TreeSnapshot(dir.Join("old"));
  const auto newBefore = update_e2e::TreeSnapshot(dir.Join("new"));

  Files newPack;
  for (const auto& [name, bytes] : s.newSide.pack) {
    if (!bytes.empty()) newPack[name] = bytes;
  }
  Files expectedPack = newPack;
  Files expectedLoose = ByCaseKey(s.newSide.loose);
  for (const std::string& removed : s.removed) {
    if (removed.rfind("Pak/", 0) == 0) {
      expectedPack[removed.substr(4)] = s.oldSide.pack.at(removed.substr(4));
    } else {
      expectedLoose[platform::LowerAscii(removed)] = s.oldSide.loose.at(removed);
    }
  }

  const Mode modes[] = {{"plain", {}}, {"de", {"-de"}}, {"dc", {"-dc"}}, {"dcde", {"-dc", "-de"}}};
  for (const Mode& mode : modes) {
    SCOPED_TRACE(mode.name);
    const std::string out = dir.Join(std::string("out-") + mode.name);
    std::vector<std::string> args = mode.flags;
    args.insert(args.end(), {"-j", "2", dir.Join("old"), dir.Join("new"), out});
    const auto made = RunMkupdate(args, dir.path());
    ASSERT_EQ(made.exitStatus, s.removed.empty() ? 0 : 3) << made.err;
    EXPECT_EQ(NamedRemoved(made.err), s.removed) << made.err;
    EXPECT_EQ(made.err.find("cannot be expressed: " + std::string("Pak/")) == std::string::npos,
              std::none_of(s.removed.begin(), s.removed.end(),
                           [](const std::string& n) { return n.rfind("Pak/", 0) == 0; }));
    EXPECT_NE(made.out.find("compared "), std::string::npos) << made.out;
    EXPECT_EQ(FilesBelow(out), ExpectedPayloads(s));

    const std::string applied = dir.Join(std::string("applied-") + mode.name);
    fs::copy(dir.Join("old"), applied, fs::copy_options::recursive);
    fs::copy(out, applied + "/update", fs::copy_options::recursive);
    std::vector<std::string> apply = {"-df", "-sw", "update"};
    apply.insert(apply.end(), mode.flags.begin(), mode.flags.end());
    const auto run = update_e2e::RunUpdater(applied, apply);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_FALSE(fs::exists(applied + "/update"));
    EXPECT_EQ(ByCaseKey(ReadLoose(applied)), expectedLoose);
    EXPECT_EQ(ReadPack(applied), expectedPack);
  }
  // Reading them changed neither installation.
  EXPECT_EQ(update_e2e::TreeSnapshot(dir.Join("old")), oldBefore);
  EXPECT_EQ(update_e2e::TreeSnapshot(dir.Join("new")), newBefore);
  EXPECT_EQ(ReadPack(dir.Join("new")), newPack);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MkupdateRoundTrip, ::testing::Values(1u, 2u, 3u));

}  // namespace
