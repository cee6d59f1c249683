// What add stores: the files named on its command line and the files of the
// trees named there, each checked before the set is touched. Whatever the
// set could not hold as it is (an empty file, a name that holds "\", a
// second name differing only in letter case) and whatever is not a regular
// file (a link, a pipe, a device) is left out and named with the reason.
#ifndef PKFSTOOL_SOURCE_FILES_H_
#define PKFSTOOL_SOURCE_FILES_H_

#include <string>
#include <vector>

#include "pkfstool/store_tree.h"

namespace pkfstool {

struct SourceList {
  std::vector<SourceFile> files;
  std::vector<std::string> skipped;  // "path: reason", one per path left out
};

// Adds path, stored as name: a regular file, or every file below a
// directory (directories whose names begin with "." are not searched, as in
// the updater). Links are never followed.
void CollectSources(const std::string& path, const std::string& name, SourceList* list);

// Leaves out every file whose stored name differs from another's only in
// letter case (the set would keep one of them, chosen by the order of the
// listing); a name given twice is stored once.
void DropCaseTwins(SourceList* list);

}  // namespace pkfstool

#endif  // PKFSTOOL_SOURCE_FILES_H_
