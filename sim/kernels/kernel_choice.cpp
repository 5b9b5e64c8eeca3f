#include "kernels.h"

CpuLevel kernelLevel(CpuLevel cap) {
    static const CpuLevel detected = detectCpuLevel();
    return static_cast<int>(detected) < static_cast<int>(cap) ? detected : cap;
}

GravityKernels kernelsFor(CpuLevel level) {
    switch (level) {
        case CpuLevel::Avx512: return gravityKernelsAvx512();
        case CpuLevel::Avx2: return gravityKernelsAvx2();
        default: return gravityKernelsScalar();
    }
}
