// Named shared memory as Windows has it: a mapping backed by the paging file,
// in the user's session namespace, released by the system when the last
// process holding it ends (or closes it).
#include <cstdint>
#include <string>

#include "platform/shared_memory.h"
#include "shared_memory_system.h"
#include "windows_api.h"

namespace platform {

namespace {

using internal::HandleToInt;
using internal::IntToHandle;

std::string Failure(const char* what) {
  return std::string(what) + ": " +
         internal::StatusFromWindowsError(::GetLastError(), std::string()).Reason();
}

}  // namespace

namespace internal {

// The session namespace holds the name as it is.
std::string SystemBlockName(const std::string& name) { return name; }

// Never races: CreateFileMapping opens what another process created between
// the open and the create.
BlockAttempt OpenOrCreateBlock(const std::string& systemName, std::size_t size, MappedBlock* block,
                               std::string* error) {
  bool created = false;
  HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, systemName.c_str());
  if (mapping == nullptr) {
    const std::uint64_t wanted = size;
    mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                   static_cast<DWORD>(wanted >> 32), static_cast<DWORD>(wanted),
                                   systemName.c_str());
    if (mapping == nullptr) {
      *error = Failure("CreateFileMapping");
      return BlockAttempt::kFailed;
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
    return BlockAttempt::kFailed;
  }
  block->handle = HandleToInt(mapping);
  block->data = data;
  block->created = created;
  return BlockAttempt::kMapped;
}

}  // namespace internal

NamedSharedMemory::~NamedSharedMemory() {
  ::UnmapViewOfFile(data_);
  // The system removes the name with the last handle, whichever process
  // closes it.
  ::CloseHandle(IntToHandle(fd_));
}

}  // namespace platform
