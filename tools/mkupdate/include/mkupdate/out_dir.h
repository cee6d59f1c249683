// The directory the update is written to: checked before anything is read,
// made when absent, written through temporary names in a scratch directory of
// its own, and emptied again (or removed, when the run made it) on failure.
#ifndef MKUPDATE_OUT_DIR_H_
#define MKUPDATE_OUT_DIR_H_

#include <atomic>
#include <string>

#include "platform/status.h"

namespace mkupdate {

// The scratch directory's name below OUT. It begins with ".", so the updater
// never searches it, and a stopped run's leftovers are never applied.
inline constexpr char kScratchName[] = ".marovetin-mkupdate-scratch";

// Why OLD, NEW and OUT cannot be used together; ok when they can. *usage is
// set when the command line is at fault (OUT not empty, directories inside
// one another) rather than what is on disk (a missing directory).
platform::Status CheckDirectories(const std::string& oldDir, const std::string& newDir,
                                  const std::string& outDir, bool* usage);

class OutDir {
 public:
  explicit OutDir(std::string path) : path_(std::move(path)) {}
  OutDir(const OutDir&) = delete;
  OutDir& operator=(const OutDir&) = delete;

  // Makes OUT when it is absent, and the scratch directory in it.
  platform::Status Create();
  const std::string& path() const { return path_; }
  // A temporary path in the scratch directory that no other call returns.
  std::string ScratchPath();
  // Makes the directories of OUT/relative; safe from several threads.
  platform::Status MakeParents(const std::string& relative) const;
  // Removes the scratch directory and, when payloads were written, makes
  // them durable.
  platform::Status Finish(bool wrote);
  // Takes back what the run wrote: OUT itself when the run made it, else its
  // contents.
  void Discard();

 private:
  std::string path_;
  bool made_ = false;
  std::atomic<unsigned long> nextScratch_{0};
};

}  // namespace mkupdate

#endif  // MKUPDATE_OUT_DIR_H_
