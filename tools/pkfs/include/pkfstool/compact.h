// Rewriting a volume set without free space or stale copies. The new
// volumes are written and synced beside the old ones first; the new first
// volume then replaces the old one in a single rename, which is the moment
// the new set takes over, and only after that are the old later volumes
// removed. A stop at any moment leaves either the old set or the new one.
#ifndef PKFSTOOL_COMPACT_H_
#define PKFSTOOL_COMPACT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pkfs/pkfsf.h"
#include "platform/env.h"
#include "platform/status.h"

namespace pkfstool {

class ProgressBar;

struct CompactOptions {
  // New data are appended to a volume while they end below this; the rest
  // goes on to a new volume, as when the set grows.
  std::uint32_t volumeSizeLimit = pkfs::kDefaultVolumeSizeLimit;
  // Asked before each step of the switch-over (a rename or a removal, named
  // in step); false stops the compaction right there, with nothing cleaned
  // up, as a crash at that moment would (tests).
  std::function<bool(const std::string& step)> beforeStep;
  ProgressBar* progress = nullptr;  // stepped once per entry copied
  // Rebuild a damaged set on purpose: keep every entry that still reads and
  // drop (and name) the rest, instead of refusing.
  bool salvage = false;
  // What the set's files are read, written, renamed and removed through.
  platform::Env* env = platform::Env::Default();
};

struct CompactResult {
  std::size_t volumesBefore = 0;
  std::size_t volumesAfter = 0;
  std::uint64_t bytesBefore = 0;
  std::uint64_t bytesAfter = 0;
  std::size_t entries = 0;
  std::vector<std::string> warnings;  // old volumes that could not be removed
  std::vector<std::string> dropped;   // salvage: "VOLUME: NAME: why", one per entry left out
};

// The name under which the new first volume is written before it replaces
// the old one.
std::string CompactScratchPath(const std::string& firstPath);

// Compacts the set whose first volume is at firstPath. Refused (kBusy) while
// another process holds any of its volumes, and (kCorrupt) when the set is
// damaged, unless salvage asks for it: compacting it could lose what the
// damage hides. A salvage still needs a first volume that loads.
platform::Status CompactSet(const std::string& firstPath, const CompactOptions& options,
                            CompactResult* result);

}  // namespace pkfstool

#endif  // PKFSTOOL_COMPACT_H_
