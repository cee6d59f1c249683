// The fault-injecting Env and the files it hands out.
#include "fault_env.h"

#include <cerrno>
#include <utility>

namespace testing_support {

using platform::RandomAccessFile;
using platform::SequentialFile;

const char* IoCallName(IoCall call) {
  static const char* const kNames[kIoCallKinds] = {"write", "read",  "sync", "open",
                                                   "rename", "link", "remove", "mkdir",
                                                   "rmdir", "list", "stat", "chmod"};
  return kNames[static_cast<int>(call)];
}

namespace {

// A file of the wrapped Env whose reads, writes and syncs are asked about
// first.
class FaultFile : public RandomAccessFile {
 public:
  FaultFile(std::unique_ptr<RandomAccessFile> file, FaultEnv* env)
      : RandomAccessFile(file->path()), file_(std::move(file)), env_(env) {}

  long long ReadAt(std::uint64_t offset, void* data, std::size_t length) override {
    const Status verdict = env_->Ask(IoCall::kRead, path());
    if (!verdict.ok()) {
      errno = verdict.error();
      return -1;
    }
    return file_->ReadAt(offset, data, length);
  }
  Status WritePart(std::uint64_t offset, const void* data, std::size_t length,
                   std::size_t* written) override {
    *written = 0;
    Status verdict = env_->Ask(IoCall::kWrite, path());
    if (!verdict.ok()) return verdict;
    WriteDecision decision;
    if (env_->onWrite) decision = env_->onWrite(path(), offset, length);
    if (decision.kind == WriteDecision::kProceed) {
      return file_->WritePart(offset, data, length, written);
    }
    const Status failed = Status::FromErrno(decision.error != 0 ? decision.error : EIO, path());
    if (decision.kind == WriteDecision::kFail) return failed;
    if (decision.tearAfter >= length) return file_->WritePart(offset, data, length, written);
    if (decision.tearAfter > 0) {
      const Status torn = file_->WritePart(offset, data, decision.tearAfter, written);
      if (!torn.ok()) return torn;
    }
    return failed;
  }
  Status Sync() override {
    const Status verdict = env_->AskSync(path());
    return verdict.ok() ? file_->Sync() : verdict;
  }
  void StartWriteback() override { file_->StartWriteback(); }
  std::uint64_t Size() const override { return file_->Size(); }
  Status TryLockExclusive(bool wait) override { return file_->TryLockExclusive(wait); }
  bool IsFileAt(const std::string& path) const override { return file_->IsFileAt(path); }

 private:
  std::unique_ptr<RandomAccessFile> file_;
  FaultEnv* env_;
};

// A sequential file of the wrapped Env whose reads are asked about first.
class FaultSequentialFile : public SequentialFile {
 public:
  FaultSequentialFile(std::unique_ptr<SequentialFile> file, FaultEnv* env)
      : SequentialFile(file->path()), file_(std::move(file)), env_(env) {}

  Status Read(void* data, std::size_t length, std::size_t* got) override {
    *got = 0;
    const Status verdict = env_->Ask(IoCall::kRead, path());
    return verdict.ok() ? file_->Read(data, length, got) : verdict;
  }
  Status ReadSome(void* data, std::size_t length, std::size_t* got) override {
    *got = 0;
    const Status verdict = env_->Ask(IoCall::kRead, path());
    return verdict.ok() ? file_->ReadSome(data, length, got) : verdict;
  }
  Status Rewind() override { return file_->Rewind(); }

 private:
  std::unique_ptr<SequentialFile> file_;
  FaultEnv* env_;
};

}  // namespace

Status FaultEnv::Ask(IoCall call, const std::string& path) {
  counts_[static_cast<int>(call)].fetch_add(1);
  const int error = fault ? fault(call) : 0;
  return error == 0 ? Status::Ok() : Status::FromErrno(error, path);
}

Status FaultEnv::AskSync(const std::string& path) {
  const Status verdict = Ask(IoCall::kSync, path);
  if (!verdict.ok() || !onSync) return verdict;
  return onSync(path);
}

Status FaultEnv::OpenFile(const std::string& path, RandomAccessFile::Mode mode,
                          std::unique_ptr<RandomAccessFile>* file) {
  file->reset();
  Status status = Ask(IoCall::kOpen, path);
  std::unique_ptr<RandomAccessFile> opened;
  if (status.ok()) status = target()->OpenFile(path, mode, &opened);
  if (status.ok()) file->reset(new FaultFile(std::move(opened), this));
  return status;
}

Status FaultEnv::OpenSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* file,
                                    platform::FileStamp* stamp) {
  file->reset();
  Status status = Ask(IoCall::kOpen, path);
  std::unique_ptr<SequentialFile> opened;
  if (status.ok()) status = target()->OpenSequentialFile(path, &opened, stamp);
  if (status.ok()) file->reset(new FaultSequentialFile(std::move(opened), this));
  return status;
}

