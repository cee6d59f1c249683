// A check of a volume set straight from its files, trusting nothing in them:
// the header, the directory's bounds, every record, the trailer with its
// checksum (which loading ignores), overlapping regions and the chain of
// volumes. Used by verify, and to say why a set does not load.
#ifndef PKFSTOOL_SET_SCAN_H_
#define PKFSTOOL_SET_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_manager.h"

namespace pkfstool {

struct VolumeScan {
  std::string name;  // as the set names it (the first: as given)
  std::string path;  // where its file is
  std::uint64_t fileSize = 0;
  bool directoryRead = false;  // header and every record could be parsed
  pkfs::PackHeader header;
  std::vector<pkfs::FileHead> records;  // as stored, empty ones included
  bool hasTrailer = false;
  pkfs::PackTrailer trailer;
  std::vector<std::string> problems;  // one sentence each, without the volume
};

struct SetScan {
  std::vector<VolumeScan> volumes;  // in chain order, as far as the chain goes
  // Every problem of the set, one line each: "VOLUME: problem".
  std::vector<std::string> Problems() const;
  bool Sound() const { return Problems().empty(); }
};

// Reads the volume at firstPath and the volumes its trailers name (beside
// it), decoding headers and directories through filters' id-0 filters.
SetScan ScanSet(const std::string& firstPath, const pkfs::CFSManager& filters);

// True when every scanned volume's header still reads as it did: no writer
// committed since (a commit ends with the header write).
bool HeadersUnchanged(const SetScan& scan, const pkfs::CFSManager& filters);

}  // namespace pkfstool

#endif  // PKFSTOOL_SET_SCAN_H_
