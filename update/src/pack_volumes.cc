#include "update/pack_volumes.h"

#include "platform/ascii_case.h"
#include "platform/env.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace update {

namespace {

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "data<digits>.pak" in any letter case.
bool IsChainedVolumeName(const std::string& name) {
  const std::string lowered = platform::LowerAscii(name);
  const std::string head = "data";
  const std::string tail = ".pak";
  if (lowered.size() <= head.size() + tail.size()) return false;
  if (lowered.compare(0, head.size(), head) != 0) return false;
  if (lowered.compare(lowered.size() - tail.size(), tail.size(), tail) != 0) return false;
  for (std::size_t i = head.size(); i < lowered.size() - tail.size(); ++i) {
    if (lowered[i] < '0' || lowered[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool IsInstallationVolume(const std::string& path, const std::string& packName,
                          platform::Env* env) {
  if (path.empty()) return false;
  const bool chainedName = IsChainedVolumeName(NameOf(path));
  // A look that failed cannot rule a volume out.
  for (const std::string& first : {packName, std::string(kDefaultPackName)}) {
    if (first.empty()) continue;
    if (env->MayBeSameFile(path, first)) return true;
    if (chainedName &&
        env->MayBeSameFile(platform::DirectoryOf(path), platform::DirectoryOf(first))) {
      return true;
    }
  }
  return false;
}

}  // namespace update
