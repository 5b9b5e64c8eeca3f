// Operands for the tests of the kernels' lane arithmetic (the rounded division and square root,
// the inverse cube): doubles as bits, drawn over a range of exponents, shown with their bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace operands {

// The sanitizer build runs the same cases on fewer operands.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t SCALE = 1;
#else
constexpr std::size_t SCALE = 16;
#endif

using Doubles = std::vector<double>;
using Rng = std::mt19937_64;

inline uint64_t bitsOf(double v) {
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}
inline double fromBits(uint64_t u) {
    double v = 0;
    std::memcpy(&v, &u, sizeof v);
    return v;
}
inline std::string show(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%a (0x%016llx)", v, static_cast<unsigned long long>(bitsOf(v)));
    return text;
}

constexpr uint64_t SIGNIFICAND = (uint64_t{1} << 52) - 1;

// A random significand with an exponent drawn from [low, high] (normal numbers), either sign or positive.
inline double drawn(Rng& rng, int low, int high, bool signed_) {
    const uint64_t exponent = static_cast<uint64_t>(std::uniform_int_distribution<int>(low, high)(rng) + 1023);
    const uint64_t sign = signed_ ? (rng() & 1) << 63 : 0;
    return fromBits(sign | exponent << 52 | (rng() & SIGNIFICAND));
}

inline Doubles drawnMany(Rng& rng, std::size_t n, int low, int high, bool signed_) {
    Doubles v(n);
    for (double& d : v) d = drawn(rng, low, high, signed_);
    return v;
}

}  // namespace operands
