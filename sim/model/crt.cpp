#include "crt.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#if defined(_WIN32)
#include <cstdlib>
#endif

namespace {

#if !defined(_WIN32)
uint32_t randState = 1;
#endif

bool clockFixed = false;
int64_t fixedSeconds = 0;

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char* skipSpaceAndSign(const char* p, bool& negative) {
    while (isCSpace(*p)) ++p;
    negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    return p;
}

// Decides over- or underflow for a number that from_chars found out of range:
// the decimal exponent of its leading significant digit says which.
double outOfRangeValue(const std::string& mantissa, long long exponent) {
    long long leading = 0;
    bool seenPoint = false;
    bool seenNonZero = false;
    long long integerDigits = 0;
    for (char c : mantissa) {
        if (c == '.') {
            seenPoint = true;
            continue;
        }
        if (!seenNonZero && c == '0') {
            if (seenPoint) --leading;
            continue;
        }
        if (!seenNonZero) {
            seenNonZero = true;
            if (seenPoint) --leading;
        }
        if (!seenPoint) ++integerDigits;
    }
    if (!seenNonZero) return 0.0;
    long long magnitude = (integerDigits > 0 ? integerDigits - 1 : leading) + exponent;
    return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

#if defined(_WIN32)
// The system's own generator is the reference on Windows.
void crtSrand(uint32_t seed) { std::srand(seed); }
int crtRand() { return std::rand(); }
#else
void crtSrand(uint32_t seed) { randState = seed; }

int crtRand() {
    randState = randState * 214013u + 2531011u;
    return static_cast<int>((randState >> 16) & 0x7FFFu);
}
#endif

int64_t crtTime() {
    if (clockFixed) return fixedSeconds;
#if defined(_WIN32)
    return static_cast<int64_t>(_time64(nullptr));
#else
    return static_cast<int64_t>(std::time(nullptr));
#endif
}

void crtFixClock(int64_t seconds) {
    clockFixed = true;
    fixedSeconds = seconds;
}

void crtUseRealClock() { clockFixed = false; }

int32_t crtAtoi(const char* text) {
    bool negative = false;
    const char* p = skipSpaceAndSign(text, negative);
    // Accumulate as a negative number so that -2147483648 fits; saturate beyond the range.
    const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::min());
    int64_t value = 0;
    for (; isDigit(*p); ++p) {
        value = value * 10 - (*p - '0');
        if (value < limit) value = limit - 1;
    }
    if (negative) return value < limit ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(value);
    if (value < -static_cast<int64_t>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(-value);
}

double crtAtof(const char* text) {
    bool negative = false;
    const char* p = skipSpaceAndSign(text, negative);

    std::string mantissa;
    int digits = 0;
    for (; isDigit(*p); ++p, ++digits) mantissa += *p;
    if (*p == '.') {
        mantissa += *p++;
        for (; isDigit(*p); ++p, ++digits) mantissa += *p;
    }
    if (digits == 0) return 0.0;

    // The exponent counts only when digits follow its letter and sign.
    long long exponent = 0;
    if (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D') {
        const char* q = p + 1;
        bool expNegative = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        if (isDigit(*q)) {
            for (; isDigit(*q); ++q) {
                if (exponent < 1000000000LL) exponent = exponent * 10 + (*q - '0');
            }
            if (expNegative) exponent = -exponent;
        }
    }

    std::string number = mantissa + 'e' + std::to_string(exponent);
    double value = 0.0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                  std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = outOfRangeValue(mantissa, exponent);
    return negative ? -value : value;
}

void formatInteger(char* out, std::size_t size, int32_t value) {
    if (size == 0) return;
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    std::size_t length = static_cast<std::size_t>(result.ptr - digits);
    if (length >= size) length = size - 1;
    std::memcpy(out, digits, length);
    out[length] = '\0';
}

void formatReal(char* out, std::size_t size, double value) {
    if (size == 0) return;
    char text[64];
    std::size_t length = 0;
    if (std::isinf(value)) {
        const char* form = value > 0 ? "1e999" : "-1e999";
        length = std::strlen(form);
        std::memcpy(text, form, length);
    } else if (std::isnan(value)) {
        length = 3;
        std::memcpy(text, "nan", length);
    } else {
        auto fixed = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
        length = static_cast<std::size_t>(fixed.ptr - text);
        if (fixed.ec != std::errc() || length >= size) {
            auto shortest = std::to_chars(text, text + sizeof text, value);
            length = static_cast<std::size_t>(shortest.ptr - text);
        }
    }
    if (length >= size) length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
}
