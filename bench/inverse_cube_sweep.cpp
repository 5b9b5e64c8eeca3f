// Checks the fast kernels' 1/(x sqrt(x)) (sim/kernels/inverse_cube_*.h) lane by lane: where the
// estimate serves, within the proven bound of x^(-3/2) (computed in long double); elsewhere the
// bits of the division and square root. Exits with 1 on any lane outside.
//
//   orrelune-inverse-cube-sweep [--lanes N] [--isa avx2|avx512] [--seed S]
//
// N lanes (default 10^9) where both instruction sets' estimates serve, a tenth of that on every
// estimate the processor's tables give, over the range of squared distances the fast engine can
// meet, over the whole normal range and with any bits at all, and a hundredth among subnormals.
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "inverse_cube_lanes.h"
#include "sweep_support.h"

namespace {

struct Random {
    uint64_t state;
    uint64_t next() {  // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
};

constexpr uint64_t SIGNIFICAND = (uint64_t{1} << 52) - 1;

// A positive double with a random significand and an exponent drawn from [low, high].
double drawn(Random& random, int low, int high) {
    const uint64_t r = random.next();
    const auto exponent = static_cast<uint64_t>(low + 1023 + static_cast<int>((r >> 52) % static_cast<uint64_t>(high - low + 1)));
    return std::bit_cast<double>(exponent << 52 | (random.next() & SIGNIFICAND));
}

enum class Kind { Range, EveryEstimate, AnyBits, Subnormal };

struct Population {
    const char* name;
    Kind kind;
    int low;
    int high;
    uint64_t share;  // lanes = total / share
};

double draw(const Population& p, Random& random, uint64_t index) {
    switch (p.kind) {
        case Kind::Range: return drawn(random, p.low, p.high);
        case Kind::EveryEstimate: {
            // Significands in [1, 4) stepped by 2^-20 in turn (each table entry of either estimate,
            // with both exponent parities), with random bits below and a random exponent.
            const uint64_t step = index % (uint64_t{1} << 21);
            const uint64_t significand = (step & ((uint64_t{1} << 20) - 1)) << 32 | (random.next() & 0xFFFFFFFFULL);
            const int exponent = 2 * static_cast<int>(random.next() % 121) - 120 + static_cast<int>(step >> 20);
            return std::bit_cast<double>(static_cast<uint64_t>(exponent + 1023) << 52 | significand);
        }
        case Kind::AnyBits: return std::bit_cast<double>(random.next());
        case Kind::Subnormal: {
            const uint64_t r = random.next();
            return std::bit_cast<double>((r & 1) << 52 | (r >> 12));  // subnormals and the lowest normal binade
        }
    }
    return 0;
}

struct Tally {
    uint64_t lanes = 0;
    uint64_t trusted = 0;
    uint64_t beyondBound = 0;     // trusted lanes further than the bound allows
    uint64_t notDivided = 0;      // other lanes whose bits are not the division's
    uint64_t offReference = 0;    // trusted lanes other than the correctly rounded value, where the reference decides it
    uint64_t undecided = 0;       // trusted lanes where it does not
    uint64_t nearMidpoint = 0;    // trusted lanes whose exact value is within 2^-10 ulp of a midpoint
    double worst = 0;             // largest error seen, in ulps
    double worstX = 0;
    double firstBad = 0;          // the first lane outside
    double firstBadGot = 0;
};

}  // namespace

int main(int argc, char** argv) {
    SweepOptions options;
    if (!readSweepOptions(argc, argv, options)) return 2;
    const uint64_t lanes = options.lanes;
    const std::string& isa = options.isa;
    const InverseCubeLanes kernels = isa == "avx512" ? inverseCubeLanesAvx512() : inverseCubeLanesAvx2();
    if (kernels.width == 0) {
        std::fprintf(stderr, "this build has no %s code\n", isa.c_str());
        return 2;
    }
    if (!extendedPrecisionActive()) {
        std::fprintf(stderr, "long double does not round to 64 bits here: no reference\n");
        return 2;
    }
    std::printf("%s, %s, %zu lanes a vector, bound %.4f ulp (+%.4f for the reference)\n", processorName().c_str(),
                isa.c_str(), kernels.width, kernels.boundUlps, REFERENCE_ULPS);
    std::printf("%-22s %12s %10s %10s %8s %10s %11s %12s %10s %8s\n", "x", "lanes", "trusted", "worst ulp", "beyond",
                "divided", "not rounded", "near midpt", "undecided", "seconds");

    const Population populations[] = {
        {"estimates' range", Kind::Range, -125, 124, 1},
        {"every estimate", Kind::EveryEstimate, 0, 0, 10},
        {"engine's range", Kind::Range, -640, 640, 10},
        {"whole normal range", Kind::Range, -1022, 1023, 10},
        {"any bits", Kind::AnyBits, 0, 0, 10},
        {"subnormal", Kind::Subnormal, 0, 0, 100},
    };
    constexpr std::size_t CHUNK = 4096;
    std::vector<double> x(CHUNK), got(CHUNK), refined(CHUNK), divided(CHUNK);
    std::vector<unsigned char> trusted(CHUNK);
    const double limit = kernels.boundUlps + REFERENCE_ULPS;
    bool clean = true;
    Random random{options.seed};
    for (const Population& p : populations) {
        Tally t;
        const uint64_t total = (lanes / p.share + CHUNK - 1) / CHUNK * CHUNK;
        const auto start = std::chrono::steady_clock::now();
        for (uint64_t done = 0; done < total; done += CHUNK) {
            for (std::size_t k = 0; k < CHUNK; ++k) x[k] = draw(p, random, done + k);
            kernels.inverseCube(x.data(), got.data(), CHUNK);
            kernels.refined(x.data(), refined.data(), trusted.data(), CHUNK);
            kernels.divided(x.data(), divided.data(), CHUNK);
            for (std::size_t k = 0; k < CHUNK; ++k) {
                ++t.lanes;
                bool bad = false;
                if (trusted[k] != 0) {
                    ++t.trusted;
                    const long double exact = exactInverseCube(x[k]);
                    const double error = ulpsFrom(got[k], exact);
                    bad = !(error <= limit) || std::bit_cast<uint64_t>(got[k]) != std::bit_cast<uint64_t>(refined[k]);
                    t.beyondBound += bad ? 1 : 0;
                    if (error > t.worst) {
                        t.worst = error;
                        t.worstX = x[k];
                    }
                    // How far the exact value lies from the double nearest it: near 1/2 it is next to a
                    // midpoint, and within the reference's error the rounding is not decided.
                    const double fraction = ulpsFrom(static_cast<double>(exact), exact);
                    t.nearMidpoint += fraction > 0.5 - 0x1p-10 ? 1 : 0;
                    t.undecided += fraction > 0.5 - REFERENCE_ULPS ? 1 : 0;
                    t.offReference += fraction <= 0.5 - REFERENCE_ULPS && got[k] != static_cast<double>(exact) ? 1 : 0;
                } else {
                    bad = std::bit_cast<uint64_t>(got[k]) != std::bit_cast<uint64_t>(divided[k]);
                    t.notDivided += bad ? 1 : 0;
                }
                if (bad && t.beyondBound + t.notDivided == 1) {
                    t.firstBad = x[k];
                    t.firstBadGot = got[k];
                }
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-22s %12llu %10.4g %10.5f %8llu %10llu %11.3g %12llu %10llu %8.1f\n", p.name,
                    static_cast<unsigned long long>(t.lanes), static_cast<double>(t.trusted) / static_cast<double>(t.lanes),
                    t.worst, static_cast<unsigned long long>(t.beyondBound),
                    static_cast<unsigned long long>(t.notDivided),
                    t.trusted == 0 ? 0.0 : static_cast<double>(t.offReference) / static_cast<double>(t.trusted),
                    static_cast<unsigned long long>(t.nearMidpoint), static_cast<unsigned long long>(t.undecided),
                    seconds);
        if (t.worst > 0) std::printf("  worst at x = %a\n", t.worstX);
        std::fflush(stdout);
        if (t.beyondBound + t.notDivided != 0) {
            clean = false;
            std::printf("  first lane outside: x = %a gave %a, exact %La\n", t.firstBad, t.firstBadGot,
                        exactInverseCube(t.firstBad));
        }
    }
    std::printf(clean ? "every lane within\n" : "LANES OUTSIDE\n");
    return clean ? 0 : 1;
}
