// Which files are pack volumes of an installation, as far as their names and
// places tell. Nothing else may write over them: not a delivered loose file,
// not the run log.
#ifndef UPDATE_PACK_VOLUMES_H_
#define UPDATE_PACK_VOLUMES_H_

#include <string>

#include "platform/env.h"

namespace update {

// The first volume of the installation's default set.
inline constexpr char kDefaultPackName[] = "DATA.pak";

// True when path (an existing file, or a name beside a first volume) is one
// of the installation's pack volumes: the first volume packName of the set in
// use, the default first volume, or a chained volume beside either. Every set
// chains its volumes under the names "Data1.pak", "Data2.pak", ... (any
// letter case) beside its first volume, so those names are volumes even when
// that set is not the one this run mounts. Relative paths are taken from the
// current directory. Files are identified through env; where a file could not
// be looked at, a volume is not ruled out (true).
bool IsInstallationVolume(const std::string& path, const std::string& packName,
                          platform::Env* env);

}  // namespace update

#endif  // UPDATE_PACK_VOLUMES_H_
