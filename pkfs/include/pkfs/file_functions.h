// The twelve stdio-like operations, in two tables: one served by the library's
// handles, one going straight to stdio.
#ifndef PKFS_FILE_FUNCTIONS_H_
#define PKFS_FILE_FUNCTIONS_H_

#include <cstddef>
#include <cstdint>

namespace pkfs {

struct FileFunctionTable {
  void* (*open)(const char* name, const char* mode);
  std::int32_t (*tell)(void* handle);
  int (*seek)(void* handle, std::int32_t offset, int origin);
  std::size_t (*read)(void* buffer, std::size_t size, std::size_t count, void* handle);
  std::size_t (*write)(const void* buffer, std::size_t size, std::size_t count, void* handle);
  int (*getc)(void* handle);
  char* (*gets)(char* buffer, int length, void* handle);
  int (*puts)(const char* text, void* handle);
  int (*eof)(void* handle);
  int (*close)(void* handle);
  int (*chdir)(const char* path);
  char* (*getcwd)(char* buffer, int length);
};

extern const FileFunctionTable packFunctions;   // handles are CFSFile*
extern const FileFunctionTable plainFunctions;  // handles are std::FILE*

// Points at the holder of the table in force: plain until SetFileSystem runs.
extern const FileFunctionTable* const* currentFunctions;

// Selects the pack table (SetFileSystem) or, for tests, the plain one again.
void UsePackFunctions();
void UsePlainFunctionsForTesting();

}  // namespace pkfs

#endif  // PKFS_FILE_FUNCTIONS_H_
