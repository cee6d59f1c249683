// Files written below an extraction target without ever following a link
// inside it. Each level is opened relative to the one above it (openat with
// O_NOFOLLOW) and made when missing; a level that is a link, or that is not a
// directory, stops that one file. An existing regular file is removed and
// created anew, never written through, so that a hard link in its place
// cannot carry the bytes elsewhere; a link or anything else in its place
// stops the file. The target itself is taken as the user named it.
#ifndef PKFSTOOL_TARGET_TREE_H_
#define PKFSTOOL_TARGET_TREE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace pkfstool {

class TargetTree {
 public:
  // One file being written.
  class File {
   public:
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    // The failures name the file.
    platform::Status Append(const void* data, std::size_t length);
    platform::Status Close();

   private:
    friend class TargetTree;
    File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    std::string path_;
  };

  // Opens the target directory, making it (and its parents) when missing.
  static std::unique_ptr<TargetTree> Open(const std::string& directory, platform::Status* status);
  ~TargetTree();
  TargetTree(const TargetTree&) = delete;
  TargetTree& operator=(const TargetTree&) = delete;

  // Starts the file whose levels below the target are levels (plain names),
  // making its directories. Null, with *status naming the path and the
  // reason, when a level is a link or not a directory, or the name is taken
  // by something that is not a regular file.
  std::unique_ptr<File> Create(const std::vector<std::string>& levels, platform::Status* status);

 private:
  TargetTree(int root, const std::string& directory);
  // Opens (making it when missing) the directory of levels[0..count), reusing
  // the levels the last file shared. -1 with *status set on failure.
  int OpenDirectory(const std::vector<std::string>& levels, std::size_t count,
                    const std::string& file, platform::Status* status);
  void CloseFrom(std::size_t depth);

  int root_;
  std::string prefix_;  // how paths below the target are named: "DIR/", or none for "."
  // The directories of the last file, outermost first: (name, descriptor).
  std::vector<std::pair<std::string, int>> open_;
};

}  // namespace pkfstool

#endif  // PKFSTOOL_TARGET_TREE_H_
