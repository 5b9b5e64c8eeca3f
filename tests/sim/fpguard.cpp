#include "fpguard.h"

// Offer the compiler an FMA instruction: if the model's flags allowed contraction, it would use it.
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("fma")))
#endif
double unfusedMultiplyAdd(double a, double b, double c) {
    return a * b + c;
}
