// Storing a list of files in a set in one go.
#ifndef PKFSTOOL_STORE_TREE_H_
#define PKFSTOOL_STORE_TREE_H_

#include <string>
#include <vector>

#include "pkfs/pkfsf.h"

namespace pkfstool {

class ProgressBar;

struct SourceFile {
  std::string path;  // where the file is read from
  std::string name;  // the name it is stored under (normalised by the set)
};

// Stores every file under its name, replacing stored copies, through the
// set's name rules, in one batch: the set on disk takes all of them at once
// or, when the commit fails, none. The library's progress lines stay off
// standard output. Files that could not be read or stored, and a failed
// commit, are named with the reason in failures.
void StoreTree(pkfs::CPKFSF& fileSystem, const std::vector<SourceFile>& files,
               ProgressBar* progress, std::vector<std::string>* failures);

}  // namespace pkfstool

#endif  // PKFSTOOL_STORE_TREE_H_
