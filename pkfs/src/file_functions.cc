// The two tables of twelve file operations. The pack table steps onto the
// global manager and its handles; the plain table goes straight to stdio.
#include "pkfs/file_functions.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "pkfs/fs.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "platform/file_system.h"

namespace pkfs {

namespace {

CFSFile* AsHandle(void* handle) { return static_cast<CFSFile*>(handle); }
std::FILE* AsStream(void* handle) { return static_cast<std::FILE*>(handle); }

// size * count, or 0 when it would not fit one transfer.
std::uint32_t TransferBytes(std::size_t size, std::size_t count) {
  constexpr std::size_t kLimit = std::numeric_limits<std::int32_t>::max();
  if (size == 0 || count == 0 || count > kLimit / size) return 0;
  return static_cast<std::uint32_t>(size * count);
}

void* PackOpen(const char* name, const char* mode) {
  if (name == nullptr || mode == nullptr) return nullptr;
  return TheManager().Open(name, mode);
}

std::int32_t PackTell(void* handle) { return handle != nullptr ? AsHandle(handle)->Tell() : -1; }

int PackSeek(void* handle, std::int32_t offset, int origin) {
  if (handle != nullptr) AsHandle(handle)->Seek(offset, origin);
  return 1;
}

std::size_t PackRead(void* buffer, std::size_t size, std::size_t count, void* handle) {
  if (handle == nullptr) return 0;
  const std::uint32_t bytes = TransferBytes(size, count);
  if (bytes == 0) return 0;
  const int got = AsHandle(handle)->Read(buffer, bytes);
  return got > 0 ? static_cast<std::size_t>(got) / size : 0;
}

// Answers in bytes, not items, as callers of this table expect.
std::size_t PackWrite(const void* buffer, std::size_t size, std::size_t count, void* handle) {
  if (handle == nullptr) return 0;
  const std::uint32_t bytes = TransferBytes(size, count);
  if (bytes == 0) return 0;
  const int written = AsHandle(handle)->Write(buffer, bytes);
  return written > 0 ? static_cast<std::size_t>(written) : 0;
}

int PackGetc(void* handle) { return handle != nullptr ? AsHandle(handle)->Getc() : -1; }

char* PackGets(char* buffer, int length, void* handle) {
  if (handle == nullptr) return buffer;
  return AsHandle(handle)->Gets(buffer, length);
}

// Writes through the owner without the handle's mode test.
int PackPuts(const char* text, void* handle) {
  if (text == nullptr || handle == nullptr) return 0;
  CFSFile* file = AsHandle(handle);
  if (file->owner == nullptr) return 0;
  return file->owner->Write(text, static_cast<std::uint32_t>(std::strlen(text)), file);
}

int PackEof(void* handle) { return handle == nullptr || AsHandle(handle)->Eof() ? 1 : 0; }

int PackClose(void* handle) {
  delete AsHandle(handle);
  return 0;
}

int PackChdir(const char* path) {
  if (path == nullptr) return 0;
  return TheManager().ChangeDirectory(path);
}

char* PackGetcwd(char* buffer, int length) { return TheManager().GetDirectory(buffer, length); }

void* PlainOpen(const char* name, const char* mode) {
  if (name == nullptr || mode == nullptr) return nullptr;
  std::FILE* stream = nullptr;
  TheManager().env()->OpenStream(name, mode, &stream);
  return stream;
}

std::int32_t PlainTell(void* handle) {
  return handle != nullptr ? static_cast<std::int32_t>(std::ftell(AsStream(handle))) : -1;
}

int PlainSeek(void* handle, std::int32_t offset, int origin) {
  return handle != nullptr ? std::fseek(AsStream(handle), offset, origin) : -1;
}

std::size_t PlainRead(void* buffer, std::size_t size, std::size_t count, void* handle) {
  if (handle == nullptr || buffer == nullptr) return 0;
  return std::fread(buffer, size, count, AsStream(handle));
}

std::size_t PlainWrite(const void* buffer, std::size_t size, std::size_t count, void* handle) {
  if (handle == nullptr || buffer == nullptr) return 0;
  return std::fwrite(buffer, size, count, AsStream(handle));
}

int PlainGetc(void* handle) { return handle != nullptr ? std::fgetc(AsStream(handle)) : EOF; }

char* PlainGets(char* buffer, int length, void* handle) {
  if (handle == nullptr || buffer == nullptr || length <= 0) return nullptr;
  return std::fgets(buffer, length, AsStream(handle));
}

int PlainPuts(const char* text, void* handle) {
  if (handle == nullptr || text == nullptr) return EOF;
  return std::fputs(text, AsStream(handle));
}

int PlainEof(void* handle) { return handle != nullptr ? std::feof(AsStream(handle)) : 1; }

int PlainClose(void* handle) { return handle != nullptr ? std::fclose(AsStream(handle)) : EOF; }

int PlainChdir(const char* path) {
  if (path == nullptr) return -1;
  return platform::SetCurrentDirectory(path) ? 0 : -1;
}

// Null when the directory does not fit the buffer with its terminator.
char* PlainGetcwd(char* buffer, int length) {
  if (buffer == nullptr || length <= 0) return nullptr;
  const std::string directory = platform::GetCurrentDirectory();
  if (directory.empty() || directory.size() >= static_cast<std::size_t>(length)) return nullptr;
  std::memcpy(buffer, directory.c_str(), directory.size() + 1);
  return buffer;
}

const FileFunctionTable* const packHolder = &packFunctions;
const FileFunctionTable* const plainHolder = &plainFunctions;

}  // namespace

const FileFunctionTable packFunctions = {PackOpen,  PackTell,  PackSeek,  PackRead,
                                         PackWrite, PackGetc,  PackGets,  PackPuts,
                                         PackEof,   PackClose, PackChdir, PackGetcwd};

const FileFunctionTable plainFunctions = {PlainOpen,  PlainTell,  PlainSeek,  PlainRead,
                                          PlainWrite, PlainGetc,  PlainGets,  PlainPuts,
                                          PlainEof,   PlainClose, PlainChdir, PlainGetcwd};

const FileFunctionTable* const* currentFunctions = &plainHolder;

void UsePackFunctions() { currentFunctions = &packHolder; }

void UsePlainFunctionsForTesting() { currentFunctions = &plainHolder; }

}  // namespace pkfs
