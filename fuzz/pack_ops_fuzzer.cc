// Random sequences of adds, replacements, removals, writes through handles,
// batches, reloads and power losses on a pack volume set, checked after every
// step against a plain map of name to bytes. A power loss stops the machine
// at one write of an operation (the write refused, or torn part-way when it
// is not the 16-byte header, which storage writes whole, and every later
// write refused); the set loaded afresh from disk must then hold exactly the
// files from before the operation or exactly those from after it. Inside a
// batch nothing reaches the directory on disk before the commit: a reload or
// a power loss gives the files from before the batch, and a power loss during
// the commit gives those from before it or those from after it. A set of
// several volumes commits them one after the other (the format has no commit
// point across volumes), so there each file on its own is as before or as
// after: never gone, never torn.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fault_env.h"
#include "fuzz_support.h"
#include "pack_archive.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Files = std::map<std::string, Bytes>;  // normalised name -> content

// Names as a caller hands them in, and the keys they normalise to.
const char* const kNames[][2] = {
    {"a.txt", "A.TXT"},           {"Dir\\b.bin", "DIR/B.BIN"},
    {"dir/C.XML", "DIR/C.XML"},   {"/d", "D"},
    {"e.TXT", "E.TXT"},           {"deep//f.dat", "DEEP/F.DAT"},
    {"sub\\sub\\g", "SUB/SUB/G"}, {"h.xml", "H.XML"},
};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];
constexpr std::size_t kMaxSteps = 48;

// True when each name holds in now what it holds (or does not hold) before or
// after: a file may be old while another is new, but none is lost or made up.
bool EachFileBeforeOrAfter(const Files& now, const Files& before, const Files& after) {
  const auto same = [](const Files& files, const std::string& key, const Bytes* content) {
    const auto it = files.find(key);
    return content == nullptr ? it == files.end() : it != files.end() && it->second == *content;
  };
  for (const Files* names : {&now, &before, &after}) {
    for (const auto& entry : *names) {
      const auto it = now.find(entry.first);
      const Bytes* content = it != now.end() ? &it->second : nullptr;
      if (!same(before, entry.first, content) && !same(after, entry.first, content)) return false;
    }
  }
  return true;
}

// After a power loss: a set of one volume is all before or all after, a set
// of several is so file by file.
void CheckBeforeOrAfter(bool oneVolume, const Files& now, const Files& before, const Files& after) {
  if (oneVolume) {
    FUZZ_CHECK(now == before || now == after, "a power loss leaves the set before or after");
  } else {
    FUZZ_CHECK(EachFileBeforeOrAfter(now, before, after),
               "a power loss leaves each file before or after");
  }
}

Bytes Content(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 7;
  for (unsigned char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<unsigned char>(state >> 24);
  }
  return bytes;
}

class PackSet {
 public:
  PackSet(std::string dir, bool filtered, std::uint32_t limit)
      : dir_(std::move(dir)), filtered_(filtered), limit_(limit) {}

  // Mounts from disk; creates the first volume only when create is true.
  bool Mount(bool create) {
    fileSystem_ = nullptr;
    manager_ = std::make_unique<pkfs::CFSManager>(dir_, &faults_);
    if (filtered_) manager_->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
    auto owned = std::make_unique<pkfs::CPKFSF>(manager_.get());
    fileSystem_ = owned.get();
    fileSystem_->SetSizeLimitForTesting(limit_);
    if (filtered_) {
      fileSystem_->AddNameRule("txt", 0);
      fileSystem_->AddNameRule("xml", 0);
    }
    bool loaded = manager_->SetFileSystem("DATA.pak", std::move(owned));
    if (!loaded && create) loaded = manager_->CreateVolume("DATA.pak");
    return loaded;
  }

  // Every name the set resolves, read through a handle.
  Files Snapshot() {
    Files files;
    for (const auto& entry : manager_->fileMap()) {
      std::unique_ptr<pkfs::CFSFile> handle(manager_->OpenByKey(entry.first, "rb"));
      FUZZ_CHECK(handle != nullptr, "a resolved name opens");
      Bytes content;
      unsigned char piece[700];
      for (int got; (got = handle->Read(piece, sizeof piece)) > 0;) {
        content.insert(content.end(), piece, piece + got);
      }
      files[entry.first] = content;
    }
    return files;
  }

  void CheckLists() {
    for (const auto& volume : fileSystem_->archives()) {
      FUZZ_CHECK(volume->leakList().bounds() == volume->ComputeLeakList().bounds(),
                 "the free-space list is its own rebuild");
    }
  }

  pkfs::CFSManager& manager() { return *manager_; }
  pkfs::CPKFSF& fileSystem() { return *fileSystem_; }
  testing_support::FaultEnv& faults() { return faults_; }

 private:
  testing_support::FaultEnv faults_;  // what the set's files go through
  std::string dir_;
  bool filtered_;
  std::uint32_t limit_;
  std::unique_ptr<pkfs::CFSManager> manager_;
  pkfs::CPKFSF* fileSystem_ = nullptr;
};

// From the stop-th write on the machine is stopped: that write is refused or
// torn, every later one refused.
class PowerLoss {
 public:
  PowerLoss(testing_support::FaultEnv& env, int stop, bool tear, std::uint8_t share) : env_(env) {
    env_.onWrite = [=](const std::string&, std::uint64_t offset, std::size_t length) {
      using testing_support::WriteDecision;
      WriteDecision decision;
      if (++writes_ < stop) return decision;
      const bool header = offset == 0 && length == 16;
      decision.kind =
          writes_ == stop && tear && !header ? WriteDecision::kTear : WriteDecision::kFail;
      decision.tearAfter = length * share / 256;
      return decision;
    };
  }
  ~PowerLoss() { env_.onWrite = nullptr; }

