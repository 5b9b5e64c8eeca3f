// The loops of inverse_cube_lanes.h over one instruction set's vectors, written once over the Io of
// rounded_divsqrt_lanes_body.h (width, loads and stores, the mask as bits, the instructions) and its
// CubeLanes (inverse_cube_*.h). Included by files built with that set's flags, after its
// inverse_cube header.
#pragma once

namespace {

template <class Io>
struct CubeLoops {
    using Lanes = typename Io::CubeLanes;
    using C = InverseCube<Lanes>;
    static constexpr std::size_t W = Io::width;

    static void storeTrusted(unsigned char* out, typename C::Mask m) {
        const unsigned bits = Io::provenBits(m);
        for (std::size_t k = 0; k < W; ++k) out[k] = static_cast<unsigned char>((bits >> k) & 1U);
    }
    static void inverseCube(const double* x, double* out, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto v = Io::load(x + i);
            Io::store(out + i, C::anyLanes(v, C::refine(v)));
        }
    }
    static void refined(const double* x, double* out, unsigned char* trusted, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto c = C::refine(Io::load(x + i));
            Io::store(out + i, c.value);
            storeTrusted(trusted + i, c.trusted);
        }
    }
    static void refinedFrom(const double* x, const double* estimate, double* out, unsigned char* trusted,
                            std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto c = C::fromEstimate(Io::load(x + i), Io::load(estimate + i));
            Io::store(out + i, c.value);
            storeTrusted(trusted + i, c.trusted);
        }
    }
    static void estimate(const double* x, double* out, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) Io::store(out + i, Lanes::estimate(Io::load(x + i)));
    }
    // As the portable kernels and the lanes the estimate cannot serve: 1 / (x * sqrt(x)).
    static void divided(const double* x, double* out, std::size_t n) {
        for (std::size_t i = 0; i < n; i += W) {
            const auto v = Io::load(x + i);
            Io::store(out + i, Io::hardwareDivide(Lanes::broadcast(1.0), Lanes::mul(v, Io::hardwareSqrt(v))));
        }
    }

    // As many inverse cubes as the kernels' pair loop forms where the estimate serves (the
    // refinement, no check), in eight independent chains; returns their sum.
    static double ceiling(int64_t pairs) {
        using Vec = typename C::Vec;
        Vec r[8];
        Vec sum[8];
        const Vec step = Lanes::broadcast(1e-9);
        for (int k = 0; k < 8; ++k) {
            r[k] = Lanes::broadcast(1.0 + k);
            sum[k] = Lanes::broadcast(0.0);
        }
        for (int64_t n = 0; n < pairs; n += static_cast<int64_t>(8 * W)) {
            for (int k = 0; k < 8; ++k) {
                r[k] = Io::add(r[k], step);
                sum[k] = Io::add(sum[k], C::refine(r[k]).value);
            }
        }
        double lanes[W];
        double total = 0;
        for (const Vec& v : sum) {
            Io::store(lanes, v);
            for (double lane : lanes) total += lane;
        }
        return total;
    }

    static InverseCubeLanes table() {
        return InverseCubeLanes{.width = W,
                                .boundUlps = Lanes::BOUND_ULPS,
                                .inverseCube = inverseCube,
                                .refined = refined,
                                .refinedFrom = refinedFrom,
                                .estimate = estimate,
                                .divided = divided,
                                .ceiling = ceiling};
    }
};

}  // namespace
