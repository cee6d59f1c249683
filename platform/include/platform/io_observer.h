// Interposition points below the file calls. Nothing in the programs installs
// them: tests do, to count and fail calls (an injected errno at the n-th read,
// write or sync) and to stand in for the disk (a simulated power loss sees
// every creation, write, rename, removal and sync). With none installed each
// call goes straight to the system. Installing is not thread-safe: install
// before the code under test runs.
#ifndef MAROVETIN_PLATFORM_IO_OBSERVER_H_
#define MAROVETIN_PLATFORM_IO_OBSERVER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace platform {

// What is synced: one file's data, a directory's entries, a file system.
enum class SyncScope { kFile, kDirectory, kFileSystem };

// Watches file creation, writes, renames, removals and syncs from below the
// platform calls.
class FileEventObserver {
 public:
  virtual ~FileEventObserver() = default;
  // Before path is created or truncated by an open; false makes the open fail.
  virtual bool OnCreate(const std::string& path) = 0;
  // Before length bytes reach path at offset; false refuses the write.
  virtual bool OnWrite(const std::string& path, std::uint64_t offset, const void* data,
                       std::size_t length) = 0;
  // Before the file at from takes the name to (replacing what is there);
  // false refuses the rename.
  virtual bool OnRename(const std::string& from, const std::string& to) = 0;
  // Before the file at path loses its name; false refuses the removal.
  virtual bool OnDelete(const std::string& path) = 0;
  // In place of the sync system call: its result is the sync's outcome.
  virtual Status OnSync(SyncScope scope, const std::string& path) = 0;
};

// Installs (or, with nullptr, removes) the observer.
void SetFileEventObserver(FileEventObserver* observer);

// The calls a fault source is asked about: every positioned read and write
// of a RandomAccessFile, every read of a file opened by OpenFile
// (ReadFromFile), every sync, and (on POSIX systems) every open of a file by
// path, rename, hard link, removal of a file, creation and removal of a
// directory and directory listing.
enum class IoCall { kWrite, kRead, kSync, kOpen, kRename, kLink, kRemove, kMkdir, kRmdir, kList };

// Asked before each such call; returns the errno it must fail with, or 0
// when it goes ahead. It may also end the process there.
using IoFaultSource = int (*)(IoCall call);

// Installs (or, with nullptr, removes) the fault source.
void SetIoFaultSource(IoFaultSource source);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_IO_OBSERVER_H_
