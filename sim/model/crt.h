// The few C-runtime behaviours the model relies on, made the same on every system:
// the 15-bit generator, the calendar clock, lenient number reading and bounded formatting.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int CRT_RAND_MAX = 32767;

// Seeds the 15-bit generator (the Windows C runtime's linear congruential sequence).
void crtSrand(uint32_t seed);
// Next draw of the 15-bit generator, 0..CRT_RAND_MAX.
int crtRand();

// Calendar time in whole seconds, or the fixed value set below.
int64_t crtTime();
// Makes every later crtTime() return seconds (a test's or the driver's fixed clock).
void crtFixClock(int64_t seconds);
// Goes back to the real clock.
void crtUseRealClock();

// Optional white space, optional sign, decimal digits; stops at the first other character.
// Values beyond the 32-bit range saturate at its ends.
int32_t crtAtoi(const char* text);
// Optional white space, optional sign, digits with an optional fraction, and an optional
// exponent introduced by e, E, d or D. No "inf", "nan" or hex. Overflow gives +-infinity.
double crtAtof(const char* text);

// "%d" into a buffer of size bytes (always terminated).
void formatInteger(char* out, std::size_t size, int32_t value);
// "%lf" (six decimals) into a buffer of size bytes, always terminated and independent of the
// locale. A value whose six-decimal form does not fit is written in the shortest form that
// reads back as the same value; infinities as "1e999" and "-1e999", which read back as themselves.
void formatReal(char* out, std::size_t size, double value);
