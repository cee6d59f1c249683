// What the update has to say: NEW's files and pack entries matched with
// OLD's as the updater would match them, each one a job (compare with OLD's
// counterpart, then write it when it differs), and what no update can say.
#ifndef MKUPDATE_PLAN_H_
#define MKUPDATE_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mkupdate/pack_source.h"
#include "mkupdate/tree_scan.h"
#include "platform/status.h"

namespace mkupdate {

struct Installation {
  std::string root;
  std::vector<TreeEntry> tree;
  PackSource pack;
};

struct Job {
  bool pack = false;    // a pack entry (else a loose file)
  std::string name;     // NEW's path below the installation, or its stored name
  std::string oldName;  // OLD's counterpart; empty when OLD has none
  std::uint64_t size = 0;
  std::uint64_t oldSize = 0;
  bool oldReadable = true;  // false: OLD's counterpart is no regular file, so it differs
  // Set when NEW's bytes cannot be delivered under this name: said instead
  // of written if they differ from OLD's.
  std::string refusal;
  // NEW names one file under several spellings (twins): delivered only when
  // the comparison shows that exactly one of them needs to be.
  std::size_t twinGroup = 0;  // 0: none
  std::string outPath() const { return pack ? "Pak/" + name : name; }
};

struct Plan {
  std::vector<Job> jobs;
  // Changes that need no comparison to be known as inexpressible, each
  // "NAME ..." as it follows "cannot be expressed: "; removals separately.
  std::vector<std::string> refused;
  std::vector<std::string> removed;  // OLD's names (pack entries as Pak/NAME)
  std::size_t twinGroups = 0;
};

// Matches NEW against OLD. The failure says why (a volume of a set outside
// its installation).
platform::Status MakePlan(const Installation& oldSide, const Installation& newSide,
                          const std::string& packName, Plan* plan);

}  // namespace mkupdate

#endif  // MKUPDATE_PLAN_H_
