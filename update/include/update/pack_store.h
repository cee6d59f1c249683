// Where the dialog stores pack update files: the pack file system, mounted
// when the dialog starts. Kept behind this small interface so that the state
// machine can be exercised without real volumes.
#ifndef UPDATE_PACK_STORE_H_
#define UPDATE_PACK_STORE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pkfs/output_sink.h"
#include "platform/env.h"
#include "platform/status.h"

namespace update {

class PackStore {
 public:
  virtual ~PackStore() = default;

  // Where the pack file system's own lines go from now on (its waits, its
  // "Load ... to Pkfs" and "Cost Time" lines); an empty sink puts its default
  // back (the standard streams).
  virtual void SetOutputSink(pkfs::OutputSink sink) { static_cast<void>(sink); }

  // Mounts the volume set whose first volume is packName (relative to the
  // current directory), creating that volume when it cannot be loaded, and
  // declares which names are stored through the filter. Goes on whatever the
  // individual steps report.
  virtual void Mount(const std::string& packName) = 0;

  // Stores length bytes under name (brought into the store's own name form),
  // replacing a stored file of that name. data may be transformed in place.
  // True only when the bytes were stored (inside a batch: stored pending its
  // commit).
  virtual bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length) = 0;

  // Fills buffer with the next length bytes of a file being stored; false
  // when they cannot be had.
  using PieceSource = std::function<bool(unsigned char* buffer, std::uint32_t length)>;

  // Stores the size bytes that source delivers in order under name, as
  // AddFile does, without holding them whole. By default they are gathered
  // and stored with AddFile.
  virtual bool AddFileFromSource(const std::string& name, std::uint64_t size,
                                 const PieceSource& source) {
    if (size > LargestFileSize()) return false;
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    if (size > 0 && !source(data.data(), static_cast<std::uint32_t>(size))) return false;
    unsigned char none = 0;
    return AddFile(name, data.empty() ? &none : data.data(), static_cast<std::uint32_t>(size));
  }

  // The most bytes one stored file may have.
  virtual std::uint64_t LargestFileSize() const { return UINT32_MAX - 1; }

  // Why the last AddFile (or the mount) failed, "volume: reason"; empty when
  // the store does not know.
  virtual std::string LastFailure() const { return std::string(); }

  // Why the mount must stop the whole update: the first volume is held by
  // another process past the lock timeout. OK otherwise.
  virtual platform::Status MountBlocked() const { return platform::Status::Ok(); }

  // True when path is one of the mounted set's volume files (under any
  // spelling), which nothing else may write over.
  virtual bool IsVolume(const std::string& path) const {
    static_cast<void>(path);
    return false;
  }

  // Groups the following stores: none of them is durable, nor in the pack
  // after a power loss, until CommitBatch reports OK. A failed commit leaves
  // the pack as before the batch and says why.
  virtual void BeginBatch() {}
  virtual platform::Status CommitBatch() { return platform::Status::Ok(); }

  // Takes back what Mount put on disk when the run is refused before any
  // store: a first volume that Mount had to create is closed and deleted, so
  // that a refused update leaves the installation exactly as it was.
  virtual void UndoMount() {}
};

// The pack file system on the library's global manager: a new CPKFSF made
// current with SetFileSystem, the id-0 filter registered, a new volume when
// none loads, and the name rules "txt" and "xml".
std::unique_ptr<PackStore> MakePkfsPackStore(platform::Env* env = platform::Env::Default());

}  // namespace update

#endif  // UPDATE_PACK_STORE_H_
