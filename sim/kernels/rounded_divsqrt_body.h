// Correctly rounded division and square root from the processor's reciprocal estimates, written
// once over a lane type L (rounded_divsqrt_avx2.h, rounded_divsqrt_avx512.h). Every lane gives the
// bits of the hardware instruction, vdivpd or vsqrtpd, whatever the estimates are: a few
// multiply-adds turn the estimate into a candidate, an exact test proves the candidate is the
// rounded result, and the lanes it cannot prove are taken by the instruction itself.
//
// Needs rounding to nearest. Flushing subnormals changes nothing: proven lanes are far from them.
//
// Both tests compare RN(|remainder|) < RN(bound), with the remainder (one fma) and the bound (one
// product) each rounded once. Rounding is monotonic, so that comparison implies the exact one,
// |remainder| < bound, whatever the rounding did, in the subnormal range or on overflow too; NaNs
// fail it. So they hold for any candidate, good or garbage, and for any operands.
//
// The quotient q of a / b: q = RN(a/b) when |a - q*b| < 2^(e-53) * |b|, 2^e being q's leading
// power of two (half the spacing around q). At q = +-2^e the spacing below is half the one above,
// but no quotient of doubles lies in the extra band: unless b is a power of two (a/b is then
// exact), a/b < 2^e puts a at least 2^e * b / B below 2^e * b, B < 2^53 being b's integer
// significand, so a/b is more than 2^(e-53) below 2^e and fails anyway.
// The bound's 2^(e-53) is q's exponent field less 53, as an integer; where that is no normal
// exponent the result is +0, -inf or has the sign bit set, and nothing passes. A zero, subnormal or
// non-finite q fails, and so does one of the wrong sign (the remainder is then at least |q*b|).
//
// The root s of x: RN(sqrt(x)) = s exactly when (s - u-)^2 < x < (s + u+)^2, u- and u+ the half
// spacings below and above. With R = x - s*s, |R| < 2*s*u (u the smaller of them) is enough:
// R and 2*s*u are multiples of 2^(2e-104) (s = S * 2^(e-52)), so R cannot fall into the extra u^2
// of the exact condition. 2*s*u is s * 2^(e-52), or s * 2^(e-53) at a power of two, where the
// spacing below is half: RN(s * (1 - 2^-53)) is s's predecessor there and has s's exponent
// elsewhere, and its exponent field is the one needed (2^-52 is folded into the constant; an s
// below 2^-969 may get a bound of the wrong binade, but the bound then underflows to zero). A
// negative s gets a negative bound: s*s alone would hide the sign.
#pragma once

namespace {

template <class L>
struct RoundedDivSqrt {
    using Vec = typename L::Vec;
    using Mask = typename L::Mask;

    // A candidate and the lanes where it is proven to be the hardware's result.
    struct Checked {
        Vec value;
        Mask proven;
    };
    struct Quotients {
        Vec first;
        Vec second;
    };

    static Vec exponentField() { return L::bits(0x7FF0000000000000LL); }

    // Lanes where q is a / b correctly rounded (some correct lanes may fail; no wrong one passes).
    static Mask provenQuotient(Vec a, Vec b, Vec q) {
        const Vec remainder = L::fnmadd(q, b, a);
        const Vec halfSpacing = L::subtractBits(L::andBits(q, exponentField()), L::bits(53LL << 52));
        return L::less(L::abs(remainder), L::mul(halfSpacing, L::abs(b)));
    }

    // Lanes where s is sqrt(x) correctly rounded.
    static Mask provenRoot(Vec x, Vec s) {
        const Vec remainder = L::fnmadd(s, s, x);
        const Vec spacing = L::andBits(L::mul(s, L::broadcast(0x1.fffffffffffffp-53)), exponentField());
        return L::less(L::abs(remainder), L::mul(spacing, s));
    }

    // 1/b to about 3 times the estimate's bits: with y0 = (1 - e)/b, y0 * (1 + e + e^2) = (1 - e^3)/b.
    static Vec refinedReciprocal(Vec b, Vec estimate) {
        const Vec e = L::fnmadd(b, estimate, L::broadcast(1.0));
        return L::fmadd(estimate, L::fmadd(e, e, e), estimate);
    }

    // One correction from a * y: with y off by d relatively the candidate is off by about d^2
    // before its rounding, which a 12-bit estimate makes 2^-68, far below half an ulp.
    static Checked quotient(Vec a, Vec b, Vec reciprocal) {
        const Vec q0 = L::mul(a, reciprocal);
        const Vec q = L::fmadd(L::fnmadd(q0, b, a), reciprocal, q0);
        return Checked{q, provenQuotient(a, b, q)};
    }

    // From g ~ 1/sqrt(x): s = x*g and h = g/2 refined together by the series of (1 - 2d)^(-1/2),
    // d = 1/2 - s*h, to second order, then one correction s + (x - s*s) * h.
    static Checked root(Vec x, Vec estimate) {
        const Vec s0 = L::mul(x, estimate);
        const Vec h0 = L::mul(estimate, L::broadcast(0.5));
        const Vec d = L::fnmadd(s0, h0, L::broadcast(0.5));
        const Vec p = L::mul(d, L::fmadd(d, L::broadcast(1.5), L::broadcast(1.0)));
        const Vec s = L::fmadd(s0, p, s0);
        const Vec h = L::fmadd(h0, p, h0);
        const Vec root = L::fmadd(L::fnmadd(s, s, x), h, s);
        return Checked{root, provenRoot(x, root)};
    }

    static Vec divide(Vec a, Vec b, Vec estimate) {
        const Checked q = quotient(a, b, refinedReciprocal(b, estimate));
        if (L::all(q.proven)) [[likely]]
            return q.value;
        return L::divideWhereNot(q.proven, q.value, a, b);
    }

    // a1 / b and a2 / b sharing the refined reciprocal; each quotient is proven on its own.
    static Quotients divide2(Vec a1, Vec a2, Vec b, Vec estimate) {
        const Vec y = refinedReciprocal(b, estimate);
        const Checked q1 = quotient(a1, b, y);
        const Checked q2 = quotient(a2, b, y);
        if (L::all(L::both(q1.proven, q2.proven))) [[likely]]
            return Quotients{q1.value, q2.value};
        return Quotients{L::all(q1.proven) ? q1.value : L::divideWhereNot(q1.proven, q1.value, a1, b),
                         L::all(q2.proven) ? q2.value : L::divideWhereNot(q2.proven, q2.value, a2, b)};
    }

    static Vec sqrt(Vec x, Vec estimate) {
        const Checked s = root(x, estimate);
        if (L::all(s.proven)) [[likely]]
            return s.value;
        return L::sqrtWhereNot(s.proven, s.value, x);
    }
};

}  // namespace
