// extract: stored files, decoded, written under a directory.
#include <memory>
#include <string>
#include <vector>

#include "pkfstool/commands.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/progress_bar.h"
#include "pkfstool/stored_name.h"
#include "pkfstool/target_tree.h"
#include "platform/path_spelling.h"

namespace pkfstool {

namespace {

using platform::Status;

// A stored name becomes a path below the target only when every level is a
// plain name (see UnsafeNameReason), and is written there only through
// directories that are not links (see TargetTree).
Status Extract(PackSet& set, TargetTree& target, const pkfs::FileHead& head) {
  const std::string unsafe = UnsafeNameReason(head.name);
  if (!unsafe.empty()) {
    return Status::Error(Status::Code::kInvalid, PrintableName(head.name),
                         "not extracted: " + unsafe);
  }
  Status status;
  std::unique_ptr<TargetTree::File> out = target.Create(NameLevels(head.name), &status);
  if (out == nullptr) return status;
  status = set.ReadEntry(head, [&out](const unsigned char* data, std::size_t length) {
    return out->Append(data, length);
  });
  if (!status.ok()) return status;
  return out->Close();
}

}  // namespace

int RunExtract(const Invocation& invocation, platform::Env* env) {
  const std::string& setPath = invocation.operands[0];
  PackSet set(env);
  Status status = set.Open(setPath);
  if (!status.ok()) return Fail(status);

  int result = kExitOk;
  // By stored key: a writer's commit makes the set load again, and its heads with it.
  std::vector<std::string> keys;
  if (invocation.operands.size() == 1) {
    for (const pkfs::FileHead* head : set.Entries()) keys.push_back(head->name);
  } else {
    for (std::size_t i = 1; i < invocation.operands.size(); ++i) {
      const pkfs::FileHead* head = set.Find(invocation.operands[i]);
      if (head == nullptr) {
        result = Fail(invocation.operands[i] + ": not stored in " + setPath);
      } else {
        keys.push_back(head->name);
      }
    }
  }
  std::string directory = invocation.directory.empty() ? "." : invocation.directory;
  while (directory.size() > 1 && platform::IsPathSeparator(directory.back())) {
    directory.pop_back();
  }
  std::unique_ptr<TargetTree> target = TargetTree::Open(directory, &status);
  if (target == nullptr) return Fail(status);
  ProgressBar progress("extract", keys.size());
  for (const std::string& key : keys) {
    for (int attempt = 0;; ++attempt) {
      const pkfs::FileHead* head = set.FindKey(key);
      status = head != nullptr ? Extract(set, *target, *head)
                               : Status::Error(Status::Code::kNotFound, PrintableName(key),
                                               "removed by another process; not extracted");
      if (status.code() != Status::Code::kBusy || attempt + 1 == kReadAttempts) break;
      PauseBeforeAttempt(attempt + 1);
      const Status reloaded = set.Open(setPath);
      if (!reloaded.ok()) return Fail(reloaded);
    }
    if (!status.ok()) {
      progress.Message("pkfs: " + status.ToString() + "\n");
      result = kExitFailure;
    }
    progress.Step();
  }
  return result == kExitOk ? AfterReading(set) : result;
}

}  // namespace pkfstool
