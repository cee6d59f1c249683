// The processor probe.
#ifndef MAROVETIN_PLATFORM_CPU_FEATURES_H_
#define MAROVETIN_PLATFORM_CPU_FEATURES_H_

namespace platform {

// True when the processor reports the MMX instruction set (cpuid leaf 1,
// EDX bit 23). False where cpuid is not available.
bool ProcessorHasMmx();

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_CPU_FEATURES_H_
