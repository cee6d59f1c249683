// extract: stored files, decoded, written under a directory.
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pkfstool/commands.h"
#include "pkfstool/pack_set.h"
#include "pkfstool/progress_bar.h"
#include "platform/output_file.h"

namespace pkfstool {

namespace {

using platform::Status;

// A stored name becomes a path below the target directory only when every
// level is a plain name: no absolute path, no "." or ".." level, no empty
// level and no zero byte, so nothing is written outside the directory.
bool IsSafeRelativeName(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string level = name.substr(start, end - start);
    if (level.empty() || level == "." || level == "..") return false;
    start = end + 1;
  }
  return true;
}

class Extractor {
 public:
  Extractor(PackSet& set, std::string directory) : set_(set), directory_(std::move(directory)) {}

  Status MakeDirectories(const std::string& path, std::size_t from) {
    for (std::size_t slash = path.find_first_of("/\\", from); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1)) {
      if (slash == 0) continue;
      const std::string level = path.substr(0, slash);
      if (made_.count(level) != 0) continue;
      Status status = platform::MakeDirectoryExact(level);
      if (!status.ok()) return status;
      made_.insert(level);
    }
    return Status::Ok();
  }

  Status Extract(const pkfs::FileHead& head) {
    if (!IsSafeRelativeName(head.name)) {
      return Status::Error(Status::Code::kInvalid, head.name,
                           "not extracted: the name would lead outside " + directory_);
    }
    const std::string path = directory_ + "/" + head.name;
    Status status = MakeDirectories(path, directory_.size() + 1);
    if (!status.ok()) return status;
    std::unique_ptr<platform::OutputFile> out = platform::OutputFile::Create(path, &status);
    if (out == nullptr) return status;
    status = set_.ReadEntry(head, [&out](const unsigned char* data, std::size_t length) {
      return out->Append(data, length);
    });
    if (!status.ok()) return status;
    return out->Close();
  }

  Status MakeTarget() { return MakeDirectories(directory_ + "/", 0); }

 private:
  PackSet& set_;
  std::string directory_;
  std::unordered_set<std::string> made_;
};

}  // namespace

int RunExtract(const Invocation& invocation) {
  const std::string& setPath = invocation.operands[0];
  PackSet set;
  Status status = set.Open(setPath);
  if (!status.ok()) return Fail(status);

  int result = kExitOk;
  std::vector<const pkfs::FileHead*> heads;
  if (invocation.operands.size() == 1) {
    heads = set.Entries();
  } else {
    for (std::size_t i = 1; i < invocation.operands.size(); ++i) {
      const pkfs::FileHead* head = set.Find(invocation.operands[i]);
      if (head == nullptr) {
        result = Fail(invocation.operands[i] + ": not stored in " + setPath);
      } else {
        heads.push_back(head);
      }
    }
  }
  std::string directory = invocation.directory.empty() ? "." : invocation.directory;
  while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\')) {
    directory.pop_back();
  }
  Extractor extractor(set, directory);
  status = extractor.MakeTarget();
  if (!status.ok()) return Fail(status);
  ProgressBar progress("extract", heads.size());
  for (const pkfs::FileHead* head : heads) {
    status = extractor.Extract(*head);
    if (!status.ok()) {
      progress.Message("pkfs: " + status.ToString() + "\n");
      result = kExitFailure;
    }
    progress.Step();
  }
  return result;
}

}  // namespace pkfstool
