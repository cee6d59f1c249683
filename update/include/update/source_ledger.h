// What became of each delivered file in one run: stored in the pack, kept
// back, moved aside, deleted; and which later delivered file takes its name.
// One update file can be listed under two spellings (the pack search gives
// D/Pak\a, the work-path search D\Pak\a): every record is made and found
// through Key(), so both spellings reach it.
#ifndef UPDATE_SOURCE_LEDGER_H_
#define UPDATE_SOURCE_LEDGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fileutil/emptied_directories.h"
#include "platform/env.h"
#include "update/source_release.h"

namespace update {

class SourceLedger {
 public:
  // Deletes and removes emptied directories through env.
  explicit SourceLedger(platform::Env* env = platform::Env::Default());

  // source as the ledger keys it: "\" as "/", and "a//b" as "a/b" (a work
  // path given as "update/" makes the searches spell one file both ways).
  static std::string Key(const std::string& source);

  // True the first time source is kept back (the caller then says why),
  // false when it was kept back already.
  bool NoteKeptBack(const std::string& source);
  bool IsKeptBack(const std::string& source) const;
  std::size_t keptBackCount() const { return keptBack_.size(); }

  void NoteStoredInPack(const std::string& source);
  bool WasStoredInPack(const std::string& source) const;

  // Deleted by this run.
  bool WasRemoved(const std::string& source) const;

  // Moved to target (below base, at relative) to keep it back: its
  // directories are noted as emptied.
  void NoteMovedAside(const std::string& target, const std::string& relative,
                      const std::string& base);
  bool WasMovedAside(const std::string& path) const;

  // Learns, for entries in list order below base, which later entry lands on
  // each one's name where names match without regard to letter case.
  void PlanOverwrites(const std::vector<std::string>& entries, const std::string& base);
  // The later delivered file (as keyed) that takes source's name, or null.
  const std::string* OverwrittenBy(const std::string& source) const;

  // Deletes an applied source whose size the caller knows as size (or
  // SourceRelease::kUnknownSize), a read-only one with its attributes
  // cleared, and notes the directory levels of relative below base for
  // RemoveEmptied. True when it was deleted.
  bool Delete(const std::string& source, const std::string& relative, const std::string& base,
              std::uint64_t size);
  // The deleted sources: kept until the run has made its files (see
  // SourceRelease), freed at once from Release() on.
  void Release();
  // The directories noted so far that are empty now, deepest first; each
  // removal is told to say.
  void RemoveEmptied(const std::function<void(const std::string&)>& say);
  // Notes every directory below base, for a RemoveEmptied that sweeps them.
  void NoteDirectoriesBelow(const std::string& base);

 private:
  std::set<std::string> keptBack_;
  std::set<std::string> storedInPack_;
  std::set<std::string> removed_;
  std::set<std::string> movedAside_;
  std::map<std::string, std::string> overwrittenBy_;
  platform::Env* env_;
  SourceRelease release_;
  fileutil::EmptiedDirectories emptied_;
};

}  // namespace update

#endif  // UPDATE_SOURCE_LEDGER_H_
