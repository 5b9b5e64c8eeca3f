// The highest kernel level the tests use: ORRELUNE_TEST_KERNELS=scalar or avx2 runs them as on a
// processor without vector kernels or without AVX-512 (CTest runs the suite at each level).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "cpu.h"

inline CpuLevel testKernelLimit() {
    const char* text = std::getenv("ORRELUNE_TEST_KERNELS");
    if (text == nullptr) return CpuLevel::Avx512;
    for (CpuLevel level : {CpuLevel::Scalar, CpuLevel::Avx2, CpuLevel::Avx512})
        if (std::strcmp(text, cpuLevelName(level)) == 0) return level;
    ADD_FAILURE() << "ORRELUNE_TEST_KERNELS=" << text << " names no kernel level (scalar, avx2 or avx512)";
    return CpuLevel::Avx512;
}
