// The processor probe: cpuid where the compiler offers it.
#include "platform/cpu_features.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
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

}  // namespace platform
