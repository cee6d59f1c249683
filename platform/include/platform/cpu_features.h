// The processor probe, and how many processors the process may use.
#ifndef MAROVETIN_PLATFORM_CPU_FEATURES_H_
#define MAROVETIN_PLATFORM_CPU_FEATURES_H_

namespace platform {

// True when the processor reports the MMX instruction set (cpuid leaf 1,
// EDX bit 23). False where cpuid is not available.
bool ProcessorHasMmx();

// The number of processors this process may run on (its affinity mask, or
// the online count where that cannot be read); at least 1.
int UsableProcessorCount();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_CPU_FEATURES_H_
