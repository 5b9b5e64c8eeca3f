#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "sim_test_support.h"

namespace {

using Form = ModelTest;

void setText(char (&field)[FORM_TEXT_SIZE], const std::string& text) {
    std::strncpy(field, text.c_str(), FORM_TEXT_SIZE - 1);
    field[FORM_TEXT_SIZE - 1] = '\0';
}

int32_t countFrom(const std::string& text) {
    ParameterForm form = formatParameterForm();
    setText(form.count, text);
    applyParameterForm(form);
    return simParameters.particleCount;
}

TEST_F(Form, ShowsTheDefaults) {
    ParameterForm f = formatParameterForm();
    EXPECT_STREQ(f.count, "500");
    EXPECT_STREQ(f.gravity, "20.000000");
    EXPECT_STREQ(f.density, "5.000000");
    EXPECT_STREQ(f.radius, "2.000000");
    EXPECT_STREQ(f.speed, "0.000000");
    EXPECT_STREQ(f.spread, "50.000000");
    EXPECT_STREQ(f.scale, "1.000000");
    EXPECT_STREQ(f.merge, "1");
}

TEST_F(Form, CountIsMadeNonNegativeAndCapped) {
    EXPECT_EQ(countFrom("-300"), 300);
    EXPECT_EQ(countFrom("50001"), 50000);
    EXPECT_EQ(countFrom("2147483647"), 50000);
    EXPECT_EQ(countFrom("-2147483648"), 50000);
    EXPECT_EQ(countFrom("99999999999999999999"), 50000);
    EXPECT_EQ(countFrom("-99999999999999999999"), 50000);
    EXPECT_EQ(countFrom("12abc"), 12);
    EXPECT_EQ(countFrom("abc"), 0);
    EXPECT_EQ(countFrom(""), 0);
    EXPECT_EQ(simState.lastIndex, -1);
}

TEST_F(Form, RadiusAndScaleAreCappedByTheCount) {
    ParameterForm f = formatParameterForm();
    setText(f.radius, "10");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.meanRadius, std::sqrt(45.0));
    EXPECT_STREQ(formatParameterForm().radius, "6.708204");

    f = formatParameterForm();
    setText(f.radius, "-1");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.meanRadius, std::sqrt(45.0));

    f = formatParameterForm();
    setText(f.radius, "2");
    setText(f.scale, "7");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.drawScale, std::sqrt(180.0) / 2);
    EXPECT_STREQ(formatParameterForm().scale, "6.708204");

    f = formatParameterForm();
    setText(f.scale, "-3");  // (-3 * 2)^2 = 36 <= 180: kept as entered
    applyParameterForm(f);
    EXPECT_EQ(simParameters.drawScale, -3.0);
}

TEST_F(Form, NegativeDensityAndSpreadTurnPositiveOthersStay) {
    ParameterForm f = formatParameterForm();
    setText(f.density, "-2.5");
    setText(f.spread, "-4");
    setText(f.gravity, "-7");
    setText(f.speed, "-3");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.density, 2.5);
    EXPECT_EQ(simParameters.speedSpread, 4.0);
    EXPECT_EQ(simParameters.gravity, -7.0);
    EXPECT_EQ(simParameters.meanSpeed, -3.0);
}

TEST_F(Form, MergeIsOnOnlyForOne) {
    const char* offTexts[] = {"0", "2", "", "yes", "-1", "4294967297"};
    for (const char* text : offTexts) {
        ParameterForm f = formatParameterForm();
        setText(f.merge, text);
        applyParameterForm(f);
        EXPECT_EQ(simParameters.mergeEnabled, 0) << text;
    }
    ParameterForm f = formatParameterForm();
    setText(f.merge, " +1x");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.mergeEnabled, 1);
}

TEST_F(Form, CountZeroLeavesCapsInfinite) {
    ParameterForm f = formatParameterForm();
    setText(f.count, "0");
    setText(f.radius, "-1");
    setText(f.scale, "1e300");
    applyParameterForm(f);
    EXPECT_EQ(simParameters.meanRadius, std::numeric_limits<double>::infinity());
    EXPECT_EQ(simParameters.drawScale, 1e300);
    EXPECT_EQ(simState.lastIndex, -1);
    // The infinite radius is shown in a form that reads back as itself.
    ParameterForm shown = formatParameterForm();
    applyParameterForm(shown);
    EXPECT_EQ(simParameters.meanRadius, std::numeric_limits<double>::infinity());
}

TEST_F(Form, OkWithUnchangedTextsRedrawsAndKeepsEveryValue) {
    ParameterForm f = formatParameterForm();
    setText(f.gravity, "1e300");
    setText(f.speed, "-1.5e200");
    setText(f.density, "1e999");
    applyParameterForm(f);
    SimulationParameters before = simParameters;
    simState.lastIndex = 7;
    simState.idleTicks = 9;
    simState.current[0] = body(1, 1, 1, 1);
    applyParameterForm(formatParameterForm());
    EXPECT_EQ(simParameters.gravity, before.gravity);
    EXPECT_EQ(simParameters.meanSpeed, before.meanSpeed);
    EXPECT_EQ(simParameters.density, before.density);
    EXPECT_EQ(simParameters.meanRadius, before.meanRadius);
    EXPECT_EQ(simState.lastIndex, 499);
    EXPECT_EQ(simState.idleTicks, 0);
    EXPECT_NE(simState.current[0].x, 1.0);
}

// Random and hostile texts: never a crash, and the stored values stay within their rules.
TEST_F(Form, HostileTextsAlwaysEndWithinTheRules) {
    std::mt19937 gen(11);
    const std::string pieces[] = {"9", "0", "-", "+", "e", "E", "d", "D", ".", " ", "1e999", "-2147483648",
                                  "inf", "nan", "0x", "\xE7\xB2\x92", "\xFF", "99999999999"};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(pieces)) - 1);
    for (int round = 0; round < 200; ++round) {
        ParameterForm f;
        for (char* field : {f.count, f.gravity, f.density, f.radius, f.speed, f.spread, f.scale, f.merge}) {
            std::string text;
            while (text.size() < 63 && gen() % 8 != 0) text += pieces[pick(gen)];
            std::strncpy(field, text.substr(0, 63).c_str(), FORM_TEXT_SIZE);
            field[FORM_TEXT_SIZE - 1] = '\0';
        }
        if (round % 2 == 0) setText(f.count, std::to_string(gen() % 40));  // keep most runs small
        applyParameterForm(f);
        ASSERT_GE(simParameters.particleCount, 0);
        ASSERT_LE(simParameters.particleCount, MAX_PARTICLE_COUNT);
        ASSERT_TRUE(simParameters.mergeEnabled == 0 || simParameters.mergeEnabled == 1);
        ASSERT_FALSE(simParameters.density < 0);
        ASSERT_FALSE(simParameters.speedSpread < 0);
        ASSERT_EQ(simState.lastIndex, simParameters.particleCount - 1);
        if (simParameters.particleCount <= 40) {
            for (int t = 0; t < 3; ++t) advanceTick();
        }
        ParameterForm shown = formatParameterForm();
        for (const char* text : {shown.count, shown.gravity, shown.density, shown.radius, shown.speed,
                                 shown.spread, shown.scale, shown.merge})
            ASSERT_LT(std::strlen(text), static_cast<std::size_t>(FORM_TEXT_SIZE));
    }
}

}  // namespace
