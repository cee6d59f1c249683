// The library's one global object: emulated current directory, start
// directory, the file system in force, the name map, the filter lists and the
// open handles.
#ifndef PKFS_FS_MANAGER_H_
#define PKFS_FS_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/fs.h"
#include "pkfs/fs_filter.h"
#include "pkfs/name_index.h"
#include "pkfs/output_sink.h"
#include "platform/env.h"

namespace pkfs {

class CFSFile;
class FileHead;

class CFSManager {
 public:
  // Starts in the process's current directory.
  CFSManager();
  // Starts in startDirectory as if it were the process's current directory
  // (tests; the process directory is not changed).
  explicit CFSManager(const std::string& startDirectory);
  // The same, reaching files through env (which must outlive the manager)
  // instead of platform::Env::Default().
  CFSManager(const std::string& startDirectory, platform::Env* env);
  virtual ~CFSManager();
  CFSManager(const CFSManager&) = delete;
  CFSManager& operator=(const CFSManager&) = delete;

  virtual void ForgetFile(CFSFile* handle);
  virtual void CloseAllFiles();
  virtual bool Load(const std::string& name);

  // Makes fileSystem (or the default file system when null) current, after
  // releasing the previous one (whose open handles are closed first unless it
  // is the default), and loads name with it. The manager owns every file
  // system handed to it.
  bool SetFileSystem(const std::string& name, std::unique_ptr<CFS> fileSystem);
  bool CreateVolume(const std::string& name);

  CFSFile* Open(const std::string& name, const std::string& mode);
  // Looks a normalised key up directly: no mode, no open hook, no window fill.
  CFSFile* OpenByKey(const std::string& key, const std::string& mode);
  // Appends a handle made elsewhere to the open files.
  void TrackFile(CFSFile* handle);

  // Name map maintenance: AddName replaces whatever head the name had.
  // ReserveNames makes room for count more names at once.
  void ReserveNames(std::size_t count) { fileMap_.reserve(fileMap_.size() + count); }
  void AddName(FileHead* head);
  void RemoveName(FileHead* head);
  FileHead* FindName(const std::string& key) const;

  // Takes ownership; a filter with the same id is destroyed and replaced.
  void RegisterFilter(std::unique_ptr<CFSFilter> filter);
  // The same for the resizing list, which the system itself never fills.
  void RegisterResizingFilter(std::unique_ptr<CFSFilter> filter);
  CFSFilter* FindInPlaceFilter(std::uint32_t id) const;
  CFSFilter* FindResizingFilter(std::uint32_t id) const;

  // Where the library's own lines go (output_sink.h). An empty sink puts the
  // default back: standard output and standard error, flushed after each
  // text. A sink that refers to an object must be taken back (set empty)
  // before that object goes.
  void SetOutputSink(OutputSink sink);
  // Hands text to the sink in force.
  void Output(OutputStream stream, const std::string& text) const;

  // Emulated chdir and getcwd. GetDirectory copies at most length - 1 bytes
  // and always terminates the text.
  int ChangeDirectory(const std::string& path);
  char* GetDirectory(char* buffer, int length) const;

  CFS* current() const { return current_; }
  CFS* defaultFileSystem() const { return defaultFileSystem_.get(); }
  const std::string& cwd() const { return cwd_; }
  // What every file of the manager and its file systems goes through.
  platform::Env* env() const { return env_; }
  // Reaches files through env (which must outlive its use) from now on; the
  // files open already stay with the Env that opened them. The process's
  // manager (TheManager) takes the Env of whoever mounts through it.
  void SetEnv(platform::Env* env) { env_ = env; }
  const std::string& root() const { return root_; }
  const std::string& baseDir() const { return baseDir_; }
  // Every name in force, in no particular order (names a file system kept
  // pending are put in first).
  const NameIndex& fileMap() const;
  const std::vector<CFSFile*>& openFiles() const { return openFiles_; }

  // Closes everything, drops the file systems and filters, and starts again
  // in startDirectory on the system's files; on the global manager also puts
  // the plain table back in force (tests only).
  void ResetForTesting(const std::string& startDirectory);

 private:
  void Start(const std::string& startDirectory);
  void Shutdown();
  void CloseFilesOwnedBy(const CFS* fileSystem);

  platform::Env* env_ = platform::Env::Default();
  std::string cwd_;
  std::string root_;
  std::string baseDir_;
  std::size_t rootKeyLength_ = 0;  // characters of a key taken by the start directory
  CFS* current_ = nullptr;
  std::unique_ptr<CFS> ownedCurrent_;  // current_ unless it is the default
  NameIndex fileMap_;
  std::vector<std::unique_ptr<CFSFilter>> inPlaceFilters_;
  std::vector<std::unique_ptr<CFSFilter>> resizingFilters_;
  std::vector<CFSFile*> openFiles_;
  std::unique_ptr<CFS> defaultFileSystem_;
  OutputSink outputSink_;  // empty: the standard streams
};

// The global manager, constructed before main.
CFSManager& TheManager();

// SetFileSystem on the global manager; also switches currentFunctions to the
// pack table.
bool SetFileSystem(const std::string& name, std::unique_ptr<CFS> fileSystem);

}  // namespace pkfs

#endif  // PKFS_FS_MANAGER_H_
