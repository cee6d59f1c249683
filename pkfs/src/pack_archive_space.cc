// A volume's free space: the boundary list of leak_list.h kept in step with
// the header words and the heads.
#include <algorithm>
#include <utility>
#include <vector>

#include "pack_archive.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "scope_timer.h"

namespace pkfs {

LeakList PackArchive::ComputeLeakList() const {
  if (base_ != nullptr) return ComputeLeakListInBatch();
  LeakList list;
  list.Reset(2 * heads_.size() + 4);
  // In the order of a volume the updater wrote (its files, then the table),
  // which leaves nothing for Normalize to sort.
  list.AppendRegion(0, kPackHeaderBytes);
  for (const HeadPtr& head : heads_) list.AppendRegion(head->start, head->size);
  list.AppendRegion(tableOffset_, tableSize_);
  list.Normalize();
  return list;
}

LeakList PackArchive::ComputeLeakListInBatch() const {
  // Until the commit, what the directory on disk names stays used: the old
  // table, the entries taken out, the extents of emptied ones. Those may
  // overlap what the batch holds now, so the regions are merged first (the
  // boundary list cannot express an overlap).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> regions;  // [start, end)
  const auto add = [&regions](std::uint32_t start, std::uint32_t size) {
    if (size != 0) regions.emplace_back(start, start + size);
  };
  add(0, kPackHeaderBytes);
  add(tableOffset_, tableSize_);
  for (const HeadPtr& head : heads_) add(head->start, head->size);
  add(base_->tableOffset, base_->tableSize);
  for (const HeadPtr& head : base_->removed) add(head->start, head->size);
  for (const auto& region : base_->release) add(region.first, region.second);
  std::sort(regions.begin(), regions.end());
  LeakList list;
  list.Reset(2 * regions.size());
  std::size_t i = 0;
  while (i < regions.size()) {
    std::uint32_t start = regions[i].first, end = regions[i].second;
    for (++i; i < regions.size() && regions[i].first <= end; ++i) {
      end = std::max(end, regions[i].second);
    }
    list.AppendRegion(start, end - start);
  }
  list.Normalize();
  return list;
}

void PackArchive::RebuildLeakList() { leakList_ = ComputeLeakList(); }

void PackArchive::BuildLeak() {
  ScopeTimer timer("BuildLeak");
  // A set opened for reading never places anything: it needs no free-space
  // list (on a large volume, building it costs more than the lookup).
  if (fileSystem_ == nullptr || !fileSystem_->readOnly()) RebuildLeakList();
  // A registration replaces whatever head the map held under the name, so a
  // name resolves to the head registered last.
  if (CFSManager* names = manager()) {
    names->ReserveNames(heads_.size());
    for (const HeadPtr& head : heads_) names->AddName(head.get());
  }
}

void PackArchive::NormalizeLeakList() { leakList_.Normalize(); }

bool PackArchive::FindLeakData(std::uint32_t size, std::uint32_t* start) const {
  ScopeTimer timer("FindLeakData");
  const std::uint32_t limit = fileSystem_ != nullptr ? fileSystem_->sizeLimit() : 0;
  return leakList_.FindLeakData(size, limit, start);
}

void PackArchive::ClaimRegion(std::uint32_t start, std::uint32_t size) {
  if (!leakList_.Claim(start, size)) RebuildLeakList();
}

bool PackArchive::ReleaseRegion(std::uint32_t start, std::uint32_t length) {
  return leakList_.Release(start, length);
}

void PackArchive::TruncateHead(FileHead* head) {
  if (head == nullptr) return;
  Touch();
  // The bytes stay named by the header on disk until the next commit, which
  // gives them back.
  base_->release.emplace_back(head->start, head->size);
  base_->truncated = true;
  head->size = 0;
  records_.reset();
}

}  // namespace pkfs
