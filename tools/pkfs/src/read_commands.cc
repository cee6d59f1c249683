// ls, cat and info: what a set stores, one stored file, and the volumes.
#include <cstdio>
#include <string>

#include "pkfs/pack_volume.h"
#include "pkfstool/commands.h"
#include "pkfstool/pack_set.h"

namespace pkfstool {

namespace {

// The filter column of ls -l: "-" for plain bytes, else the decoding
// filter's id ("r" in front when a resizing rule matched the name).
std::string FilterColumn(const pkfs::FileHead& head) {
  if ((head.flags & (pkfs::kFlagInPlace | pkfs::kFlagResizing)) == 0) return "-";
  std::string column = (head.flags & pkfs::kFlagResizing) != 0 ? "r" : "";
  return column + std::to_string(head.FilterId());
}

}  // namespace

int AfterReading(const PackSet& set) {
  // The load said so on standard error: what was shown may be wrong.
  return set.Damage().ok() ? kExitOk : kExitFailure;
}

int RunList(const Invocation& invocation, platform::Env* env) {
  PackSet set(env);
  const platform::Status status = set.Open(invocation.operands[0]);
  if (!status.ok()) return Fail(status);
  for (const pkfs::FileHead* head : set.Entries()) {
    if (invocation.longListing) {
      std::printf("%10u  0x%08X  %-6s %-12s %s\n", head->size, head->flags,
                  FilterColumn(*head).c_str(), pkfs::VolumeOf(*head)->name().c_str(),
                  head->name.c_str());
    } else {
      std::fwrite(head->name.data(), 1, head->name.size(), stdout);
      std::fputc('\n', stdout);
    }
  }
  return AfterReading(set);
}

int RunCat(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  const std::string& name = invocation.operands[1];
  for (int attempt = 0;; ++attempt) {
    PackSet set(env);
    platform::Status status = set.Open(setPath);
    if (!status.ok()) return Fail(status);
    const pkfs::FileHead* head = set.Find(name);
    if (head == nullptr) return Fail(name + ": not stored in " + setPath);
    bool written = false;
    status = set.ReadEntry(*head, [&written](const unsigned char* data, std::size_t length) {
      written = true;
      if (std::fwrite(data, 1, length, stdout) != length) {
        return platform::Status::Error(platform::Status::Code::kIoError, "standard output",
                                       "write error");
      }
      return platform::Status::Ok();
    });
    // Changed by a writer before anything was written: read the new state.
    if (status.code() == platform::Status::Code::kBusy && !written &&
        attempt + 1 < kReadAttempts) {
      PauseBeforeAttempt(attempt + 1);
      continue;
    }
    if (status.code() == platform::Status::Code::kBusy) {
      return Fail(status.ToString() + "; what was written is incomplete");
    }
    return status.ok() ? AfterReading(set) : Fail(status);
  }
}

int RunInfo(const Invocation& invocation, platform::Env* env) {
  PackSet set(env);
  const platform::Status status = set.Open(invocation.operands[0]);
  if (!status.ok()) return Fail(status);
  const char* const row = "%-20s %12llu %9zu %12llu %10llu %12llu\n";
  std::printf("%-20s %12s %9s %12s %10s %12s\n", "volume", "bytes", "entries", "payload",
              "directory", "free");
  unsigned long long bytes = 0, payload = 0, directory = 0, freeBytes = 0;
  std::size_t entries = 0, stale = 0;
  for (const auto& volume : set.fileSystem().volumes()) {
    unsigned long long volumePayload = 0;
    for (const auto& head : volume->heads()) {
      volumePayload += head->size;
      if (!set.InForce(*head)) ++stale;
    }
    const unsigned long long size = volume->stream()->Size();
    const unsigned long long used = 16ull + volume->tableSize() + volumePayload;
    const unsigned long long volumeFree = size > used ? size - used : 0;
    std::printf(row, volume->name().c_str(), size, volume->heads().size(), volumePayload,
                static_cast<unsigned long long>(volume->tableSize()), volumeFree);
    bytes += size;
    entries += volume->heads().size();
    payload += volumePayload;
    directory += volume->tableSize();
    freeBytes += volumeFree;
  }
  std::printf(row, "total", bytes, entries, payload, directory, freeBytes);
  std::printf("%zu volume(s); %zu stale cop%s shadowed by a later volume\n",
              set.fileSystem().volumes().size(), stale, stale == 1 ? "y" : "ies");
  return AfterReading(set);
}

}  // namespace pkfstool
