// Matching NEW with OLD the way the updater would place each delivered file
// in a copy of OLD: a loose file lands on OLD's file of the exact name, else
// on the one file whose name differs only in letter case; a pack entry
// replaces the entry stored under its name.
#include "mkupdate/plan.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "mkupdate/name_rules.h"
#include "platform/ascii_case.h"

namespace mkupdate {

namespace {

using platform::Status;
using KeySet = std::unordered_set<std::string>;

bool EndsWithPak(const std::string& key) {
  return key.size() >= 4 && key.compare(key.size() - 4, 4, ".pak") == 0;
}

// The case keys of the set's volume files. Volumes are looked for among the
// files named like one first; only a set that is not found whole that way
// costs a look at every file.
Status FindVolumes(const Installation& side, const std::string& packName, KeySet* keys) {
  const std::size_t wanted = side.pack.volumeCount();
  if (wanted == 0) return Status::Ok();
  std::size_t found = 0;
  std::vector<bool> checked(side.tree.size());
  const std::string firstKey = CaseKey(packName);
  for (int pass = 0; pass < 2 && found < wanted; ++pass) {
    for (std::size_t i = 0; i < side.tree.size(); ++i) {
      const TreeEntry& entry = side.tree[i];
      if (entry.kind != TreeEntry::Kind::kFile || checked[i]) continue;
      const std::string key = CaseKey(entry.path);
      if (pass == 0 && !EndsWithPak(key) && key != firstKey) continue;
      checked[i] = true;
      if (side.pack.IsVolume(side.root + "/" + entry.path)) {
        keys->insert(key);
        ++found;
      }
    }
  }
  if (found < wanted) {
    return Status::Error(Status::Code::kInvalid, side.root + "/" + packName,
                         "a volume of its set lies outside " + side.root);
  }
  return Status::Ok();
}

struct OldIndex {
  std::unordered_map<std::string, std::size_t> exact;
  std::unordered_map<std::string, std::vector<std::size_t>> byKey;
  KeySet fileKeys;  // files and other things that are not directories
  KeySet directoryKeys;
};

std::string Shown(const std::string& name, bool pack) { return pack ? "Pak/" + name : name; }

// The first level of key's directories that OLD holds as a file, if any.
const std::string* FileAbove(const std::string& key, const OldIndex& old, std::string* prefix) {
  for (std::size_t slash = key.find('/'); slash != std::string::npos;
       slash = key.find('/', slash + 1)) {
    *prefix = key.substr(0, slash);
    if (old.fileKeys.count(*prefix) != 0) return prefix;
  }
  return nullptr;
}

void PlanLooseFiles(const Installation& oldSide, const Installation& newSide,
                    const KeySet& oldVolumes, const KeySet& newVolumes, Plan* plan) {
  auto isVolume = [&](const std::string& key) {
    return oldVolumes.count(key) != 0 || newVolumes.count(key) != 0;
  };
  OldIndex old;
  for (std::size_t i = 0; i < oldSide.tree.size(); ++i) {
    const TreeEntry& entry = oldSide.tree[i];
    const std::string key = CaseKey(entry.path);
    if (entry.kind == TreeEntry::Kind::kDirectory) {
      old.directoryKeys.insert(key);
      continue;
    }
    if (isVolume(key)) continue;
    old.exact.emplace(entry.path, i);
    old.byKey[key].push_back(i);
    old.fileKeys.insert(key);
  }

  std::unordered_map<std::string, std::size_t> spellings;  // case key: NEW names under it
  for (const TreeEntry& entry : newSide.tree) {
    if (entry.kind != TreeEntry::Kind::kDirectory) ++spellings[CaseKey(entry.path)];
  }
  std::map<std::string, std::size_t> twinGroups;
  std::vector<bool> claimed(oldSide.tree.size());
  for (const TreeEntry& entry : newSide.tree) {
    if (entry.kind == TreeEntry::Kind::kDirectory) continue;
    const std::string key = CaseKey(entry.path);
    if (newVolumes.count(key) != 0) continue;  // compared entry by entry instead
    const bool twin = spellings[key] > 1;
    // A twin's own spelling is the only one it can land on without
    // landing on its twin's.
    const TreeEntry* counterpart = nullptr;
    if (auto it = old.exact.find(entry.path); it != old.exact.end()) {
      counterpart = &oldSide.tree[it->second];
      claimed[it->second] = true;
    } else if (auto group = old.byKey.find(key);
               !twin && group != old.byKey.end() && group->second.size() == 1) {
      counterpart = &oldSide.tree[group->second.front()];
      claimed[group->second.front()] = true;
    }
    if (oldVolumes.count(key) != 0) {
      plan->refused.push_back(entry.path +
                              " is a loose file of NEW, but it would overwrite a "
                              "pack volume of OLD");
      continue;
    }
    if (entry.kind == TreeEntry::Kind::kOther) {
      if (counterpart == nullptr || counterpart->other != entry.other) {
        plan->refused.push_back(entry.path + " is no regular file in NEW (" + entry.other +
                                "), and an update delivers only files");
      }
      continue;
    }
    Job job;
    job.name = entry.path;
    job.size = entry.size;
    if (counterpart != nullptr) {
      job.oldName = counterpart->path;
      job.oldSize = counterpart->size;
      job.oldReadable = counterpart->kind == TreeEntry::Kind::kFile;
    }
    job.refusal = LooseNameRefusal(entry.path);
    std::string above;
    if (!job.refusal.empty()) {
      // the name alone rules it out
    } else if (FileAbove(key, old, &above) != nullptr) {
      job.refusal = "it lies below " + above + ", which is a file in OLD";
    } else if (old.directoryKeys.count(key) != 0) {
      job.refusal = "OLD has a directory of that name";
    } else if (!job.oldReadable) {
      job.refusal = "OLD has no regular file there (" + counterpart->other + ")";
    }
    if (twin) job.twinGroup = twinGroups.emplace(key, twinGroups.size() + 1).first->second;
    plan->jobs.push_back(std::move(job));
  }
  plan->twinGroups = twinGroups.size();

  for (std::size_t i = 0; i < oldSide.tree.size(); ++i) {
    const TreeEntry& entry = oldSide.tree[i];
    if (entry.kind == TreeEntry::Kind::kDirectory || claimed[i]) continue;
    if (isVolume(CaseKey(entry.path)) || RemovedByEveryRun(entry.path)) continue;
    plan->removed.push_back(entry.path);
  }
}

void PlanPackEntries(const PackSource& oldPack, const PackSource& newPack, Plan* plan) {
  std::unordered_map<std::string, std::uint64_t> oldSizes;
  for (const PackSource::Entry& entry : oldPack.entries()) oldSizes.emplace(entry.name, entry.size);
  const std::vector<PackSource::Entry>& entries = newPack.entries();  // sorted by name
  KeySet newNames;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PackSource::Entry& entry = entries[i];
    newNames.insert(entry.name);
    Job job;
    job.pack = true;
    job.name = entry.name;
    job.size = entry.size;
    if (auto it = oldSizes.find(entry.name); it != oldSizes.end()) {
      job.oldName = entry.name;
      job.oldSize = it->second;
    }
    job.refusal = PackNameRefusal(entry.name);
    // Entries sort right after "NAME/" or later: a file and a directory
    // cannot share OUT/Pak/NAME.
    const std::string below = entry.name + "/";
    auto next = std::lower_bound(
        entries.begin(), entries.end(), below,
        [](const PackSource::Entry& e, const std::string& name) { return e.name < name; });
    if (job.refusal.empty() && next != entries.end() &&
        next->name.compare(0, below.size(), below) == 0) {
      job.refusal = "NEW's pack also stores " + next->name + " below that name";
    }
    plan->jobs.push_back(std::move(job));
  }
  for (const PackSource::Entry& entry : oldPack.entries()) {
    if (newNames.count(entry.name) == 0) plan->removed.push_back(Shown(entry.name, true));
  }
}

}  // namespace

Status MakePlan(const Installation& oldSide, const Installation& newSide,
                const std::string& packName, Plan* plan) {
  KeySet oldVolumes;
  KeySet newVolumes;
  Status status = FindVolumes(oldSide, packName, &oldVolumes);
  if (status.ok()) status = FindVolumes(newSide, packName, &newVolumes);
  if (!status.ok()) return status;
  PlanLooseFiles(oldSide, newSide, oldVolumes, newVolumes, plan);
  PlanPackEntries(oldSide.pack, newSide.pack, plan);
  std::sort(plan->refused.begin(), plan->refused.end());
  std::sort(plan->removed.begin(), plan->removed.end());
  return Status::Ok();
}

}  // namespace mkupdate
