#include "parameterdialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "crt.h"
#include "mainwindow.h"
#include "resource.h"
#include "digest.h"
#include "fake_toolkit.h"
#include "simulation.h"
#include "user32.h"

namespace {

class ParameterDialog : public ::testing::Test {
protected:
    void SetUp() override {
        backend.install(5000);
        simParameters = SimulationParameters();
        crtFixClock(1000);
        resizeAndReinitialize();
        ASSERT_TRUE(createMainWindow(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), &window));
        ShowWindow(window, SW_SHOW);
        drain();
    }
    void TearDown() override {
        crtUseRealClock();
        simParameters = SimulationParameters();
        resizeAndReinitialize();
        backend.uninstall();
    }

    void drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    // Chooses "parameter" in the menu; returns once the dialog has closed.
    void openDialog() { SendMessageA(window, WM_COMMAND, IDM_PARAMETER, 0); }

    fake::Toolkit backend;
    HWND window = nullptr;
};

const std::map<int, std::string> DEFAULT_TEXTS = {
    {IDC_PARTICLE_COUNT, "500"}, {IDC_GRAVITY, "20.000000"},    {IDC_DENSITY, "5.000000"},
    {IDC_MEAN_RADIUS, "2.000000"}, {IDC_MEAN_SPEED, "0.000000"}, {IDC_SPEED_SPREAD, "50.000000"},
    {IDC_DRAW_SCALE, "1.000000"},  {IDC_MERGE, "1"},
};

TEST_F(ParameterDialog, OpensWithTheCurrentValuesInTheirBoxes) {
    backend.press(IDCANCEL);
    openDialog();
    EXPECT_EQ(backend.opened, 1);
    EXPECT_EQ(backend.shownTexts, DEFAULT_TEXTS);
}

TEST_F(ParameterDialog, CancelChangesNothingButRepaints) {
    const Particle* buffer = simState.current.records;
    uint64_t population = hashPopulation();
    backend.type(IDC_PARTICLE_COUNT, "7");
    backend.type(IDC_MERGE, "0");
    backend.press(IDCANCEL);
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 500);
    EXPECT_EQ(simParameters.mergeEnabled, 1);
    EXPECT_EQ(simState.current.records, buffer);
    EXPECT_EQ(hashPopulation(), population);
    int presents = backend.presents;
    drain();
    EXPECT_GT(backend.presents, presents);
}

TEST_F(ParameterDialog, CloseButtonAndEscapeCancelToo) {
    backend.type(IDC_PARTICLE_COUNT, "7");
    backend.actions.push_back([this] { PostMessageA(backend.dialog, WM_CLOSE, 0, 0); });
    openDialog();
    backend.type(IDC_PARTICLE_COUNT, "8");
    backend.actions.push_back(
        [this] { port::dialogKeyPressed(backend.dialog, port::DialogKey::Escape, backend.control(IDC_PARTICLE_COUNT)); });
    openDialog();
    EXPECT_EQ(backend.opened, 2);
    EXPECT_EQ(simParameters.particleCount, 500);
    EXPECT_EQ(simState.lastIndex, 499);
}

TEST_F(ParameterDialog, OkReadsEveryBoxAndAppliesTheFormRules) {
    backend.type(IDC_PARTICLE_COUNT, "-300");
    backend.type(IDC_GRAVITY, "-1.5");
    backend.type(IDC_DENSITY, "-2");
    backend.type(IDC_MEAN_RADIUS, "3");
    backend.type(IDC_MEAN_SPEED, "4.25");
    backend.type(IDC_SPEED_SPREAD, "-6");
    backend.type(IDC_DRAW_SCALE, "2");
    backend.type(IDC_MERGE, "2");
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 300);
    EXPECT_EQ(simParameters.gravity, -1.5);
    EXPECT_EQ(simParameters.density, 2.0);
    EXPECT_EQ(simParameters.meanRadius, 3.0);
    EXPECT_EQ(simParameters.meanSpeed, 4.25);
    EXPECT_EQ(simParameters.speedSpread, 6.0);
    EXPECT_EQ(simParameters.drawScale, 2.0);
    EXPECT_EQ(simParameters.mergeEnabled, 0);
    EXPECT_EQ(simState.current.count, 300);
    EXPECT_EQ(simState.lastIndex, 299);
}

TEST_F(ParameterDialog, EnterInABoxIsOk) {
    backend.type(IDC_PARTICLE_COUNT, "12abc");
    backend.actions.push_back(
        [this] { port::dialogKeyPressed(backend.dialog, port::DialogKey::Return, backend.control(IDC_PARTICLE_COUNT)); });
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 12);
}

TEST_F(ParameterDialog, CappedRadiusShowsWhenReopened) {
    backend.type(IDC_MEAN_RADIUS, "10");
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simParameters.meanRadius, std::sqrt(45.0));
    backend.press(IDCANCEL);
    openDialog();
    EXPECT_EQ(backend.shownTexts[IDC_MEAN_RADIUS], "6.708204");
    EXPECT_EQ(backend.shownTexts[IDC_PARTICLE_COUNT], "500");
}

