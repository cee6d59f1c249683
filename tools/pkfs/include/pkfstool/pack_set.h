// A volume set opened for the tool: its own manager with the updater's id-0
// filter, the set loaded quietly (the library's progress lines kept off
// standard output), and the entries it stores read back decoded.
#ifndef PKFSTOOL_PACK_SET_H_
#define PKFSTOOL_PACK_SET_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/status.h"

namespace pkfs {
class PackVolume;
}

namespace pkfstool {

class PackSet {
 public:
  // The set's files are reached through env (which must outlive the set).
  explicit PackSet(platform::Env* env = platform::Env::Default());
  ~PackSet();
  PackSet(const PackSet&) = delete;
  PackSet& operator=(const PackSet&) = delete;

  // Loads the set whose first volume is at path for reading: without the
  // lock that a writer holds for as long as it has the set open, so that a
  // reader never waits for one. A writer's commit makes a volume's header
  // name a new directory (written elsewhere beforehand) and only then gives
  // the old one's places back; so a load is the last committed state when
  // every volume's header still says what was loaded after the whole chain
  // was read. Otherwise it loads again. The failure says why: no such file,
  // or what is wrong with the first volume.
  platform::Status Open(const std::string& path);
  // Loads the set for changing it, holding every volume's lock (waiting for
  // a writer that has the set open).
  platform::Status OpenForWriting(const std::string& path);
  // The same, but a path where no file is gets a new, empty first volume.
  platform::Status OpenOrCreate(const std::string& path);
  // Closes every volume (and gives up their locks).
  void Close();

  pkfs::CPKFSF& fileSystem() { return *fileSystem_; }
  const pkfs::CPKFSF& fileSystem() const { return *fileSystem_; }
  pkfs::CFSManager& manager() { return *manager_; }

  // The head the set holds in force for name, given in any case and with
  // either separator; null when the set does not store it.
  const pkfs::FileHead* Find(const std::string& name) const;
  // The head in force under key, exactly as stored; null when none.
  const pkfs::FileHead* FindKey(const std::string& key) const;
  // Every head in force, in name order.
  std::vector<const pkfs::FileHead*> Entries() const;
  // True when head is the copy of its name that the set holds in force (a
  // copy in an earlier volume shadowed by a later one is stale).
  bool InForce(const pkfs::FileHead& head) const;

  // Why the set cannot be trusted whole (a volume whose directory does not
  // match its checksum: it is read, with a warning, but not written); OK
  // otherwise.
  platform::Status Damage() const;
  // True when no commit has changed the loaded volumes since the load (their
  // headers still say what was loaded); always true for a set loaded for
  // writing.
  bool Unchanged() const;
  bool VolumeUnchanged(const pkfs::PackVolume& volume) const;

  // Hands head's bytes, decoded, to sink piece by piece. The failure names
  // the entry: a short read, a filter this tool does not know, or what sink
  // reported. For a set loaded for reading, each piece is handed on only
  // while its volume is unchanged; a commit meanwhile gives kBusy ("changed
  // while it was read"): load again and read anew.
  using Sink = std::function<platform::Status(const unsigned char* data, std::size_t length)>;
  platform::Status ReadEntry(const pkfs::FileHead& head, const Sink& sink);

 private:
  platform::Status Load(const std::string& path, bool create, bool readOnly);
  // After a read-only load: what keeps it from being taken as the set's
  // committed state ("" when nothing does).
  std::string Unsettled(const platform::Status& loaded) const;

  std::unique_ptr<pkfs::CFSManager> manager_;
  pkfs::CPKFSF* fileSystem_ = nullptr;  // owned by manager_
  std::string path_;
  std::vector<unsigned char> piece_;
  // The library's warnings while a read-only load may still be retried.
  bool holdWarnings_ = false;
  std::string heldWarnings_;
};

// The key under which the set stores name.
std::string StoredKey(const std::string& name);

// What a reader does when a writer's commit changed a set under it: load it
// again, at most this many times, pausing a little longer each time.
constexpr int kReadAttempts = 20;
void PauseBeforeAttempt(int attempt);

}  // namespace pkfstool

#endif  // PKFSTOOL_PACK_SET_H_