 private:
  testing_support::FaultEnv& env_;
  int writes_ = 0;
};

struct Step {
  std::uint8_t kind;
  std::size_t name;
  std::size_t size;
  std::uint8_t seed;
};

// Applies step to the set and to the model; true when the set says it worked.
bool Apply(PackSet& set, Files& model, const Step& step, std::uint32_t limit) {
  const std::string name = kNames[step.name][0];
  const std::string key = kNames[step.name][1];
  Bytes data = Content(step.size, step.seed);
  switch (step.kind) {
    case 0: {  // add or replace
      model[key] = data;
      return set.fileSystem().AddFile(name, data.data(), static_cast<std::uint32_t>(data.size()));
    }
    case 1:  // remove: by the stored name, which removal does not normalise
      model.erase(key);
      return set.fileSystem().RemoveFile(key);
    default: {  // rewrite or append through a handle, on a stored name
      if (model.count(key) == 0) return true;
      const bool append = step.kind == 3;
      // A file that outgrows an empty volume is refused, and rightly so.
      if (append && model[key].size() + data.size() > limit / 2) return true;
      std::unique_ptr<pkfs::CFSFile> handle(set.manager().Open(key, append ? "ab" : "wb"));
      FUZZ_CHECK(handle != nullptr, "a stored name opens for writing");
      if (append) {
        model[key].insert(model[key].end(), data.begin(), data.end());
      } else {
        model[key] = data;
      }
      return handle->Write(data.data(), static_cast<std::uint32_t>(data.size())) ==
             static_cast<int>(data.size());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStandardOutput();
  // New volumes are named relative to the process's directory.
  std::filesystem::current_path(fuzz::CleanScratchDirectory());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const std::uint8_t settings = input.U8();
  static const std::uint32_t kLimits[] = {2048, 6000, 65536, 1 << 20};
  const std::uint32_t limit = kLimits[(settings >> 1) % 4];

  PackSet set(fuzz::CleanScratchDirectory(), (settings & 1) != 0, limit);
  FUZZ_CHECK(set.Mount(/*create=*/true), "a new set mounts");
  Files model;
  Files committed;  // what the set on disk holds while a batch is open
  bool inBatch = false;

  for (std::size_t steps = 0; steps < kMaxSteps && !input.empty(); ++steps) {
    const std::uint8_t op = input.U8();
    Step step;
    step.kind = op % 4;
    step.name = input.U8() % kNameCount;
    // Larger than a quarter of a volume only when the limit allows it, so
    // that every file fits an empty volume and no add may be refused.
    step.size = 1 + input.U16() % (limit / 4);
    step.seed = input.U8();

    if ((op & 0xF0) == 0xF0) {  // reload from disk: an open batch is dropped
      set.Mount(/*create=*/false);
      if (inBatch) model = committed;
      inBatch = false;
      FUZZ_CHECK(set.Snapshot() == model, "a reload gives the files");
      continue;
    }
    if ((op & 0xF0) == 0xD0) {  // begin a batch
      if (!inBatch) set.fileSystem().BeginBatch();
      if (!inBatch) committed = model;
      inBatch = true;
      continue;
    }
    if ((op & 0xF0) == 0xC0 || (op & 0xF0) == 0xB0) {  // commit, B: under a power loss
      if (!inBatch) continue;
      inBatch = false;
      if ((op & 0xF0) == 0xC0) {
        FUZZ_CHECK(set.fileSystem().CommitBatch().ok(), "a commit on a healthy disk succeeds");
        FUZZ_CHECK(set.Snapshot() == model, "a commit keeps the batch's files");
        set.CheckLists();
        continue;
      }
      const int stop = 1 + input.U8() % 8;
      const bool tear = input.Bool();
      const std::uint8_t share = input.U8();
      const bool oneVolume = set.fileSystem().archives().size() == 1;
      {
        PowerLoss loss(set.faults(), stop, tear, share);
        set.fileSystem().CommitBatch();
      }
      FUZZ_CHECK(set.Mount(/*create=*/false), "the set loads after a power loss in a commit");
      const Files now = set.Snapshot();
      CheckBeforeOrAfter(oneVolume, now, committed, model);
      model = now;
      set.CheckLists();
      continue;
    }
    if ((op & 0xF0) == 0xE0) {  // power loss during the step
      const int stop = 1 + input.U8() % 8;
      const bool tear = input.Bool();
      const std::uint8_t share = input.U8();
      const Files before = model;
      const bool oneVolume = set.fileSystem().archives().size() == 1;
      {
        PowerLoss loss(set.faults(), stop, tear, share);
        Apply(set, model, step, limit);
      }
      FUZZ_CHECK(set.Mount(/*create=*/false), "the set loads after a power loss");
      const Files now = set.Snapshot();
      if (inBatch) {
        // Only data were written: the directories on disk are the ones from
        // before the batch.
        FUZZ_CHECK(now == committed, "a power loss in a batch leaves the set as before it");
        inBatch = false;
      } else {
        CheckBeforeOrAfter(oneVolume, now, before, model);
      }
      model = now;
      set.CheckLists();
      continue;
    }
    FUZZ_CHECK(Apply(set, model, step, limit), "an operation on a healthy disk succeeds");
    FUZZ_CHECK(set.Snapshot() == model, "the set holds the model's files");
    // Inside a batch what the directory on disk names stays used until the
    // commit, so the list differs from a rebuild from memory until then.
    if (!inBatch) set.CheckLists();
  }
  if (inBatch) FUZZ_CHECK(set.fileSystem().CommitBatch().ok(), "the last batch commits");
  set.Mount(/*create=*/false);
  FUZZ_CHECK(set.Snapshot() == model, "the files survive a reload");
  return 0;
}
