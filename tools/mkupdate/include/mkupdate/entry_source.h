// The bytes of one file to compare or encode, read in bounded pieces: a loose
// file of an installation, or an entry of its pack set.
#ifndef MKUPDATE_ENTRY_SOURCE_H_
#define MKUPDATE_ENTRY_SOURCE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "mkupdate/pack_source.h"
#include "platform/status.h"

namespace mkupdate {

class EntrySource {
 public:
  virtual ~EntrySource() = default;
  // Fills data with up to length next bytes; *got is 0 only at the end.
  virtual platform::Status Read(unsigned char* data, std::size_t length, std::size_t* got) = 0;

  // Reads until length bytes are in data or the source ends (*got < length).
  platform::Status ReadFull(unsigned char* data, std::size_t length, std::size_t* got);
};

// A regular file, opened without following a link in its last level (a link
// put there since the walk is refused, as is anything but a regular file).
std::unique_ptr<EntrySource> OpenLooseFile(const std::string& path, platform::Status* status);
// An entry of a loaded set.
std::unique_ptr<EntrySource> OpenPackEntry(PackSource* set, const std::string& name);

}  // namespace mkupdate

#endif  // MKUPDATE_ENTRY_SOURCE_H_
