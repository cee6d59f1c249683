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
// set's name rules. The library's progress lines stay off standard output.
// Files that could not be read or stored are named, with the reason, in
// failures; the others are stored whatever happens to them.
void StoreTree(pkfs::CPKFSF& fileSystem, const std::vector<SourceFile>& files,
               ProgressBar* progress, std::vector<std::string>* failures);

}  // namespace pkfstool

#endif  // PKFSTOOL_STORE_TREE_H_
