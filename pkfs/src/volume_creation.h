// A volume that does not exist yet appears whole: it is written under a
// scratch name beside its final name, synced, renamed into place and its
// directory synced. A stop at any moment leaves either no volume under the
// final name or a complete one; at worst a scratch file, which no trailer
// names and the next load of the set removes.
#ifndef PKFS_VOLUME_CREATION_H_
#define PKFS_VOLUME_CREATION_H_

#include <string>

#include "platform/env.h"
#include "platform/status.h"

namespace pkfs {

class CFSManager;

// Where the volume that is to be at path is written before it takes its name.
std::string VolumeScratchPath(const std::string& path);

// Makes an empty volume at path (a header and a directory holding only a
// trailer, 32 bytes, through the manager's directory filter) through env in
// the way described above: one data sync and one directory sync. Fails, with
// nothing left under either name, when any step fails or when path came into
// being meanwhile (another process made it).
platform::Status CreateEmptyVolume(platform::Env* env, const std::string& path,
                                   const CFSManager* filters);

// Removes the scratch file of the volume at path when a stopped run left one
// (only the holder of the set's lock makes volumes, so none is in the making).
void RemoveLeftoverScratch(platform::Env* env, const std::string& path);

}  // namespace pkfs

#endif  // PKFS_VOLUME_CREATION_H_
