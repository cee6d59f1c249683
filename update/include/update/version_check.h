// The version gate's verdict.
#ifndef UPDATE_VERSION_CHECK_H_
#define UPDATE_VERSION_CHECK_H_

#include <cstdint>

namespace update {

// Whether a client whose update index is installIndex may take a patch that
// carries patchValue1 and patchValue2 (the two words of "Patch.dat").
//
// patchValue1 is the oldest index the patch can be applied to: a client below
// it (compared unsigned) lacks an earlier patch and is refused. patchValue2 is
// the index the patch brings a client to. It does not refuse anything: a
// client already at or past it is allowed, because applying the patch again
// only rewrites files with the same content.
bool VersionAllowsUpdate(std::uint32_t installIndex, std::uint32_t patchValue1,
                         std::uint32_t patchValue2);

}  // namespace update

#endif  // UPDATE_VERSION_CHECK_H_
