// orrelune-machine: one line naming the processor and the kernel level the engines use on it, which
// the test scripts print first, so that a red run names its machine.
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "cpu.h"
#include "workspace.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define MACHINE_X86 1
#endif

namespace {

// The processor's brand string with its family and model as Linux counts them (base plus extended
// fields); read from the processor itself, so that Windows and Wine say the same as Linux.
std::string processorName() {
#if defined(MACHINE_X86)
    unsigned regs[4] = {};
    char brand[49] = {};
    if (__get_cpuid_max(0x80000000U, nullptr) >= 0x80000004U) {
        for (unsigned k = 0; k < 3; ++k) {
            __get_cpuid(0x80000002U + k, &regs[0], &regs[1], &regs[2], &regs[3]);
            std::memcpy(brand + 16 * k, regs, sizeof regs);
        }
    }
    std::string name = brand;
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.empty()) name = "unnamed x86 processor";
    if (__get_cpuid(1, &regs[0], &regs[1], &regs[2], &regs[3]) == 0) return name;
    unsigned family = (regs[0] >> 8) & 0xFU;
    unsigned model = (regs[0] >> 4) & 0xFU;
    if (family == 0xFU || family == 0x6U) model += ((regs[0] >> 16) & 0xFU) << 4;
    if (family == 0xFU) family += (regs[0] >> 20) & 0xFFU;
    return name + " (family " + std::to_string(family) + ", model " + std::to_string(model) + ")";
#else
    return "processor without x86 identification";
#endif
}

}  // namespace

int main() {
    std::printf("machine: %s, %u hardware threads; kernels: %s\n", processorName().c_str(),
                std::thread::hardware_concurrency(), cpuLevelName(stepCpuLevel()));
    return 0;
}
