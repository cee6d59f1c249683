// Named shared memory as Windows has it: a mapping backed by the paging file,
// in the user's session namespace, released by the system when the last
// process holding it ends (or closes it).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/shared_memory.h"
#include "windows_api.h"

namespace platform {

namespace {

using internal::HandleToInt;
using internal::IntToHandle;

std::string OsName(const std::string& name) {
  const char* override = std::getenv("MAROVETIN_SHM_NAME");
  return (override != nullptr && override[0] != '\0') ? override : name;
}

std::string Failure(const char* what) {
  return std::string(what) + ": " +
         internal::StatusFromWindowsError(::GetLastError(), std::string()).Reason();
}

}  // namespace

std::unique_ptr<NamedSharedMemory> NamedSharedMemory::OpenOrCreate(const std::string& name,
                                                                   std::size_t size, Origin* origin,
                                                                   std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (size == 0 || name.empty()) {
    *error = "shared memory: empty name or size";
    return nullptr;
  }
  const std::string osName = OsName(name);
  bool created = false;
  HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, osName.c_str());
  if (mapping == nullptr) {
    const std::uint64_t wanted = size;
    mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                   static_cast<DWORD>(wanted >> 32), static_cast<DWORD>(wanted),
                                   osName.c_str());
    if (mapping == nullptr) {
      *error = Failure("CreateFileMapping");
      return nullptr;
    }
    // Another process may have created it between the open and the create:
    // then it is that process's block, and its content counts.
    created = ::GetLastError() != ERROR_ALREADY_EXISTS;
  }
  // A fresh mapping of the paging file reads all zeros.
  void* data = ::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
  if (data == nullptr) {
    *error = Failure("MapViewOfFile");
    ::CloseHandle(mapping);
    return nullptr;
  }
  if (origin != nullptr) *origin = created ? Origin::kCreated : Origin::kOpened;
  return std::unique_ptr<NamedSharedMemory>(
      new NamedSharedMemory(HandleToInt(mapping), data, size, osName));
}

NamedSharedMemory::NamedSharedMemory(int fd, void* data, std::size_t size, std::string osName)
    : fd_(fd), data_(data), size_(size), osName_(std::move(osName)) {}

NamedSharedMemory::~NamedSharedMemory() {
  ::UnmapViewOfFile(data_);
  // The system removes the name with the last handle, whichever process
  // closes it.
  ::CloseHandle(IntToHandle(fd_));
}

}  // namespace platform
