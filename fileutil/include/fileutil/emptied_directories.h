// The directories a run may have emptied by deleting files below a base,
// removed in one pass at the end of a stage rather than after every file.
//
// A directory that still holds something is asked about once, not once per
// file that was deleted from it; the levels above a directory that stays are
// known to stay without asking; a deleted file's own path is never handed to
// the directory removal.
#ifndef MAROVETIN_FILEUTIL_EMPTIED_DIRECTORIES_H_
#define MAROVETIN_FILEUTIL_EMPTIED_DIRECTORIES_H_

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

namespace fileutil {

class EmptiedDirectories {
 public:
  // Removes one directory if it is empty; true when it is gone.
  using Remover = std::function<bool(const std::string& path)>;
  using Output = std::function<void(const std::string& text)>;

  // remover: the directory removal (the system Env's when empty).
  explicit EmptiedDirectories(Remover remover = nullptr);

  // Notes that the file relative (below base; "\" or "/" between levels) was
  // deleted, or was to be: every directory level before its last separator
  // may now be empty. base itself is never removed here. Levels from a "." or
  // ".." on are not noted.
  void NoteDeleted(const std::string& relative, const std::string& base);

  // Notes every directory below base that the file search would enter (none
  // whose name begins with "."), in one walk: what a run that was cut short
  // emptied, or what was delivered empty, goes with the rest. A directory
  // that holds anything else (a file, a link, a directory the search passes
  // over) is known to stay and is not tried.
  void NoteDirectoriesBelow(const std::string& base);

  // Removes the noted directories, deepest first, each tried at most once. A
  // directory that stays (still holding something, or no longer a directory)
  // keeps every noted level above it, which is then not tried. For each level
  // that stays, "Remove Directory:" and its path (no line end) go to output
  // (standard output when empty). Forgets every note.
  void RemoveAll(const Output& output = nullptr);

  std::size_t size() const { return levels_.size(); }

 private:
  struct Level {
    std::string parent;  // the noted level above, empty at the top
    std::size_t depth = 0;
    bool stays = false;
  };

  Remover remover_;
  std::unordered_map<std::string, Level> levels_;  // by path
};

}  // namespace fileutil

#endif  // MAROVETIN_FILEUTIL_EMPTIED_DIRECTORIES_H_
