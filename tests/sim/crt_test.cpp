#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "crt.h"

namespace {

const double INF = std::numeric_limits<double>::infinity();

TEST(Crt, RandFollowsTheWindowsSequence) {
    crtSrand(1);
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int value : expected) EXPECT_EQ(crtRand(), value);
    crtSrand(1);
    EXPECT_EQ(crtRand(), 41);  // reseeding starts over
}

TEST(Crt, RandStaysWithinFifteenBits) {
    crtSrand(0xFFFFFFFFu);
    for (int k = 0; k < 100000; ++k) {
        int v = crtRand();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, CRT_RAND_MAX);
    }
}

TEST(Crt, ClockCanBeFixedAndReleased) {
    crtFixClock(-5);
    EXPECT_EQ(crtTime(), -5);
    crtFixClock(int64_t{1} << 40);
    EXPECT_EQ(crtTime(), int64_t{1} << 40);
    crtUseRealClock();
    EXPECT_GT(crtTime(), 1600000000);
}

TEST(Crt, AtoiReadsLeadingDigitsOnly) {
    EXPECT_EQ(crtAtoi("500"), 500);
    EXPECT_EQ(crtAtoi("  \t-300"), -300);
    EXPECT_EQ(crtAtoi("+12abc"), 12);
    EXPECT_EQ(crtAtoi(""), 0);
    EXPECT_EQ(crtAtoi("abc"), 0);
    EXPECT_EQ(crtAtoi("- 5"), 0);
    EXPECT_EQ(crtAtoi("1.9"), 1);
    EXPECT_EQ(crtAtoi("0x1A"), 0);
    EXPECT_EQ(crtAtoi("\xEF\xBC\x95"), 0);  // a full-width digit is not a digit
}

TEST(Crt, AtoiSaturatesOutsideThirtyTwoBits) {
    EXPECT_EQ(crtAtoi("2147483647"), 2147483647);
    EXPECT_EQ(crtAtoi("-2147483648"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(crtAtoi("2147483648"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(crtAtoi("-2147483649"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(crtAtoi("4294967297"), std::numeric_limits<int32_t>::max());  // no wrap round to 1
    EXPECT_EQ(crtAtoi(std::string(63, '9').c_str()), std::numeric_limits<int32_t>::max());
}

TEST(Crt, AtofReadsTheLenientGrammar) {
    EXPECT_EQ(crtAtof("20.000000"), 20.0);
    EXPECT_EQ(crtAtof("  -2.5"), -2.5);
    EXPECT_EQ(crtAtof("+.5"), 0.5);
    EXPECT_EQ(crtAtof("5."), 5.0);
    EXPECT_EQ(crtAtof("."), 0.0);
    EXPECT_EQ(crtAtof("1.5e2"), 150.0);
    EXPECT_EQ(crtAtof("1.5E+2"), 150.0);
    EXPECT_EQ(crtAtof("1.5d2"), 150.0);
    EXPECT_EQ(crtAtof("25D-1"), 2.5);
    EXPECT_EQ(crtAtof("3e"), 3.0);     // an exponent letter without digits is not read
    EXPECT_EQ(crtAtof("3e+x"), 3.0);
    EXPECT_EQ(crtAtof("7,5"), 7.0);    // the decimal point is always '.'
    EXPECT_EQ(crtAtof("0.1"), 0.1);    // correctly rounded
    EXPECT_EQ(crtAtof("4.9e-324"), std::numeric_limits<double>::denorm_min());
}

TEST(Crt, AtofRejectsWordsAndHex) {
    EXPECT_EQ(crtAtof("inf"), 0.0);
    EXPECT_EQ(crtAtof("-infinity"), 0.0);
    EXPECT_EQ(crtAtof("nan"), 0.0);
    EXPECT_EQ(crtAtof("0x1p3"), 0.0);
    EXPECT_EQ(crtAtof("12nan"), 12.0);
    EXPECT_EQ(crtAtof(""), 0.0);
}

TEST(Crt, AtofOverflowGivesInfinityAndUnderflowZero) {
    EXPECT_EQ(crtAtof("1e999"), INF);
    EXPECT_EQ(crtAtof("-1e999"), -INF);
    EXPECT_EQ(crtAtof("1e99999999999999999999"), INF);
    EXPECT_EQ(crtAtof("0.001e309"), 1e306);
    EXPECT_EQ(crtAtof("0.001e312"), INF);
    EXPECT_EQ(crtAtof("1e-999"), 0.0);
    EXPECT_EQ(crtAtof("123456e-999"), 0.0);
    EXPECT_EQ(crtAtof("0e999"), 0.0);
    EXPECT_EQ(crtAtof(std::string(63, '9').c_str()), 1e63);
    EXPECT_EQ(crtAtof(("0." + std::string(61, '0')).c_str()), 0.0);
}

TEST(Crt, FormatWritesSixDecimals) {
    char text[64];
    formatReal(text, sizeof text, 20.0);
    EXPECT_STREQ(text, "20.000000");
    formatReal(text, sizeof text, 0.0);
    EXPECT_STREQ(text, "0.000000");
    formatReal(text, sizeof text, std::sqrt(45.0));
    EXPECT_STREQ(text, "6.708204");
    formatReal(text, sizeof text, -1.0000005);
    EXPECT_STREQ(text, "-1.000001");
    formatReal(text, sizeof text, 1e55);  // 63 characters: still fits
    EXPECT_EQ(std::strlen(text), 63u);
    formatInteger(text, sizeof text, -2147483647 - 1);
    EXPECT_STREQ(text, "-2147483648");
}

TEST(Crt, FormatNeverOverrunsAndReadsBack) {
    const double values[] = {1e56, -1e56, 1e300, -1.7976931348623157e308, INF, -INF, 123456789e50};
    for (double v : values) {
        char guard[96];
        std::memset(guard, 'X', sizeof guard);
        formatReal(guard, 64, v);
        EXPECT_LT(std::strlen(guard), 64u) << v;
        for (std::size_t k = 64; k < sizeof guard; ++k) ASSERT_EQ(guard[k], 'X') << v;
        EXPECT_EQ(crtAtof(guard), v) << guard;
    }
    char tiny[4];
    formatReal(tiny, sizeof tiny, 20.0);
    EXPECT_STREQ(tiny, "20");  // too narrow for six decimals: the shortest exact form
}

// a*b+c written as two operations, where the compiler may use an FMA instruction: these tests are
// built with the model's floating-point flags, so a contraction they allowed would show here.
// Kept out of reach of the optimiser's constant propagation, so the multiply-add is compiled as such.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target("fma"), noipa))
#elif defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("fma"), noinline))
#endif
double unfusedMultiplyAdd(double a, double b, double c) {
    return a * b + c;
}

// The model's code must not fuse a*b+c into one rounding, or results would differ between builds.
TEST(FloatingPoint, ModelCodeIsNotContracted) {
    const double a = 1.0 + std::ldexp(1.0, -27);
    const double b = 1.0 - std::ldexp(1.0, -27);
    // a*b = 1 - 2^-54 rounds to 1, so the unfused result is 0; a fused one would be -2^-54.
    EXPECT_EQ(unfusedMultiplyAdd(a, b, -1.0), 0.0);
}

}  // namespace
