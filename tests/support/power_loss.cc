// The power-loss simulation: a record of what each file holds durably and of
// the writes made since, and the rebuild of files after a simulated crash.
#include "power_loss.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace testing_support {

using platform::GetCurrentDirectory;
using platform::ResolvePath;
using platform::RandomAccessFile;

namespace {

// One spelling per file: resolved and absolute, without a trailing "/" or
// "/.", so that "DATA.pak", "./DATA.pak" and its full path meet.
std::string Key(const std::string& path) {
  std::string resolved = ResolvePath(path.empty() ? std::string(".") : path);
  const bool absolute = !resolved.empty() && (resolved[0] == '/' || resolved[0] == '\\' ||
                                              (resolved.size() > 1 && resolved[1] == ':'));
  if (!absolute) resolved = GetCurrentDirectory() + "/" + resolved;
  for (;;) {
    if (resolved.size() > 2 && resolved.compare(resolved.size() - 2, 2, "/.") == 0) {
      resolved.resize(resolved.size() - 2);
    } else if (resolved.size() > 1 && resolved.back() == '/') {
      resolved.pop_back();
    } else {
      break;
    }
  }
  if (resolved.compare(0, 2, "./") == 0) resolved.erase(0, 2);
  return resolved;
}

std::string Parent(const std::string& key) {
  const std::size_t slash = key.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : key.substr(0, slash);
}

// Plain library streams: the simulation runs on every system, below nothing.
bool ReadWhole(const std::string& path, std::vector<unsigned char>* bytes) {
  bytes->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void WriteWhole(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void Apply(std::vector<unsigned char>* content, std::uint64_t offset, const unsigned char* bytes,
           std::size_t length) {
  const std::size_t end = static_cast<std::size_t>(offset) + length;
  if (content->size() < end) content->resize(end, 0);
  std::copy(bytes, bytes + length, content->begin() + static_cast<std::ptrdiff_t>(offset));
}

// A file of the wrapped Env whose writes the simulator records before they
// reach it and whose syncs it takes in place of the system's.
class PowerLossFile : public RandomAccessFile {
 public:
  PowerLossFile(std::unique_ptr<RandomAccessFile> file, PowerLossEnv* disk)
      : RandomAccessFile(file->path()), file_(std::move(file)), disk_(disk) {}

  long long ReadAt(std::uint64_t offset, void* data, std::size_t length) override {
    return file_->ReadAt(offset, data, length);
  }
  Status WritePart(std::uint64_t offset, const void* data, std::size_t length,
                   std::size_t* written) override {
    *written = 0;
    if (length > 0 && !disk_->OnWrite(path(), offset, data, length)) {
      return Status::FromErrno(EIO, path());
    }
    return file_->WritePart(offset, data, length, written);
  }
  Status Sync() override { return disk_->OnSync(PowerLossEnv::SyncScope::kFile, path()); }
  void StartWriteback() override {}
  std::uint64_t Size() const override { return file_->Size(); }
  Status TryLockExclusive(bool wait) override { return file_->TryLockExclusive(wait); }
  bool IsFileAt(const std::string& path) const override { return file_->IsFileAt(path); }

 private:
  std::unique_ptr<RandomAccessFile> file_;
  PowerLossEnv* disk_;
};

Status Refused(const std::string& path) { return Status::FromErrno(EIO, path); }

}  // namespace

Status PowerLossEnv::OpenFile(const std::string& path, RandomAccessFile::Mode mode,
                              std::unique_ptr<RandomAccessFile>* file) {
  file->reset();
  if (mode == RandomAccessFile::Mode::kCreateReadWrite && !OnCreate(path)) return Refused(path);
  std::unique_ptr<RandomAccessFile> opened;
  Status status = target()->OpenFile(path, mode, &opened);
  if (status.ok()) file->reset(new PowerLossFile(std::move(opened), this));
  return status;
}

Status PowerLossEnv::WriteUnnamedFile(const std::string& directory, const unsigned char*,
                                      std::size_t, std::unique_ptr<platform::UnnamedFile>* file) {
  file->reset();
  return Status::Error(Status::Code::kInvalid, directory, "no unnamed files on a simulated disk");
}

Status PowerLossEnv::LinkAsNewFile(const std::string& source, const std::string&) {
  return Status::FromErrno(ENOSYS, source);
}

Status PowerLossEnv::RenameFile(const std::string& from, const std::string& to) {
  if (!OnRename(from, to)) return Refused(to);
  return target()->RenameFile(from, to);
}

Status PowerLossEnv::RenameResolvedFile(const std::string& from, const std::string& to) {
  if (!OnRename(from, to)) return Refused(to);
  return target()->RenameResolvedFile(from, to);
}

Status PowerLossEnv::DeleteFile(const std::string& path) {
  if (!OnDelete(path)) return Refused(path);
  return target()->DeleteFile(path);
}

Status PowerLossEnv::DeleteFileKeeping(const std::string& path, platform::DeletedFile* kept) {
  if (!OnDelete(path)) return Refused(path);
  return target()->DeleteFileKeeping(path, kept);
}

Status PowerLossEnv::SyncDirectory(const std::string& path) {
  return OnSync(SyncScope::kDirectory, path);
}

Status PowerLossEnv::SyncFileSystemOf(const std::string& path) {
  return OnSync(SyncScope::kFileSystem, path);
}

std::size_t PowerLossEnv::unsyncedWrites() const {
  std::size_t count = 0;
  for (const File& file : files_) count += file.pending.size();
  return count;
}

int PowerLossEnv::NewFile() {
  files_.emplace_back();
  return static_cast<int>(files_.size() - 1);
}

PowerLossEnv::Name& PowerLossEnv::Track(const std::string& key) {
  auto it = names_.find(key);
  if (it != names_.end()) return it->second;
  Name& name = names_[key];
  std::vector<unsigned char> content;
  if (ReadWhole(key, &content)) {
    name.durable = NewFile();
    files_[static_cast<std::size_t>(name.durable)].durable = std::move(content);
  }
  return name;
}

void PowerLossEnv::MakeDurable(File* file) {
  for (const Write& write : file->pending) {
    if (write.truncate) file->durable.clear();
    Apply(&file->durable, write.offset, write.bytes.data(), write.bytes.size());
  }
  file->pending.clear();
}

bool PowerLossEnv::WriteAllowed() {
  if (stopped_) return false;
  ++writes_;
  if (stopAtWrite_ > 0 && writes_ >= stopAtWrite_) stopped_ = true;
  return !stopped_;
}

bool PowerLossEnv::OnCreate(const std::string& path) {
  if (stopped_) return false;
  Name& name = Track(Key(path));
  if (name.current() == kNoFile) {
    // A new file stays in its directory only once that directory is synced.
    const int file = NewFile();
    name.since.push_back(file);
  } else {
    // Emptying a file that exists is not durable before its next sync either.
    files_[static_cast<std::size_t>(name.current())].pending.push_back(Write{0, {}, true});
  }
  return true;
}

bool PowerLossEnv::OnWrite(const std::string& path, std::uint64_t offset, const void* data,
                                 std::size_t length) {
  if (!WriteAllowed()) return false;
  Name& name = Track(Key(path));
  if (name.current() == kNoFile) name.since.push_back(NewFile());  // made behind our back
  const auto* bytes = static_cast<const unsigned char*>(data);
  files_[static_cast<std::size_t>(name.current())].pending.push_back(
      Write{offset, std::vector<unsigned char>(bytes, bytes + length)});
  return true;
}

bool PowerLossEnv::OnRename(const std::string& from, const std::string& to) {
  if (stopped_) return false;
  const std::string fromKey = Key(from);
  const std::string toKey = Key(to);
  const int file = Track(fromKey).current();
  if (file == kNoFile || fromKey == toKey) return true;  // the system says what went wrong
  Track(toKey).since.push_back(file);
  names_[fromKey].since.push_back(kNoFile);
  return true;
}

bool PowerLossEnv::OnDelete(const std::string& path) {
  if (stopped_) return false;
  Name& name = Track(Key(path));
  if (name.current() != kNoFile) name.since.push_back(kNoFile);
  return true;
}

Status PowerLossEnv::OnSync(SyncScope scope, const std::string& path) {
  ++syncs_;
  if (!stopped_ && stopAt_ > 0 && syncs_ >= stopAt_) stopped_ = true;
  if (stopped_) return Status::Error(Status::Code::kIoError, path, "power lost");
  const std::string key = Key(path);
  switch (scope) {
    case SyncScope::kFile: {
      // The data and what is needed to reach them; not the directory entry.
      const int file = Track(key).current();
      if (file != kNoFile) MakeDurable(&files_[static_cast<std::size_t>(file)]);
      break;
    }
    case SyncScope::kDirectory:
      for (auto& entry : names_) {
        Name& name = entry.second;
        if (Parent(entry.first) != key || name.since.empty()) continue;
        name.durable = name.since.back();
        name.since.clear();
      }
      break;
    case SyncScope::kFileSystem:
      for (File& file : files_) MakeDurable(&file);
      for (auto& entry : names_) {
        Name& name = entry.second;
        name.durable = name.current();
        name.since.clear();
      }
      break;
  }
  return Status::Ok();
}

void PowerLossEnv::Crash(std::uint32_t seed) const {
  std::mt19937 random(seed);
  // What each file holds after the crash, whichever name reaches it.
  std::vector<std::vector<unsigned char>> contents;
  contents.reserve(files_.size());
  for (const File& file : files_) {
    std::vector<unsigned char> content = file.durable;
    for (const Write& write : file.pending) {
      const unsigned choice = random() % 4;
      if (choice == 0) continue;  // lost
      if (write.truncate) {
        content.clear();
        continue;
      }
      if (choice == 1) {  // kept whole
        Apply(&content, write.offset, write.bytes.data(), write.bytes.size());
        continue;
      }
      // Torn: each sector it touches kept or lost on its own.
      std::size_t done = 0;
      while (done < write.bytes.size()) {
        const std::uint64_t at = write.offset + done;
        const std::size_t inSector = kSectorBytes - static_cast<std::size_t>(at % kSectorBytes);
        const std::size_t piece = std::min(inSector, write.bytes.size() - done);
        if (random() % 2 == 0) Apply(&content, at, write.bytes.data() + done, piece);
        done += piece;
      }
    }
    contents.push_back(std::move(content));
  }
  for (const auto& entry : names_) {
    const Name& name = entry.second;
    // Any of the files the name was given since its directory's last sync.
    const std::size_t pick = random() % (name.since.size() + 1);
    const int file = pick == 0 ? name.durable : name.since[pick - 1];
    if (file == kNoFile) {
      std::remove(entry.first.c_str());
      continue;
    }
    std::error_code ignored;
    std::filesystem::create_directories(Parent(entry.first), ignored);
    WriteWhole(entry.first, contents[static_cast<std::size_t>(file)]);
  }
}

}  // namespace testing_support
