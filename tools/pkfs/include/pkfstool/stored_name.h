// What a stored name may become below an extraction target. A set may hold
// any bytes as a name; only a name whose every level is a plain name is a
// path that stays inside the target.
#ifndef PKFSTOOL_STORED_NAME_H_
#define PKFSTOOL_STORED_NAME_H_

#include <string>
#include <vector>

namespace pkfstool {

// Empty when name can be written below a target directory; otherwise why
// not, e.g. "it is absolute" or "it has a \"..\" level".
std::string UnsafeNameReason(const std::string& name);

// name's levels (split at "/" and "\"), for a name UnsafeNameReason accepts.
std::vector<std::string> NameLevels(const std::string& name);

// name as it can be printed on one line: bytes below 0x20 (the zero byte
// included) and 0x7F written as "\xNN", "\" as "\\".
std::string PrintableName(const std::string& name);

}  // namespace pkfstool

#endif  // PKFSTOOL_STORED_NAME_H_
