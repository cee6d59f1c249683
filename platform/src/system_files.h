// The system's file calls behind Env::Default() (env_system.cc), one set per
// system (file_system_posix.cc, win32/file_system_win32.cc and their
// neighbours). Nothing outside the platform calls them: everything else
// reaches files through an Env, so that whatever wraps it sees every call.
#ifndef MAROVETIN_PLATFORM_SRC_SYSTEM_FILES_H_
#define MAROVETIN_PLATFORM_SRC_SYSTEM_FILES_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace platform {

// fopen() through ResolvePath. Returns null when the file does not open.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Up to length bytes from file (fread): the count, short only at the end of
// the file; -1 on a read error, with errno saying why. A read of a file
// opened by OpenFile goes through here, so that tests can fail it.
long long ReadFromFile(std::FILE* file, void* data, std::size_t length);

// Up to length bytes from an unbuffered stream (setvbuf _IONBF) in as few
// system reads as the system allows (one on POSIX systems): the count, 0 at
// the end, -1 on a read error (errno). A regular file reads short only at its
// end, so that a short count needs no further read to show that nothing
// follows; a file that grows meanwhile may read short before its new end.
long long ReadSomeFromFile(std::FILE* file, void* data, std::size_t length);

// mkdir with mode 0777 (before umask). False when it exists or a parent is missing.
bool CreateDirectory(const std::string& path);
// rmdir: succeeds only on an empty directory.
bool RemoveDirectory(const std::string& path);
// unlink of a file (not a directory).
bool DeleteFile(const std::string& path);
// rename, replacing an existing target.
bool RenameFile(const std::string& from, const std::string& to);
// The same for two paths that went through ResolvePath already (or name
// exactly what is meant): nothing is looked up again.
bool RenameResolvedFile(const std::string& from, const std::string& to);

// Gives the file at source the second name newName on the same file system
// (a hard link), so that a file delivered only to be deleted afterwards can
// be moved into place by a rename instead of copied. Linked only when source
// is a regular file (not a link) of this process's user that it may read and
// that has no other name, so that the file under newName is nobody else's;
// it then gets what a file newly written under newName would get: its own
// permission bits less the umask (see GivePermissionsOfDelivered) and the
// current time. newName is taken as written (a path that went through
// ResolvePath, such as a temporary beside a resolved destination); a leftover
// file under it is replaced. False, errno set and nothing left behind, when
// it was not linked (EXDEV across file systems, EMLINK for a file with other
// names, ENOSYS where the system has no such links): the caller then copies
// the bytes.
bool LinkAsNewFile(const std::string& source, const std::string& newName);

// Makes the directory's entries durable (fsync on the directory), so that a
// file created, renamed or removed in it stays so after a power loss.
Status SyncDirectory(const std::string& path);
// Makes everything written to the file system that holds path durable
// (syncfs): one call for a whole batch of files instead of one per file.
Status SyncFileSystemOf(const std::string& path);

// The entries of a directory except "." and "..", sorted by name compared
// case-insensitively (ASCII), ties broken bytewise. Symbolic links that point
// to directories are left out, so a walk can neither loop nor leave the tree.
// Only files (links to files count as files) and directories are reported;
// pipes, sockets, devices, dangling links, and names containing "\" (which
// this layer would read as a separator) are left out.
// False (and an empty list) when the directory cannot be read.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);
// The same, and the names of the links to directories that were left out
// appended to directoryLinks (sorted), so that a caller can name what it did
// not follow.
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                   std::vector<std::string>* directoryLinks);

// OpenFile(path, "rb") that also gives the stamp of the file it opened, as it
// was when opened, from the open file itself.
std::FILE* OpenFileToRead(const std::string& path, FileStamp* stamp);

// Permission bits (reached through Env::SetAttributesNormal and its two
// neighbours from outside the platform).
// "Attributes to normal": gives the owner write permission on an existing
// file; false, and nothing else, when it does not exist.
bool SetAttributesNormal(const std::string& path);
// Gives to the permission bits of from (read, write and execute for owner,
// group and others; set-id and sticky bits are not copied), so that the file
// that replaces from may do what it did and is read by whom it was. On
// Windows: its attributes, without read-only. False when either is missing.
bool CopyPermissions(const std::string& from, const std::string& to);
// Gives to, a new file made from the delivered file, the permission bits of
// delivered less the process's umask, as a copy by cp would have them: a
// delivered program stays executable, a private file private. Nothing on
// Windows, where a new file's attributes are already those of any new file.
// False when either is missing.
bool GivePermissionsOfDelivered(const std::string& delivered, const std::string& to);

// The stamp of the file path leads to (through ResolvePath, following
// symbolic links); false, errno saying why, when there is none or it cannot
// be looked at.
bool StampPath(const std::string& path, FileStamp* stamp);

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_SRC_SYSTEM_FILES_H_
