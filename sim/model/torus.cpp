#include "model.h"

#include <cmath>

namespace {

// Ordinary motion leaves a coordinate at most a period or two out; past this many
// periods the remainder is taken at once, so huge values cannot stall the loop.
constexpr int LITERAL_WRAP_PERIODS = 64;

// What repeated subtraction or addition of extent would give, for values far outside the field.
// fmod is exact; its only differences from the loop are fixed up here: a positive multiple of the
// period stops at extent, not 0, and a negative remainder gets its period added like the last pass.
double wrapFar(double value, double extent) {
    if (!std::isfinite(value) || !std::isfinite(extent) || !(extent > 0)) {
        // No period to fold by (or no position at all): nothing sensible to wrap to.
        return std::isfinite(extent) && extent > 0 ? std::nan("") : value;
    }
    double r = std::fmod(value, extent);
    if (value > extent) return r == 0 ? extent : r;
    return r < 0 ? r + extent : 0.0;
}

}  // namespace

double wrapCoordinate(double value, double extent) {
    for (int n = 0; value > extent; ++n) {
        if (n == LITERAL_WRAP_PERIODS) return wrapFar(value, extent);
        value = value - extent;
    }
    for (int n = 0; value < 0; ++n) {
        if (n == LITERAL_WRAP_PERIODS) return wrapFar(value, extent);
        value = value + extent;
    }
    return value;
}

double minimumImageOffset(double a, double b, double extent) {
    double d = std::fabs(a - b);
    return extent - d < d ? extent - d : d;
}

double axisPullSign(double a, double b, double extent) {
    double s = a > b ? 1.0 : -1.0;
    double w = minimumImageOffset(a, b, extent) == std::fabs(a - b) ? 1.0 : -1.0;
    return s * w;
}

double periodicDistance(double x1, double y1, double x2, double y2, double width, double height) {
    double dx = x1 - x2;
    double qx = (width - std::fabs(dx)) * (width - std::fabs(dx));
    double px = dx * dx;
    double sx = qx >= px ? px : qx;
    double dy = y1 - y2;
    double qy = (height - std::fabs(dy)) * (height - std::fabs(dy));
    double py = dy * dy;
    double sy = qy >= py ? py : qy;
    return std::sqrt(sx + sy);
}