TEST_F(ParameterDialog, OkWithoutEditsDrawsANewPopulation) {
    uint64_t population = hashPopulation();
    crtFixClock(2000);
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 500);
    EXPECT_EQ(simParameters.meanRadius, 2.0);
    EXPECT_NE(hashPopulation(), population);
    EXPECT_EQ(simState.lastIndex, 499);
}

TEST_F(ParameterDialog, TextsBeyondSixtyThreeBytesAreCut) {
    // Leading spaces are skipped by the reading; the cut leaves "3" of "34".
    backend.type(IDC_PARTICLE_COUNT, std::string(62, ' ') + "34");
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 3);
}

TEST_F(ParameterDialog, ValuesTooLargeForTheirBoxesStillOpen) {
    // Count 0 makes a negative radius infinite; a huge gravity has a long six-decimal form.
    backend.type(IDC_PARTICLE_COUNT, "0");
    backend.type(IDC_MEAN_RADIUS, "-1");
    backend.type(IDC_GRAVITY, "1e300");
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simState.lastIndex, -1);
    backend.press(IDCANCEL);
    openDialog();
    EXPECT_EQ(backend.opened, 2);
    EXPECT_EQ(backend.shownTexts[IDC_PARTICLE_COUNT], "0");
    for (const auto& [id, text] : backend.shownTexts) {
        EXPECT_FALSE(text.empty()) << id;
        EXPECT_LT(text.size(), static_cast<std::size_t>(FORM_TEXT_SIZE)) << id;
    }
    // What the boxes show reads back as the same values.
    backend.press(IDOK);
    openDialog();
    EXPECT_EQ(simParameters.particleCount, 0);
    EXPECT_TRUE(std::isinf(simParameters.meanRadius));
}

TEST_F(ParameterDialog, SimulationKeepsRunningBehindTheOpenDialog) {
    SetTimer(window, SIM_TIMER_ID, FIRST_TIMER_PERIOD, nullptr);
    uint64_t population = hashPopulation();
    int presents = backend.presents;
    uint64_t hashWhileOpen = 0;
    for (int i = 0; i < 100; ++i) backend.actions.push_back([] {});
    backend.actions.push_back([&] {
        hashWhileOpen = hashPopulation();
        EXPECT_FALSE(IsWindowEnabled(window));
    });
    backend.press(IDCANCEL);
    openDialog();
    EXPECT_NE(hashWhileOpen, population);
    EXPECT_GT(backend.presents - presents, 10);
    EXPECT_TRUE(IsWindowEnabled(window));
}

// Chosen during one step, so the layer gets them in one batch: the first opens the dialog and
// disables the window before the others are looked at, as on Windows.
TEST_F(ParameterDialog, CommandsChosenAfterParameterDuringOneStepDoNotReachTheWindow) {
    SetTimer(window, SIM_TIMER_ID, FIRST_TIMER_PERIOD, nullptr);
    backend.pending.push_back([this] { port::menuChosen(window, IDM_PARAMETER); });
    backend.pending.push_back([this] { port::menuChosen(window, IDM_PARAMETER); });
    backend.pending.push_back([this] { port::menuChosen(window, IDM_STOP); });
    uint64_t population = hashPopulation();
    uint64_t hashWhileOpen = 0;
    for (int i = 0; i < 100; ++i) backend.actions.push_back([] {});
    backend.actions.push_back([&] { hashWhileOpen = hashPopulation(); });
    backend.press(IDCANCEL);
    drain();
    EXPECT_EQ(backend.opened, 1);
    EXPECT_EQ(backend.mostOpenAtOnce, 1);
    // STOP did not run: the animation went on behind the dialog, and goes on after it.
    EXPECT_NE(hashWhileOpen, population);
    uint64_t afterDialog = hashPopulation();
    fake::now += FIRST_TIMER_PERIOD;
    drain();
    EXPECT_NE(hashPopulation(), afterDialog);
}

TEST_F(ParameterDialog, ACloseRequestedAfterParameterDuringOneStepIsRefused) {
    backend.pending.push_back([this] { port::menuChosen(window, IDM_PARAMETER); });
    backend.pending.push_back([this] { port::closeRequested(window); });
    bool openWithItsWindow = false;
    backend.actions.push_back([&] { openWithItsWindow = IsWindow(window) && backend.dialog != nullptr; });
    backend.press(IDCANCEL);
    drain();
    EXPECT_TRUE(openWithItsWindow);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(backend.opened, 1);
}

TEST_F(ParameterDialog, OtherCommandsAndMessagesAreLeftAlone) {
    // The procedure answers FALSE to all but WM_INITDIALOG and changes nothing for them.
    EXPECT_EQ(parameterDialogProc(nullptr, WM_COMMAND, IDC_PARTICLE_COUNT, 0), FALSE);
    EXPECT_EQ(parameterDialogProc(nullptr, WM_TIMER, 0, 0), FALSE);
    EXPECT_EQ(parameterDialogProc(nullptr, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(simParameters.particleCount, 500);
    EXPECT_EQ(simState.lastIndex, 499);
}

}  // namespace
