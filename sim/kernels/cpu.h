// What the processor offers the step's kernels: every CPU and SIMD check lives here.
#pragma once

// Kernel instruction sets, from the portable one up.
enum class CpuLevel { Scalar = 0, Avx2 = 1, Avx512 = 2 };

// The best level this processor and this build can run. The build defines ORRELUNE_X86_KERNELS
// where it compiles the vector kernels (GCC or Clang on x86-64); elsewhere only the portable one exists.
inline CpuLevel detectCpuLevel() {
#if defined(ORRELUNE_X86_KERNELS)
    __builtin_cpu_init();
    // The vector kernels fuse multiply and add as well.
    if (!__builtin_cpu_supports("fma")) return CpuLevel::Scalar;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return CpuLevel::Avx512;
    if (__builtin_cpu_supports("avx2")) return CpuLevel::Avx2;
#endif
    return CpuLevel::Scalar;
}

inline const char* cpuLevelName(CpuLevel level) {
    switch (level) {
        case CpuLevel::Avx512: return "avx512";
        case CpuLevel::Avx2: return "avx2";
        default: return "scalar";
    }
}
