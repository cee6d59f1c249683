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

#include "pkfs/file_head.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "platform/status.h"

namespace pkfstool {

class PackSet {
 public:
  PackSet();
  ~PackSet();
  PackSet(const PackSet&) = delete;
  PackSet& operator=(const PackSet&) = delete;

  // Loads the set whose first volume is at path. The failure says why: no
  // such file, or what is wrong with the first volume.
  platform::Status Open(const std::string& path);
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
  // Every head in force, in name order.
  std::vector<const pkfs::FileHead*> Entries() const;
  // True when head is the copy of its name that the set holds in force (a
  // copy in an earlier volume shadowed by a later one is stale).
  bool InForce(const pkfs::FileHead& head) const;

  // Hands head's bytes, decoded, to sink piece by piece. The failure names
  // the entry: a short read, a filter this tool does not know, or what sink
  // reported.
  using Sink = std::function<platform::Status(const unsigned char* data, std::size_t length)>;
  platform::Status ReadEntry(const pkfs::FileHead& head, const Sink& sink);

 private:
  platform::Status Load(const std::string& path, bool create);

  std::unique_ptr<pkfs::CFSManager> manager_;
  pkfs::CPKFSF* fileSystem_ = nullptr;  // owned by manager_
  std::vector<unsigned char> piece_;
};

// The key under which the set stores name.
std::string StoredKey(const std::string& name);

}  // namespace pkfstool

#endif  // PKFSTOOL_PACK_SET_H_
