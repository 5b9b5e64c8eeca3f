// What the sweeps of the kernels' lane arithmetic share: their options, the processor's name for
// their first line, and which vector instruction set it can run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

inline std::string processorName() {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown processor";
}

// isa: "avx2" or "avx512", each with FMA.
inline bool processorHas(const std::string& isa) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma")) return false;
    if (isa == "avx512") return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return isa == "avx2" && __builtin_cpu_supports("avx2");
#else
    (void)isa;
    return false;
#endif
}

struct SweepOptions {
    uint64_t lanes = 1000000000;
    uint64_t seed = 1;
    std::string isa = processorHas("avx512") ? "avx512" : "avx2";
};

// --lanes N, --isa avx2|avx512 and --seed S; false, with a line on stderr, for anything else or an
// instruction set this processor lacks.
inline bool readSweepOptions(int argc, char** argv, SweepOptions& options) {
    bool known = argc % 2 == 1;
    for (int i = 1; known && i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--lanes") {
            options.lanes = static_cast<uint64_t>(std::strtod(argv[i + 1], nullptr));
        } else if (option == "--seed") {
            options.seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--isa") {
            options.isa = argv[i + 1];
        } else {
            known = false;
        }
    }
    if (!known) {
        std::fprintf(stderr, "usage: %s [--lanes N] [--isa avx2|avx512] [--seed S]\n", argv[0]);
        return false;
    }
    if ((options.isa != "avx2" && options.isa != "avx512") || !processorHas(options.isa)) {
        std::fprintf(stderr, "this processor cannot run %s\n", options.isa.c_str());
        return false;
    }
    return true;
}
