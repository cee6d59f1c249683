// The manager: start directory and emulated current directory, the file
// system in force, the name map, the filters and the open handles.
#include "pkfs/fs_manager.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "pkfs/normalize_name.h"
#include "pkfs/file_functions.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "platform/file_system.h"
#include "platform/path_spelling.h"

namespace pkfs {

namespace {

bool EndsInSeparator(const std::string& text) {
  return !text.empty() && platform::IsPathSeparator(text.back());
}

// Puts filter into list, destroying and replacing a filter with the same id.
void PlaceFilter(std::vector<std::unique_ptr<CFSFilter>>& list, std::unique_ptr<CFSFilter> filter) {
  if (filter == nullptr) return;
  for (std::unique_ptr<CFSFilter>& slot : list) {
    if (slot->id == filter->id) {
      slot = std::move(filter);
      return;
    }
  }
  list.push_back(std::move(filter));
}

CFSFilter* FindFilter(const std::vector<std::unique_ptr<CFSFilter>>& list, std::uint32_t id) {
  for (const std::unique_ptr<CFSFilter>& filter : list) {
    if (filter->id == id) return filter.get();
  }
  return nullptr;
}

}  // namespace

CFSManager::CFSManager() { Start(platform::GetCurrentDirectory()); }

CFSManager::CFSManager(const std::string& startDirectory) { Start(startDirectory); }

CFSManager::CFSManager(const std::string& startDirectory, platform::Env* env) : env_(env) {
  Start(startDirectory);
}

CFSManager::~CFSManager() { Shutdown(); }

void CFSManager::Start(const std::string& startDirectory) {
  cwd_ = startDirectory;
  // Loose files are opened under the start directory as the process saw it,
  // drive included.
  baseDir_ = cwd_;
  if (!baseDir_.empty() && !EndsInSeparator(baseDir_)) baseDir_.push_back('/');
  // The emulated directory and the root carry no drive: "D:\Apps" is "\Apps".
  const std::size_t colon = cwd_.find(':');
  if (colon != std::string::npos) cwd_.erase(0, colon + 1);
  root_ = cwd_;
  // Names are cut by the length the start directory takes in a key: its own
  // length for an ordinary directory ("\Apps\Client" is "APPS/CLIENT/"),
  // nothing for a drive or file-system root, whose key is empty.
  std::string rootKey = root_;
  NormalizeName(rootKey);
  while (!rootKey.empty() && rootKey.back() == '/') rootKey.pop_back();
  rootKeyLength_ = rootKey.empty() ? 0 : rootKey.size() + 1;
  current_ = nullptr;
  defaultFileSystem_ = std::make_unique<CFS>(this);
}

void CFSManager::Shutdown() {
  // Handles first, while every owner is still there to close them; then the
  // name map goes whole, so that the volumes the file system in force gives
  // up need not take their names out of it one by one.
  CloseAllFiles();
  fileMap_.clear();
  if (current_ != nullptr) current_->Release();
  current_ = nullptr;
  ownedCurrent_.reset();
  defaultFileSystem_.reset();
  inPlaceFilters_.clear();
  resizingFilters_.clear();
}

void CFSManager::ForgetFile(CFSFile* handle) {
  auto it = std::find(openFiles_.begin(), openFiles_.end(), handle);
  if (it != openFiles_.end()) openFiles_.erase(it);
}

void CFSManager::CloseAllFiles() {
  while (!openFiles_.empty()) {
    // Taken off the list before it goes, so an owner that does not forget it
    // cannot keep this loop from ending.
    CFSFile* handle = openFiles_.front();
    openFiles_.erase(openFiles_.begin());
    delete handle;
  }
}

void CFSManager::CloseFilesOwnedBy(const CFS* fileSystem) {
  std::vector<CFSFile*> owned;
  for (CFSFile* handle : openFiles_) {
    if (handle->owner == fileSystem) owned.push_back(handle);
  }
  for (CFSFile* handle : owned) {
    ForgetFile(handle);
    delete handle;
  }
}

bool CFSManager::Load(const std::string& name) {
  return current_ != nullptr && current_->Load(name);
}

bool CFSManager::SetFileSystem(const std::string& name, std::unique_ptr<CFS> fileSystem) {
  if (current_ != nullptr) {
    // Handles served by a file system that is about to go would be left
    // pointing at it; they are closed first.
    if (current_ != defaultFileSystem_.get()) CloseFilesOwnedBy(current_);
    fileMap_.clear();  // whole, before the volumes go
    current_->Release();
  }
  fileMap_.clear();
  ownedCurrent_ = std::move(fileSystem);
  current_ = ownedCurrent_ != nullptr ? ownedCurrent_.get() : defaultFileSystem_.get();
  return Load(name);
}

bool CFSManager::CreateVolume(const std::string& name) {
  return current_ != nullptr && current_->CreateVolume(name);
}

CFSFile* CFSManager::Open(const std::string& name, const std::string& mode) {
  std::string key = name;
  // A relative name is taken from the emulated current directory.
  if (key.find(':') == std::string::npos && (key.empty() || !platform::IsPathSeparator(key[0]))) {
    std::string directory = cwd_;
    ResolveRelative(directory, key);
    key = directory + key;
  }
  const std::size_t colon = key.find(':');
  if (colon != std::string::npos) key.erase(0, colon + 1);
  NormalizeName(key);
  // Keys are relative to the start directory: drop its length of text.
  key.erase(0, std::min(rootKeyLength_, key.size()));

  CFSFile* handle = OpenByKey(key, mode);
  if (handle == nullptr) return nullptr;
  handle->SetModeFromText(mode);
  if (handle->owner != nullptr) handle->owner->OnFileOpened(handle);
  handle->position = 0;
  handle->RefillWindow();
  return handle;
}

CFSFile* CFSManager::OpenByKey(const std::string& key, const std::string& mode) {
  CFSFile* handle = nullptr;
  if (FileHead* head = FindName(key)) {
    CFS* owner = current_ != nullptr ? current_ : defaultFileSystem_.get();
    handle = owner->NewFile(key, head->owner, nullptr, owner);
    handle->entry = head;
  } else {
    handle = defaultFileSystem_->OpenPlain(baseDir_ + key, mode);
    if (handle == nullptr) return nullptr;
  }
  TrackFile(handle);
  return handle;
}

void CFSManager::TrackFile(CFSFile* handle) {
  if (handle != nullptr) openFiles_.push_back(handle);
}

void CFSManager::AddName(FileHead* head) { fileMap_.Put(head); }

void CFSManager::RemoveName(FileHead* head) {
  if (head == nullptr) return;
  fileMap_.Remove(head->name);
}

FileHead* CFSManager::FindName(const std::string& key) const {
  if (current_ != nullptr && current_->NamesPending()) return current_->FindPendingName(key);
  return fileMap_.Find(key);
}

const NameIndex& CFSManager::fileMap() const {
  if (current_ != nullptr && current_->NamesPending()) current_->BuildPendingNames();
  return fileMap_;
}

void CFSManager::RegisterFilter(std::unique_ptr<CFSFilter> filter) {
  PlaceFilter(inPlaceFilters_, std::move(filter));
}

void CFSManager::RegisterResizingFilter(std::unique_ptr<CFSFilter> filter) {
  PlaceFilter(resizingFilters_, std::move(filter));
}

CFSFilter* CFSManager::FindInPlaceFilter(std::uint32_t id) const {
  return FindFilter(inPlaceFilters_, id);
}

CFSFilter* CFSManager::FindResizingFilter(std::uint32_t id) const {
  return FindFilter(resizingFilters_, id);
}

void CFSManager::SetOutputSink(OutputSink sink) { outputSink_ = std::move(sink); }

void CFSManager::Output(OutputStream stream, const std::string& text) const {
  if (outputSink_) {
    outputSink_(stream, text);
  } else {
    WriteToStandardStreams(stream, text);
  }
}

int CFSManager::ChangeDirectory(const std::string& path) {
  std::string target = platform::WithForwardSlashes(path);
  if ((!target.empty() && target[0] == '/') || target.find(':') != std::string::npos) {
    cwd_ = target;
  } else if (!target.empty()) {
    ResolveRelative(cwd_, target);
    cwd_ += target;
  }
  // The process follows, so that plain stdio opens agree; a directory that
  // does not exist leaves it where it was.
  platform::SetCurrentDirectory(cwd_);
  return 0;
}

char* CFSManager::GetDirectory(char* buffer, int length) const {
  if (buffer == nullptr || length <= 0) return buffer;
  // Copied like strncpy, but always terminated: a short buffer gets the
  // directory cut, never an unterminated text.
  const std::size_t room = static_cast<std::size_t>(length);
  const std::size_t copied = std::min(cwd_.size(), room - 1);
  std::memcpy(buffer, cwd_.data(), copied);
  std::memset(buffer + copied, 0, room - copied);
  return buffer;
}

void CFSManager::ResetForTesting(const std::string& startDirectory) {
  Shutdown();
  Start(startDirectory);
  outputSink_ = nullptr;
  env_ = platform::Env::Default();
  if (this == &TheManager()) UsePlainFunctionsForTesting();
}

CFSManager& TheManager() {
  static CFSManager manager;
  return manager;
}

namespace {
// Built during static initialisation, before main, like the rest of the
// library's global state.
[[maybe_unused]] CFSManager& constructedBeforeMain = TheManager();
}  // namespace

bool SetFileSystem(const std::string& name, std::unique_ptr<CFS> fileSystem) {
  UsePackFunctions();
  return TheManager().SetFileSystem(name, std::move(fileSystem));
}

}  // namespace pkfs
