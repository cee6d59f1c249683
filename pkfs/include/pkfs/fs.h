// The file-system interface: the base class CFS serves loose files under the
// start directory; CPKFSF (pkfsf.h) serves a chain of pack volumes.
#ifndef PKFS_FS_H_
#define PKFS_FS_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/file_head.h"
#include "platform/env.h"

namespace pkfs {

class CFSFile;
class CFSManager;
class PackArchive;

class CFS {
 public:
  explicit CFS(CFSManager* manager);
  virtual ~CFS();
  CFS(const CFS&) = delete;
  CFS& operator=(const CFS&) = delete;

  // The fourteen operations, in their table order.
  virtual void OnFileOpened(CFSFile* handle);
  // Gives up what the file system has loaded. The manager owns and destroys
  // every file system; a released one stays usable.
  virtual void Release();
  virtual int Read(void* buffer, std::uint32_t length, CFSFile* handle);
  virtual int Write(const void* buffer, std::uint32_t length, CFSFile* handle);
  virtual bool CloseFile(CFSFile* handle);
  virtual bool CreateVolume(const std::string& name);
  virtual CFSFile* NewFile(const std::string& name, PackArchive* archive, std::FILE* plainStream,
                           CFS* owner);
  virtual int ReservedOp(void* argument);
  virtual bool Load(const std::string& name);
  // Runs a named text command; "CFSGetLastError" puts the last error into text.
  virtual void Command(const std::string& name, std::string& text);
  virtual int RawRead(void* buffer, std::uint32_t length, CFSFile* handle);
  virtual bool RemoveFile(const std::string& name);
  virtual int RawWrite(const void* buffer, std::uint32_t length, CFSFile* handle);

  // A file system whose names are not all in the manager's map yet (a set
  // opened for reading builds its heads only when asked) answers look-ups
  // itself until BuildPendingNames puts them all in the map.
  virtual bool NamesPending() const { return false; }
  virtual FileHead* FindPendingName(const std::string& key);
  virtual void BuildPendingNames() {}

  // Opens path as a loose file with a stdio mode: a handle whose entry is a
  // file head made for it (size measured at open), or null.
  CFSFile* OpenPlain(const std::string& path, const std::string& mode);

  CFSManager* manager() const { return manager_; }
  // What the file system's files go through: the manager's, or the system's
  // when it has no manager.
  platform::Env* env() const;
  const std::string& lastError() const { return lastError_; }

 protected:
  std::vector<std::unique_ptr<FileHead>> plainHeads_;  // heads made for loose files
  std::string lastError_;
  CFSManager* manager_;
};

}  // namespace pkfs

#endif  // PKFS_FS_H_
