// Which names an update can deliver, as the updater finds and places them:
// loose files by their path below the work path, pack entries by their path
// below its "Pak" directory, both matched without regard to ASCII letter case.
#ifndef MKUPDATE_NAME_RULES_H_
#define MKUPDATE_NAME_RULES_H_

#include <string>

namespace mkupdate {

// The name a path lands on where letter case does not count.
std::string CaseKey(const std::string& path);

// Why a loose file at this path below the installation cannot be delivered
// as one; empty when it can.
std::string LooseNameRefusal(const std::string& path);

// Why a pack entry stored under name cannot be delivered as OUT/Pak/name
// and stored back under the same name; empty when it can.
std::string PackNameRefusal(const std::string& name);

// True when the updater removes a file at this path below the installation
// at the end of every run (its own launcher copies).
bool RemovedByEveryRun(const std::string& path);

}  // namespace mkupdate

#endif  // MKUPDATE_NAME_RULES_H_
