#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "digest.h"
#include "sim_test_support.h"

namespace {

using Population = ModelTest;

void draw() { initializePopulation(FIELD_WIDTH, FIELD_HEIGHT); }

TEST_F(Population, FillsTheFieldWithWholeRadiiAndAreaMasses) {
    simState.lastIndex = 3;
    simState.idleTicks = 17;
    draw();
    EXPECT_EQ(simState.lastIndex, 499);
    EXPECT_EQ(simState.idleTicks, 0);
    int dead = 0;
    for (int32_t i = 0; i <= simState.lastIndex; ++i) {
        const Particle& p = simState.current[i];
        EXPECT_EQ(p.radius, std::floor(p.radius));
        EXPECT_EQ(p.mass, p.radius * 5.0 * p.radius * 3.141592653589793);
        EXPECT_GE(p.x, 0.0);
        EXPECT_LE(p.x, FIELD_WIDTH);
        EXPECT_GE(p.y, 0.0);
        EXPECT_LE(p.y, FIELD_HEIGHT);
        if (p.mass == 0) ++dead;
    }
    // Poisson(2) gives 0 with probability e^-2, about one in seven.
    EXPECT_GT(dead, 35);
    EXPECT_LT(dead, 100);
}

TEST_F(Population, DrawsInTheDocumentedOrder) {
    draw();
    // Per particle: Poisson, rand (x), rand (y), Gaussian, rand (angle).
    crtSrand(static_cast<uint32_t>(TEST_CLOCK));
    for (int32_t i = 0; i < 20; ++i) {
        const Particle& p = simState.current[i];
        int rx = crtRand();
        int ry = crtRand();
        int ra = crtRand();
        EXPECT_EQ(p.x, rx * FIELD_WIDTH / 32767.0);
        EXPECT_EQ(p.y, ry * FIELD_HEIGHT / 32767.0);
        double angle = ra * 12.566370614359172 / 32767.0;
        EXPECT_NEAR(p.vy * std::cos(angle), p.vx * std::sin(angle), 1e-9);
    }
}

TEST_F(Population, SameSecondDrawsTheSamePopulation) {
    draw();
    uint64_t first = hashPopulation();
    draw();
    EXPECT_EQ(hashPopulation(), first);
    crtFixClock(TEST_CLOCK + 1);
    draw();
    EXPECT_NE(hashPopulation(), first);
}

TEST_F(Population, SeedsAreTheClockTruncatedToThirtyTwoBits) {
    crtFixClock(5);
    draw();
    uint64_t low = hashPopulation();
    crtFixClock((int64_t{1} << 32) + 5);
    draw();
    EXPECT_EQ(hashPopulation(), low);
}

TEST_F(Population, ZeroDensityMakesEveryParticleDead) {
    simParameters.density = 0;
    draw();
    EXPECT_EQ(summarizePopulation().live, 0);
    EXPECT_EQ(simState.lastIndex, 499);
}

TEST_F(Population, ZeroCountDrawsNothing) {
    simParameters.particleCount = 0;
    resizeAndReinitialize();
    EXPECT_EQ(simState.lastIndex, -1);
    EXPECT_EQ(simState.current.count, 0);
    EXPECT_EQ(simState.snapshot.count, 0);
}

TEST_F(Population, MeanSpeedShiftsEverySpeed) {
    simParameters.speedSpread = 0;
    simParameters.meanSpeed = 7;
    draw();
    for (int32_t i = 0; i <= simState.lastIndex; ++i)
        EXPECT_NEAR(std::hypot(simState.current[i].vx, simState.current[i].vy), 7.0, 1e-12);
}

// GSL's variables, put back after each test.
class RandomEnvironment : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        for (Saved& v : saved) {
            const char* value = std::getenv(v.name);
            v.present = value != nullptr;
            v.value = value != nullptr ? value : "";
        }
    }
    void TearDown() override {
        for (const Saved& v : saved) setEnvironment(v.name, v.present ? v.value.c_str() : nullptr);
        ModelTest::TearDown();
    }

private:
    struct Saved {
        const char* name;
        bool present;
        std::string value;
    };
    Saved saved[2] = {{"GSL_RNG_TYPE", false, {}}, {"GSL_RNG_SEED", false, {}}};
};

// What GSL takes, the program takes; a generator name it does not know is named back with the
// ones it knows, each of which it takes.
TEST_F(RandomEnvironment, GeneratorNamesGslDoesNotKnowAreReported) {
    setEnvironment("GSL_RNG_TYPE", nullptr);
    EXPECT_EQ(randomEnvironmentProblem(), nullptr);
    for (const char* wrong : {"bogus", "MT19937", "mt19937 ", ""}) {
        setEnvironment("GSL_RNG_TYPE", wrong);
#if defined(_WIN32)
        // Windows cannot hold an empty variable: "" removes it.
        if (*wrong == '\0') continue;
#endif
        const char* problem = randomEnvironmentProblem();
        ASSERT_NE(problem, nullptr) << wrong;
        const std::string line = problem;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const std::string head = "GSL_RNG_TYPE='" + std::string(wrong) + "' names no GSL generator; GSL's generators are ";
        ASSERT_EQ(line.substr(0, head.size()), head);
        std::size_t named = 0;
        for (std::size_t at = head.size(); at < line.size(); ++named) {
            std::size_t end = line.find(", ", at);
            if (end == std::string::npos) end = line.size();
            const std::string name = line.substr(at, end - at);
            setEnvironment("GSL_RNG_TYPE", name.c_str());
            EXPECT_EQ(randomEnvironmentProblem(), nullptr) << name;
            setEnvironment("GSL_RNG_TYPE", wrong);
            at = end + 2;
        }
        EXPECT_GT(named, 50U);
        EXPECT_NE(line.find(", mt19937, "), std::string::npos);
    }
}

// GSL reads the seed with strtoul and refuses none; the clock sets the seed anyway.
TEST_F(RandomEnvironment, AnySeedIsTakenAndTheClockStillSeeds) {
    setEnvironment("GSL_RNG_TYPE", nullptr);
    setEnvironment("GSL_RNG_SEED", nullptr);
    draw();
    const uint64_t unseeded = hashPopulation();
    for (const char* seed : {"12345", "garbage", "-1", "99999999999999999999999"}) {
        setEnvironment("GSL_RNG_SEED", seed);
        EXPECT_EQ(randomEnvironmentProblem(), nullptr) << seed;
        testing::internal::CaptureStderr();
        draw();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(hashPopulation(), unseeded) << seed;
    }
}

// Asked to draw all the same, the model leaves an empty field rather than letting GSL abort.
TEST_F(RandomEnvironment, AnUnknownGeneratorDrawsNothing) {
    setEnvironment("GSL_RNG_TYPE", "bogus");
    testing::internal::CaptureStderr();
    draw();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(simState.lastIndex, -1);
    // And the next draw with a known name is whole again.
    setEnvironment("GSL_RNG_TYPE", "mt19937");
    testing::internal::CaptureStderr();
    draw();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(simState.lastIndex, 499);
}

}  // namespace
