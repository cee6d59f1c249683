// verify and compact: checking a set through and through, and shrinking it.
#include <cstdio>
#include <string>
#include <vector>

#include "pkfs/pack_volume.h"
#include "pkfstool/commands.h"
#include "pkfstool/compact.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/progress_bar.h"
#include "pkfstool/set_scan.h"
#include "platform/file_system.h"

namespace pkfstool {

namespace {

// Loads a structurally sound set and reads every entry of every volume.
// *changed: a writer committed meanwhile, and the problems may be its.
std::vector<std::string> ReadEverything(const std::string& setPath, const SetScan& scan,
                                        platform::Env* env, std::size_t* entries, bool* changed) {
  std::vector<std::string> problems;
  PackSet set(env);
  const platform::Status status = set.Open(setPath);
  if (!status.ok()) return {status.ToString()};
  const auto& volumes = set.fileSystem().volumes();
  if (volumes.size() != scan.volumes.size()) {
    problems.push_back(setPath + ": only " + std::to_string(volumes.size()) + " of " +
                       std::to_string(scan.volumes.size()) + " volumes load");
  }
  for (const auto& volume : volumes) {
    for (const auto& head : volume->heads()) {
      ++*entries;
      const platform::Status read = set.ReadEntry(
          *head, [](const unsigned char*, std::size_t) { return platform::Status::Ok(); });
      if (read.code() == platform::Status::Code::kBusy) *changed = true;
      if (!read.ok()) problems.push_back(volume->path() + ": " + read.ToString());
    }
  }
  return problems;
}

}  // namespace

int RunVerify(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  if (!platform::PathExists(setPath)) return Fail(setPath + ": no such file");
  PackSet filters(env);  // the updater's filter, to decode what the volumes store
  SetScan scan;
  std::vector<std::string> problems;
  std::size_t entries = 0;
  // Without the writers' lock: a writer that committed while the set was
  // checked makes the check run again on the new state.
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (attempt > 0) PauseBeforeAttempt(attempt);
    scan = ScanSet(setPath, filters.manager());
    problems = scan.Problems();
    entries = 0;
    bool changed = false;
    if (problems.empty()) problems = ReadEverything(setPath, scan, env, &entries, &changed);
    if (!changed && HeadersUnchanged(scan, filters.manager())) break;
  }
  for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
  if (!problems.empty()) return kExitFailure;
  std::printf("%s: sound: %zu volume(s), %zu entries\n", setPath.c_str(), scan.volumes.size(),
              entries);
  return kExitOk;
}

int RunCompact(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  CompactResult result;
  CompactOptions options;
  options.env = env;
  platform::Status status;
  {
    // Sized by what the set records; a bar is only worth it for many files.
    std::size_t records = 0;
    PackSet filters(env);
    for (const VolumeScan& volume : ScanSet(setPath, filters.manager()).volumes) {
      records += volume.records.size();
    }
    ProgressBar progress("compact", records);
    options.progress = &progress;
    options.salvage = invocation.salvage;
    status = CompactSet(setPath, options, &result);
  }
  for (const std::string& warning : result.warnings) Fail(warning);
  if (!status.ok()) return Fail(status);
  for (const std::string& dropped : result.dropped) Fail("dropped " + dropped);
  std::printf("before: %zu volume(s), %llu bytes\n", result.volumesBefore,
              static_cast<unsigned long long>(result.bytesBefore));
  std::printf("after:  %zu volume(s), %llu bytes, %zu entries\n", result.volumesAfter,
              static_cast<unsigned long long>(result.bytesAfter), result.entries);
  if (invocation.salvage) {
    std::printf("salvaged: %zu entries kept, %zu dropped\n", result.entries,
                result.dropped.size());
  }
  return kExitOk;
}

}  // namespace pkfstool