Status FaultEnv::OpenStream(const std::string& path, const char* mode, std::FILE** stream) {
  *stream = nullptr;
  const Status verdict = Ask(IoCall::kOpen, path);
  return verdict.ok() ? target()->OpenStream(path, mode, stream) : verdict;
}

Status FaultEnv::WriteUnnamedFile(const std::string& directory, const unsigned char*, std::size_t,
                                  std::unique_ptr<platform::UnnamedFile>* file) {
  file->reset();
  return Status::Error(Status::Code::kInvalid, directory, "no unnamed files under faults");
}

Status FaultEnv::RenameFile(const std::string& from, const std::string& to) {
  const Status verdict = Ask(IoCall::kRename, to);
  return verdict.ok() ? target()->RenameFile(from, to) : verdict;
}

Status FaultEnv::RenameResolvedFile(const std::string& from, const std::string& to) {
  const Status verdict = Ask(IoCall::kRename, to);
  return verdict.ok() ? target()->RenameResolvedFile(from, to) : verdict;
}

Status FaultEnv::LinkAsNewFile(const std::string& source, const std::string& newName) {
  const Status verdict = Ask(IoCall::kLink, source);
  return verdict.ok() ? target()->LinkAsNewFile(source, newName) : verdict;
}

Status FaultEnv::DeleteFile(const std::string& path) {
  const Status verdict = Ask(IoCall::kRemove, path);
  return verdict.ok() ? target()->DeleteFile(path) : verdict;
}

Status FaultEnv::DeleteFileKeeping(const std::string& path, platform::DeletedFile* kept) {
  const Status verdict = Ask(IoCall::kRemove, path);
  return verdict.ok() ? target()->DeleteFileKeeping(path, kept) : verdict;
}

Status FaultEnv::CreateDirectory(const std::string& path) {
  const Status verdict = Ask(IoCall::kMkdir, path);
  return verdict.ok() ? target()->CreateDirectory(path) : verdict;
}

Status FaultEnv::RemoveDirectory(const std::string& path) {
  const Status verdict = Ask(IoCall::kRmdir, path);
  return verdict.ok() ? target()->RemoveDirectory(path) : verdict;
}

Status FaultEnv::ListDirectory(const std::string& path,
                               std::vector<platform::DirectoryEntry>* entries,
                               std::vector<std::string>* directoryLinks) {
  entries->clear();
  const Status verdict = Ask(IoCall::kList, path);
  return verdict.ok() ? target()->ListDirectory(path, entries, directoryLinks) : verdict;
}

Status FaultEnv::StampFile(const std::string& path, platform::FileStamp* stamp) {
  *stamp = platform::FileStamp();
  const Status verdict = Ask(IoCall::kStat, path);
  return verdict.ok() ? target()->StampFile(path, stamp) : verdict;
}

Status FaultEnv::SetAttributesNormal(const std::string& path) {
  const Status verdict = Ask(IoCall::kChmod, path);
  return verdict.ok() ? target()->SetAttributesNormal(path) : verdict;
}

Status FaultEnv::CopyPermissions(const std::string& from, const std::string& to) {
  const Status verdict = Ask(IoCall::kChmod, to);
  return verdict.ok() ? target()->CopyPermissions(from, to) : verdict;
}

Status FaultEnv::GivePermissionsOfDelivered(const std::string& delivered, const std::string& to) {
  const Status verdict = Ask(IoCall::kChmod, to);
  return verdict.ok() ? target()->GivePermissionsOfDelivered(delivered, to) : verdict;
}

Status FaultEnv::SyncDirectory(const std::string& path) {
  const Status verdict = AskSync(path);
  return verdict.ok() ? target()->SyncDirectory(path) : verdict;
}

Status FaultEnv::SyncFileSystemOf(const std::string& path) {
  const Status verdict = AskSync(path);
  return verdict.ok() ? target()->SyncFileSystemOf(path) : verdict;
}

}  // namespace testing_support
