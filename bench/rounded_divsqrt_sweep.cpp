// Checks the rounded division and square root (sim/rounded_divsqrt_*.h) against vdivpd and
// vsqrtpd on random operands and counts the lanes the tests could not prove, which took the
// instruction. Exits with 1 on any mismatch.
//
//   orrelune-divsqrt-sweep [--lanes N] [--isa avx2|avx512] [--seed S]
//
// N lanes (default 10^9) of each operation with operands where the estimates work, a tenth of that
// over the whole normal range and a tenth with any bits at all (subnormals, infinities, NaNs).
// a1 / b, a2 / b gives two results per lane.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rounded_divsqrt_lanes.h"
#include "sweep_support.h"

namespace {

struct Population {
    const char* name;
    OperandRange first;
    OperandRange second;
    uint64_t share;  // lanes = total / share
};

}  // namespace

int main(int argc, char** argv) {
    SweepOptions options;
    if (!readSweepOptions(argc, argv, options)) return 2;
    const uint64_t lanes = options.lanes;
    uint64_t seed = options.seed;
    const std::string& isa = options.isa;
    const DivSqrtLanes kernels = isa == "avx512" ? divSqrtLanesAvx512() : divSqrtLanesAvx2();
    if (kernels.width == 0) {
        std::fprintf(stderr, "this build has no %s code\n", isa.c_str());
        return 2;
    }
    std::printf("%s, %s, %zu lanes a vector\n", processorName().c_str(), isa.c_str(), kernels.width);
    std::printf("%-11s %-20s %13s %10s %12s %10s %12s %10s %8s\n", "operation", "operands", "results", "mismatches",
                "fell back", "fraction", "slow vectors", "fraction", "seconds");

    // The estimates' range, single precision, for divisors and radicands.
    const OperandRange numerators{-300, 300, true, false};
    const OperandRange estimated{-120, 120, true, false};
    const OperandRange radicands{-120, 120, false, false};
    const OperandRange normal{-1022, 1023, true, false};
    const OperandRange any{0, 0, false, true};
    const struct {
        const char* name;
        SweepOperation operation;
        Population populations[3];
    } operations[] = {
        {"a / b",
         SweepOperation::Divide,
         {{"in range", numerators, estimated, 1}, {"whole normal range", normal, normal, 10}, {"any bits", any, any, 10}}},
        {"a1/b, a2/b",
         SweepOperation::Divide2,
         {{"in range", numerators, estimated, 1}, {"whole normal range", normal, normal, 10}, {"any bits", any, any, 10}}},
        {"sqrt x",
         SweepOperation::Sqrt,
         {{"in range", radicands, radicands, 1}, {"whole normal range", normal, normal, 10}, {"any bits", any, any, 10}}},
    };
    bool clean = true;
    for (const auto& op : operations) {
        for (const Population& p : op.populations) {
            SweepCount count;
            const uint64_t calls = (lanes / p.share + kernels.width - 1) / kernels.width;
            const auto start = std::chrono::steady_clock::now();
            kernels.sweep(op.operation, p.first, p.second, seed++, calls, count);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%-11s %-20s %13llu %10llu %12llu %10.3g %12llu %10.3g %8.2f\n", op.name, p.name,
                        static_cast<unsigned long long>(count.results),
                        static_cast<unsigned long long>(count.mismatches),
                        static_cast<unsigned long long>(count.fellBack),
                        static_cast<double>(count.fellBack) / static_cast<double>(count.results),
                        static_cast<unsigned long long>(count.slowCalls),
                        static_cast<double>(count.slowCalls) / static_cast<double>(count.calls), seconds);
            std::fflush(stdout);
            if (count.mismatches != 0) {
                clean = false;
                std::printf("  first mismatch: operands %a %a %a: got %a, vdivpd/vsqrtpd %a\n", count.operands[0],
                            count.operands[1], count.operands[2], count.got, count.want);
            }
        }
    }
    std::printf(clean ? "no mismatches\n" : "MISMATCHES\n");
    return clean ? 0 : 1;
}
