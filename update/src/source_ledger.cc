#include "update/source_ledger.h"

#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"
#include "relative_name.h"

namespace update {

namespace {

// The name a relative path lands on where names match without regard to
// letter case: "\" as "/", ASCII letters lower-cased.
std::string LandingName(const std::string& relative) {
  return platform::WithForwardSlashes(platform::LowerAscii(relative));
}

}  // namespace

std::string SourceLedger::Key(const std::string& source) {
  std::string key;
  key.reserve(source.size());
  for (char c : source) {
    if (platform::IsPathSeparator(c)) {
      if (!key.empty() && key.back() == '/') continue;
      c = '/';
    }
    key.push_back(c);
  }
  return key;
}

bool SourceLedger::NoteKeptBack(const std::string& source) {
  return keptBack_.insert(Key(source)).second;
}

bool SourceLedger::IsKeptBack(const std::string& source) const {
  return keptBack_.count(Key(source)) != 0;
}

void SourceLedger::NoteStoredInPack(const std::string& source) {
  storedInPack_.insert(Key(source));
}

bool SourceLedger::WasStoredInPack(const std::string& source) const {
  return storedInPack_.count(Key(source)) != 0;
}

bool SourceLedger::WasRemoved(const std::string& source) const {
  return removed_.count(Key(source)) != 0;
}

void SourceLedger::NoteMovedAside(const std::string& target, const std::string& relative,
                                  const std::string& base) {
  movedAside_.insert(Key(target));
  // Its directories go at the stage's end when this emptied them.
  emptied_.NoteDeleted(relative, base);
}

bool SourceLedger::WasMovedAside(const std::string& path) const {
  return movedAside_.count(Key(path)) != 0;
}

void SourceLedger::PlanOverwrites(const std::vector<std::string>& entries,
                                  const std::string& base) {
  // The latest source seen for each landing name, walking the list backwards,
  // so each entry learns which later one takes its name.
  std::map<std::string, std::string> laterSource;
  // The same file met twice (the pack search and the walk spell it
  // differently) overwrites nothing; it counts at its last place.
  std::set<std::string> seen;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const std::string relative = internal::RelativeTo(*it, base);
    if (relative.empty()) continue;
    const std::string key = Key(*it);
    if (!seen.insert(key).second) continue;
    auto [slot, inserted] = laterSource.emplace(LandingName(relative), key);
    if (inserted) continue;
    overwrittenBy_.emplace(key, slot->second);
    slot->second = key;
  }
}

const std::string* SourceLedger::OverwrittenBy(const std::string& source) const {
  const auto it = overwrittenBy_.find(Key(source));
  return it == overwrittenBy_.end() ? nullptr : &it->second;
}

SourceLedger::SourceLedger(platform::Env* env)
    : env_(env),
      release_(env),
      emptied_([env](const std::string& path) { return env->RemoveDirectory(path).ok(); }) {}

bool SourceLedger::Delete(const std::string& source, const std::string& relative,
                          const std::string& base, std::uint64_t size) {
  // A read-only source refuses the deletion where the system asks the file
  // (Windows): its attributes are cleared only then.
  bool deleted = release_.DeleteFile(source, size).ok();
  if (!deleted && env_->SetAttributesNormal(source).ok()) {
    deleted = release_.DeleteFile(source, size).ok();
  }
  if (deleted) removed_.insert(Key(source));
  emptied_.NoteDeleted(relative, base);
  return deleted;
}

void SourceLedger::Release() {
  release_.Release();
  release_.SetHolding(false);
}

void SourceLedger::RemoveEmptied(const std::function<void(const std::string&)>& say) {
  emptied_.RemoveAll(say);
}

void SourceLedger::NoteDirectoriesBelow(const std::string& base) {
  emptied_.NoteDirectoriesBelow(base);
}

}  // namespace update
