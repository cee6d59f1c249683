// The processor probe: cpuid where the compiler offers it; the usable
// processor count from the affinity mask.
#include "platform/cpu_features.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#if defined(_WIN32)
#include <thread>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace platform {

bool ProcessorHasMmx() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;  // leaf 1 not offered
  return (edx & (1u << 23)) != 0;
#else
  return false;
#endif
}

int UsableProcessorCount() {
#if defined(_WIN32)
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? static_cast<int>(count) : 1;
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
#endif
}

}  // namespace platform
