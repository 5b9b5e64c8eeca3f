#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "simulation.h"

namespace {

// Repeated subtraction and addition, exactly as the wrap rule reads.
double wrapByLoop(double value, double extent) {
    while (value > extent) value = value - extent;
    while (value < 0) value = value + extent;
    return value;
}

TEST(Torus, WrapsAcrossEachEdge) {
    EXPECT_EQ(wrapCoordinate(1000.0, 1000.0), 1000.0);
    EXPECT_EQ(wrapCoordinate(0.0, 1000.0), 0.0);
    EXPECT_EQ(wrapCoordinate(1000.5, 1000.0), 0.5);
    EXPECT_EQ(wrapCoordinate(-0.5, 1000.0), 999.5);
    EXPECT_EQ(wrapCoordinate(2500.0, 1000.0), 500.0);
    EXPECT_EQ(wrapCoordinate(2000.0, 1000.0), 1000.0);  // a whole multiple stops at the edge, not at 0
    EXPECT_EQ(wrapCoordinate(-700.0, 700.0), 0.0);
    EXPECT_EQ(wrapCoordinate(-1e-20, 700.0), 700.0);     // the last addition rounds up to the edge
}

TEST(Torus, WrapMatchesRepeatedSubtractionFarOut) {
    std::mt19937_64 gen(7);
    for (double extent : {1000.0, 700.0}) {
        for (int k = 0; k < 4000; ++k) {
            double periods = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(gen), k % 15);
            double value = periods * extent;
            ASSERT_EQ(wrapCoordinate(value, extent), wrapByLoop(value, extent)) << value << " on " << extent;
        }
        for (double multiple : {3.0, 64.0, 65.0, 1000.0, -64.0, -65.0, -1000.0}) {
            double value = multiple * extent;
            EXPECT_EQ(wrapCoordinate(value, extent), wrapByLoop(value, extent)) << value;
        }
    }
}

TEST(Torus, WrapAlwaysTerminates) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(wrapCoordinate(std::nan(""), 1000.0)));
    EXPECT_TRUE(std::isnan(wrapCoordinate(inf, 1000.0)));
    EXPECT_TRUE(std::isnan(wrapCoordinate(-inf, 1000.0)));
    double far = wrapCoordinate(1e300, 1000.0);
    EXPECT_GE(far, 0.0);
    EXPECT_LE(far, 1000.0);
    double farBelow = wrapCoordinate(-1e300, 700.0);
    EXPECT_GE(farBelow, 0.0);
    EXPECT_LE(farBelow, 700.0);
    EXPECT_EQ(wrapCoordinate(5.0, 0.0), 5.0);  // no period: left alone rather than looping
}

TEST(Torus, OffsetTakesTheShorterWay) {
    EXPECT_EQ(minimumImageOffset(10, 990, 1000), 20);
    EXPECT_EQ(minimumImageOffset(990, 10, 1000), 20);
    EXPECT_EQ(minimumImageOffset(0, 500, 1000), 500);  // tie: the direct difference
    EXPECT_EQ(minimumImageOffset(100, 40, 1000), 60);
    EXPECT_NEAR(minimumImageOffset(-0.5, 999.9, 1000), -0.4, 1e-9);
}

TEST(Torus, PullSignFlipsAcrossTheEdge) {
    EXPECT_EQ(axisPullSign(10, 990, 1000), 1.0);
    EXPECT_EQ(axisPullSign(990, 10, 1000), -1.0);
    EXPECT_EQ(axisPullSign(5, 5, 1000), -1.0);
    EXPECT_EQ(axisPullSign(600, 100, 1000), 1.0);
    EXPECT_EQ(axisPullSign(0, 500, 1000), -1.0);  // half a period apart: the direct side
    EXPECT_EQ(axisPullSign(-0.5, 999.9, 1000), 1.0);
    // Sign times offset is the signed displacement from b to a, also just outside the field.
    EXPECT_NEAR(axisPullSign(-0.5, 999.9, 1000) * minimumImageOffset(-0.5, 999.9, 1000), -0.4, 1e-9);
    EXPECT_EQ(axisPullSign(10, 990, 1000) * minimumImageOffset(10, 990, 1000), 20);
}

TEST(Torus, DistanceGoesRoundBothAxes) {
    EXPECT_EQ(periodicDistance(1, 1, 999, 699, 1000, 700), std::sqrt(8.0));
    EXPECT_EQ(periodicDistance(0, 0, 3, 4, 1000, 700), 5.0);
    EXPECT_EQ(periodicDistance(0, 0, 500, 350, 1000, 700), std::sqrt(500.0 * 500 + 350.0 * 350));
    EXPECT_EQ(periodicDistance(7, 7, 7, 7, 1000, 700), 0.0);
}

}  // namespace
