// The power-loss simulation: a record of what each file holds durably and of
// the writes made since, and the rebuild of files after a simulated crash.
#include "platform/power_loss.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/file_system.h"

namespace platform {

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

}  // namespace

PowerLossSimulator::PowerLossSimulator() { SetFileEventObserver(this); }

PowerLossSimulator::~PowerLossSimulator() { SetFileEventObserver(nullptr); }

std::size_t PowerLossSimulator::unsyncedWrites() const {
  std::size_t count = 0;
  for (const auto& file : files_) count += file.second.pending.size();
  return count;
}

PowerLossSimulator::File& PowerLossSimulator::Track(const std::string& key) {
  auto it = files_.find(key);
  if (it != files_.end()) return it->second;
  File& file = files_[key];
  file.existed = ReadWhole(key, &file.durable);
  return file;
}

void PowerLossSimulator::MakeDurable(File* file) {
  for (const Write& write : file->pending) {
    Apply(&file->durable, write.offset, write.bytes.data(), write.bytes.size());
  }
  file->pending.clear();
  file->existed = true;
}

bool PowerLossSimulator::OnCreate(const std::string& path) {
  if (stopped_) return false;
  const std::string key = Key(path);
  if (files_.count(key) != 0) return true;
  File& file = Track(key);
  // A file that did not exist stays in its directory only once that
  // directory is synced; a truncation of one that did is not durable either,
  // so its old content is what a crash may leave.
  file.entryDurable = file.existed;
  return true;
}

bool PowerLossSimulator::OnWrite(const std::string& path, std::uint64_t offset, const void* data,
                                 std::size_t length) {
  if (stopped_) return false;
  File& file = Track(Key(path));
  const auto* bytes = static_cast<const unsigned char*>(data);
  file.pending.push_back(Write{offset, std::vector<unsigned char>(bytes, bytes + length)});
  return true;
}

Status PowerLossSimulator::OnSync(SyncScope scope, const std::string& path) {
  ++syncs_;
  if (!stopped_ && stopAt_ > 0 && syncs_ >= stopAt_) stopped_ = true;
  if (stopped_) return Status::Error(Status::Code::kIoError, path, "power lost");
  const std::string key = Key(path);
  for (auto& entry : files_) {
    File& file = entry.second;
    switch (scope) {
      case SyncScope::kFile:
        // The data and what is needed to reach them; not the directory entry.
        if (entry.first == key) MakeDurable(&file);
        break;
      case SyncScope::kDirectory:
        if (Parent(entry.first) == key) file.entryDurable = true;
        break;
      case SyncScope::kFileSystem:
        MakeDurable(&file);
        file.entryDurable = true;
        break;
    }
  }
  return Status::Ok();
}

void PowerLossSimulator::Crash(std::uint32_t seed) const {
  std::mt19937 random(seed);
  for (const auto& entry : files_) {
    const File& file = entry.second;
    const bool hasEntry = file.existed || !file.pending.empty();
    if (!hasEntry || (!file.entryDurable && random() % 2 == 0)) {
      std::remove(entry.first.c_str());
      continue;
    }
    std::vector<unsigned char> content = file.durable;
    for (const Write& write : file.pending) {
      const unsigned choice = random() % 4;
      if (choice == 0) continue;  // lost
      if (choice == 1) {          // kept whole
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
    WriteWhole(entry.first, content);
  }
}

}  // namespace platform
