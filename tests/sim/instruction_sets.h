// The vector instruction sets the kernels come in, for tests that run each one this processor has
// and ORRELUNE_TEST_KERNELS allows.
#pragma once

#include "cpu.h"
#include "step_tables.h"

enum class Isa { Avx2, Avx512 };

inline bool processorHas(Isa isa) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma")) return false;
    if (isa == Isa::Avx512) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return __builtin_cpu_supports("avx2");
#else
    (void)isa;
    return false;
#endif
}

inline CpuLevel levelOf(Isa isa) { return isa == Isa::Avx512 ? CpuLevel::Avx512 : CpuLevel::Avx2; }

// Why a test of this set cannot run here, or nullptr if it can.
inline const char* whyNotRunnable(Isa isa) {
    if (!processorHas(isa)) return "the processor lacks this instruction set";
    if (static_cast<int>(levelOf(isa)) > static_cast<int>(testKernelLimit()))
        return "ORRELUNE_TEST_KERNELS leaves this instruction set out";
    return nullptr;
}

// For INSTANTIATE_TEST_SUITE_P: the set's name as the level's.
inline std::string isaName(const testing::TestParamInfo<Isa>& info) { return cpuLevelName(levelOf(info.param)); }
