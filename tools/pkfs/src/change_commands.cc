// add and rm: files and trees into a set, stored files out of it.
#include <string>
#include <vector>

#include "pkfstool/commands.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/progress_bar.h"
#include "pkfstool/source_files.h"
#include "pkfstool/store_tree.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"

namespace pkfstool {

namespace {

// A path given to add must stay below its directory: its name in the set is
// the path itself.
bool IsPlainRelativePath(const std::string& path) {
  if (path.empty() || platform::IsPathSeparator(path[0])) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 || path.compare(start, end - start, ".") == 0) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

int RunAdd(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  const std::string base =
      invocation.directory.empty() ? std::string() : invocation.directory + "/";
  SourceList sources;
  // Every path is checked before the set is touched.
  for (std::size_t i = 1; i < invocation.operands.size(); ++i) {
    std::string relative = invocation.operands[i];
    while (relative.size() > 1 && platform::IsPathSeparator(relative.back())) {
      relative.pop_back();
    }
    while (relative.size() > 2 && relative[0] == '.' &&
           platform::IsPathSeparator(relative[1])) {
      relative.erase(0, 2);
    }
    // "." stands for everything in the directory, each file under its own name.
    if (relative == ".") {
      const std::string path = base.empty() ? std::string(".") : invocation.directory;
      if (!platform::IsDirectory(path)) return Fail(path + ": no such directory");
      CollectSources(path, std::string(), &sources);
      continue;
    }
    if (!IsPlainRelativePath(relative)) {
      std::fprintf(stderr, "pkfs: %s: give a path below %s (its name in the set is the path)\n",
                   relative.c_str(), base.empty() ? "the current directory" : base.c_str());
      return kExitUsage;
    }
    const std::string path = base + relative;
    if (!platform::PathExists(path) && !platform::IsSymbolicLink(path)) {
      return Fail(path + ": no such file or directory");
    }
    CollectSources(path, relative, &sources);
  }
  DropCaseTwins(&sources);
  for (const std::string& skipped : sources.skipped) Fail(skipped);

  PackSet set(env);
  platform::Status status = set.OpenOrCreate(setPath);
  if (!status.ok()) return Fail(status);
  // A damaged set is not written; nothing is read for it.
  status = set.fileSystem().WriteRefusal();
  if (!status.ok()) return Fail(status);
  for (const std::string& rule : invocation.rules) set.fileSystem().AddNameRule(rule, 0);
  std::vector<std::string> failures;
  {
    ProgressBar progress("add", sources.files.size());
    StoreTree(set.fileSystem(), sources.files, &progress, &failures);
  }
  for (const std::string& failure : failures) Fail(failure);
  return failures.empty() && sources.skipped.empty() ? kExitOk : kExitFailure;
}

int RunRemove(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  PackSet set(env);
  platform::Status status = set.OpenForWriting(setPath);
  if (!status.ok()) return Fail(status);
  // A damaged set is not written; nothing is removed from it.
  status = set.fileSystem().WriteRefusal();
  if (!status.ok()) return Fail(status);
  int result = kExitOk;
  // All names go in one commit: two syncs per changed volume, however many.
  std::vector<std::string> removed;
  set.fileSystem().BeginBatch();
  for (std::size_t i = 1; i < invocation.operands.size(); ++i) {
    const std::string& name = invocation.operands[i];
    if (set.Find(name) == nullptr) {
      result = Fail(name + ": not stored in " + setPath);
      continue;
    }
    if (!set.fileSystem().RemoveFile(StoredKey(name))) {
      const platform::Status& why = set.fileSystem().lastFailure();
      result = Fail(name + ": could not be removed: " +
                    (why.ok() ? "writing " + setPath + " failed" : why.ToString()));
      continue;
    }
    removed.push_back(name);
  }
  status = set.fileSystem().CommitBatch();
  if (!status.ok()) {
    // Nothing of the batch was written: every name is still stored.
    for (const std::string& name : removed) {
      result = Fail(name + ": could not be removed: " + status.ToString());
    }
  }
  return result;
}

}  // namespace pkfstool
