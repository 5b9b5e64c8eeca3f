#include "dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_toolkit.h"
#include "user32.h"

namespace {

constexpr int IDD_PARAMETER = 101;
constexpr uint32_t CHILD_VISIBLE = WS_CHILD | WS_VISIBLE;

fake::Toolkit* backend = nullptr;

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;
HWND ownerWindow = nullptr;
bool ownerEnabledAtInit = true;
INT_PTR initAnswer = TRUE;
std::function<void(HWND)> onInit;

INT_PTR CALLBACK recordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({message, wParam, lParam});
    if (message == WM_INITDIALOG) {
        ownerEnabledAtInit = IsWindowEnabled(ownerWindow) != FALSE;
        if (onInit) onInit(dialog);
        return initAnswer;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, 100 + LOWORD(wParam));
    }
    return FALSE;
}

int ownerPaints = 0;
int ownerTimers = 0;
std::vector<UINT> ownerInput;
// The owner's menu command that opens the dialog, as the program's "parameter" does.
constexpr WORD OPEN_DIALOG = 40003;
std::function<void()> openDialog;
LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_CLOSE) ownerInput.push_back(message);
    if (message == WM_COMMAND && LOWORD(wParam) == OPEN_DIALOG && openDialog) openDialog();
    if (message == WM_TIMER) {
        ++ownerTimers;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    if (message == WM_PAINT) ++ownerPaints;
    return DefWindowProcA(window, message, wParam, lParam);
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        fake.install();
        backend = &fake;
        seen.clear();
        ownerPaints = ownerTimers = 0;
        ownerInput.clear();
        ownerEnabledAtInit = true;
        initAnswer = TRUE;
        onInit = nullptr;
        openDialog = [this] { run(); };
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ownerProc;
        wc.lpszClassName = "Owner";
        ASSERT_NE(RegisterClassExA(&wc), 0);
        ownerWindow = CreateWindowExA(0, "Owner", "Owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                      instance, nullptr);
        ShowWindow(ownerWindow, SW_SHOW);
    }
    void TearDown() override {
        fake.uninstall();
        backend = nullptr;
        openDialog = nullptr;
    }

    // The program's loop, until nothing is left to do.
    void drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    INT_PTR run(LPARAM param = 0) {
        return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PARAMETER), ownerWindow, recordingDialogProc, param);
    }
    // The commands the dialog procedure received, as low words.
    std::vector<int> commands() const {
        std::vector<int> ids;
        for (const Seen& s : seen) {
            if (s.message == WM_COMMAND) ids.push_back(LOWORD(s.wParam));
        }
        return ids;
    }
    Seen lastCommand() const {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->message == WM_COMMAND) return *it;
        }
        return {};
    }

    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    fake::Toolkit fake;
};

TEST(DialogUnits, ConvertWithTheFontsBaseUnitsRoundingAsWindows) {
    // 6 x 13 pixels: "MS Shell Dlg" 8 at 96 DPI.
    RECT ok = port::dialogUnitsToPixels(195, 7, 50, 14, {6, 13});
    EXPECT_EQ(ok.left, 293);  // 292.5 rounds up
    EXPECT_EQ(ok.top, 11);    // 11.375
    EXPECT_EQ(ok.right - ok.left, 75);
    EXPECT_EQ(ok.bottom - ok.top, 23);  // 22.75
    RECT dialog = port::dialogUnitsToPixels(0, 0, 252, 145, {7, 13});
    EXPECT_EQ(dialog.right, 441);
    EXPECT_EQ(dialog.bottom, 236);  // 235.625
    RECT negative = port::dialogUnitsToPixels(-3, -4, 2, 4, {6, 13});
    EXPECT_EQ(negative.left, -5);  // -4.5 rounds away from zero
    EXPECT_EQ(negative.top, -7);   // -6.5
    EXPECT_EQ(negative.right, -2);
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(DialogPlace, ANewDialogIsMovedAsLittleAsKeepsItInTheWorkArea) {
    // A work area below a 30-pixel panel on a 1280 x 1024 monitor.
    RECT work{0, 30, 1280, 1024};
    // Inside already: it stays, also touching the edges.
    EXPECT_TRUE(sameRect(port::keptInWorkArea({100, 200, 500, 450}, work), RECT{100, 200, 500, 450}));
    EXPECT_TRUE(sameRect(port::keptInWorkArea({0, 30, 1280, 1024}, work), RECT{0, 30, 1280, 1024}));
    // The owner moved to -1000, -650: the dialog comes to the top-left corner, its size kept.
    EXPECT_TRUE(sameRect(port::keptInWorkArea({-995, -620, -595, -370}, work), RECT{0, 30, 400, 280}));
    // Past the right and bottom edges: back by as much as sticks out, no more.
    EXPECT_TRUE(sameRect(port::keptInWorkArea({1100, 900, 1500, 1150}, work), RECT{880, 774, 1280, 1024}));
    // Off on one side only: the other coordinate stays.
    EXPECT_TRUE(sameRect(port::keptInWorkArea({-50, 500, 350, 750}, work), RECT{0, 500, 400, 750}));
    // Larger than the work area: its top-left corner shows, whichever side it came from.
    EXPECT_TRUE(sameRect(port::keptInWorkArea({-5000, 2000, -3000, 3500}, work), RECT{0, 30, 2000, 1530}));
    EXPECT_TRUE(sameRect(port::keptInWorkArea({300, -400, 2300, 1100}, work), RECT{0, 30, 2000, 1530}));
    // A monitor right of the first: its work area counts, not the origin.
    RECT second{1280, 0, 3200, 1080};
    EXPECT_TRUE(sameRect(port::keptInWorkArea({100, 100, 500, 350}, second), RECT{1280, 100, 1680, 350}));
}

// The converted tables against the template as the program's dialog needs it.
TEST(DialogTemplate, ParameterDialogHasItsEighteenControlsExactly) {
    const port::DialogResource* d = port::findDialog(MAKEINTRESOURCEA(IDD_PARAMETER));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT));
    EXPECT_EQ(d->exStyle, 0u);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_EQ(d->width, 252);
    EXPECT_EQ(d->height, 145);
    EXPECT_STREQ(d->caption, "Dialog");
    EXPECT_STREQ(d->fontName, "MS Shell Dlg");
    EXPECT_EQ(d->pointSize, 8);
    EXPECT_EQ(d->weight, 400);
    EXPECT_FALSE(d->italic);
    EXPECT_EQ(d->charset, 1);

    constexpr uint32_t BUTTON = CHILD_VISIBLE | WS_TABSTOP;
    constexpr uint32_t EDIT = CHILD_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    constexpr uint32_t LABEL = CHILD_VISIBLE | WS_GROUP | SS_LEFT;
    struct Expected {
        const char* className;
        int id;
        const char* text;
        int x, y, w, h;
        uint32_t style;
    };
    const Expected expected[] = {
        {"BUTTON", 1, "ＯＫ", 195, 7, 50, 14, BUTTON | BS_DEFPUSHBUTTON},
        {"BUTTON", 2, "ＣＡＮＣＥＬ", 195, 24, 50, 14, BUTTON | BS_PUSHBUTTON},
        {"EDIT", 1002, "", 49, 15, 40, 14, EDIT},
        {"EDIT", 1003, "", 49, 46, 40, 14, EDIT},
        {"EDIT", 1004, "", 48, 76, 40, 14, EDIT},
        {"EDIT", 1005, "", 49, 106, 40, 14, EDIT},
        {"EDIT", 1006, "", 131, 15, 40, 14, EDIT},
        {"EDIT", 1007, "", 129, 44, 40, 14, EDIT},
        {"STATIC", -1, "粒子数", 15, 19, 25, 8, LABEL},
        {"STATIC", -1, "重力定数", 14, 50, 33, 8, LABEL},
        {"STATIC", -1, "質量密度", 14, 79, 33, 8, LABEL},
        {"STATIC", -1, "平均粒子半径", 14, 105, 34, 16, LABEL},
        {"STATIC", -1, "平均粒子速度", 93, 14, 36, 16, LABEL},
        {"STATIC", -1, "粒子速度分散", 94, 45, 35, 18, LABEL},
        {"EDIT", 1010, "", 131, 76, 40, 14, EDIT},
        {"STATIC", -1, "biglight ×", 99, 79, 33, 14, LABEL},
        {"EDIT", 1011, "", 132, 106, 40, 14, EDIT},
        {"STATIC", -1, "結合の有無", 99, 105, 28, 15, LABEL},
    };
    ASSERT_EQ(d->controlCount, 18);
    for (int i = 0; i < 18; ++i) {
        const port::DialogControl& c = d->controls[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_STREQ(c.className, e.className);
        EXPECT_EQ(c.id, e.id);
        EXPECT_STREQ(c.text != nullptr ? c.text : "", e.text);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.width, e.w);
        EXPECT_EQ(c.height, e.h);
        EXPECT_EQ(c.style, e.style);
        EXPECT_EQ(c.exStyle, 0u);
    }
}

TEST_F(Dialog, OpensWithInitDialogAndEndsWithTheResultOfEndDialog) {
    fake.actions.push_back([] { PostMessageA(backend->dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); });
    EXPECT_EQ(run(0x1234), 101);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(seen[0].lParam, 0x1234);
    // WM_INITDIALOG names the control that gets the focus: the first tab stop, OK.
    EXPECT_EQ(reinterpret_cast<HWND>(seen[0].wParam), fake.control(IDOK));
    EXPECT_EQ(fake.focus, fake.control(IDOK));
    EXPECT_EQ(commands(), std::vector<int>{IDOK});
    // The template's frame: a caption with close only, fixed, modal above its owner.
    EXPECT_EQ(fake.layout.frame,
              port::frameOf(fake.layout.resource->style, true, port::WindowRole::ModalDialog));
    EXPECT_TRUE(fake.layout.frame.closeButton);
    EXPECT_FALSE(fake.layout.frame.minimizeButton);
    EXPECT_TRUE(fake.layout.frame.modal);
    // Laid out in pixels from the default 6 x 13 base units, controls in template order.
    EXPECT_EQ(fake.layout.owner, ownerWindow);
    EXPECT_EQ(fake.layout.rect.right, 378);
    EXPECT_EQ(fake.layout.rect.bottom, 236);
    ASSERT_EQ(fake.layout.controls.size(), 18u);
    EXPECT_EQ(fake.layout.controls[2].control->id, 1002);
    EXPECT_EQ(fake.layout.controls[2].rect.left, 74);  // 49 * 6 / 4 = 73.5
    EXPECT_EQ(fake.layout.controls[2].rect.top, 24);   // 15 * 13 / 8 = 24.375
    // Gone afterwards, windows and native dialog alike.
    EXPECT_EQ(fake.destroyed, std::vector<HWND>{fake.layout.dialog});
    EXPECT_FALSE(IsWindow(fake.layout.dialog));
    EXPECT_FALSE(IsWindow(fake.layout.controls[0].handle));
}

TEST_F(Dialog, OwnerIsDisabledWhileTheDialogRunsAndEnabledAfter) {
    fake.actions.push_back([] {
        EXPECT_FALSE(IsWindowEnabled(ownerWindow));
        EndDialog(backend->dialog, 7);
    });
    EXPECT_EQ(run(), 7);
    EXPECT_FALSE(ownerEnabledAtInit);
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
}

TEST_F(Dialog, TheOwnersMenuAndCloseButtonDoNothingWhileTheDialogRuns) {
    fake.actions.push_back([] {
        port::closeRequested(ownerWindow);
        port::menuChosen(ownerWindow, 40004);
    });
    fake.actions.push_back([] { PostMessageA(backend->dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(run(), 102);
    EXPECT_TRUE(ownerInput.empty());
    EXPECT_TRUE(IsWindow(ownerWindow));
    // Afterwards the owner answers again.
    port::closeRequested(ownerWindow);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    EXPECT_EQ(ownerInput, std::vector<UINT>{WM_CLOSE});
    EXPECT_FALSE(IsWindow(ownerWindow));
}

// What the person did while the program was busy reaches the layer in one batch of events;
// each input is acted on before the next event is looked at, as on Windows.
TEST_F(Dialog, TwoCommandsInOneBatchOpenOneDialog) {
    fake.pending.push_back([] { port::menuChosen(ownerWindow, OPEN_DIALOG); });
    fake.pending.push_back([] { port::menuChosen(ownerWindow, OPEN_DIALOG); });
    fake.actions.push_back([] { port::dialogKeyPressed(backend->dialog, port::DialogKey::Escape, nullptr); });
    drain();
    EXPECT_EQ(fake.dialogsCreated, 1);
    EXPECT_EQ(fake.mostOpenAtOnce, 1);
    EXPECT_EQ(ownerInput, std::vector<UINT>{WM_COMMAND});
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});
    EXPECT_TRUE(fake.pending.empty());
}

TEST_F(Dialog, ACloseInTheSameBatchAsTheDialogsCommandIsRefused) {
    fake.pending.push_back([] { port::menuChosen(ownerWindow, OPEN_DIALOG); });
    fake.pending.push_back([] { port::closeRequested(ownerWindow); });
    fake.actions.push_back([] {
        EXPECT_TRUE(IsWindow(ownerWindow));
        port::buttonClicked(backend->control(IDCANCEL));
    });
    drain();
    EXPECT_EQ(fake.opened, 1);
    EXPECT_EQ(ownerInput, std::vector<UINT>{WM_COMMAND});
    EXPECT_TRUE(IsWindow(ownerWindow));
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
}

TEST_F(Dialog, ACloseWhileAPopupIsOpenClosesThePopupAndTheDialog) {
    fake.actions.push_back([] {
        // A box's context menu is open; the owner's close is refused and leaves it open.
        backend->popupOver = backend->dialog;
        port::closeRequested(ownerWindow);
    });
    fake.actions.push_back([] {
        EXPECT_EQ(backend->popupOver, backend->dialog);
        port::closeRequested(backend->dialog);
    });
    EXPECT_EQ(run(), 102);
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"closePopups", "destroyDialog"}));
    EXPECT_EQ(fake.popupOver, nullptr);
    EXPECT_TRUE(IsWindow(ownerWindow));
}

TEST_F(Dialog, ADisabledDialogTakesNeitherClicksNorKeys) {
    fake.actions.push_back([] {
        HWND dialog = backend->dialog;
        EnableWindow(dialog, FALSE);
        port::buttonClicked(backend->control(IDOK));
        port::dialogKeyPressed(dialog, port::DialogKey::Return, nullptr);
        port::dialogKeyPressed(dialog, port::DialogKey::Escape, nullptr);
        port::closeRequested(dialog);
    });
    fake.actions.push_back([] {
        EnableWindow(backend->dialog, TRUE);
        port::closeRequested(backend->dialog);
    });
    EXPECT_EQ(run(), 102);
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});
}

TEST_F(Dialog, AnOwnerDisabledBeforeStaysDisabled) {
    EnableWindow(ownerWindow, FALSE);
    onInit = [](HWND dialog) { EndDialog(dialog, 3); };
    EXPECT_EQ(run(), 3);
    EXPECT_FALSE(IsWindowEnabled(ownerWindow));
}

TEST_F(Dialog, EndDialogDuringInitDialogNeverShowsIt) {
    onInit = [](HWND dialog) { EndDialog(dialog, 9); };
    EXPECT_EQ(run(), 9);
    EXPECT_EQ(fake.opened, 0);
    EXPECT_EQ(fake.destroyed.size(), 1u);
}

TEST_F(Dialog, InitDialogAnsweringFalseLeavesTheFocusAlone) {
    initAnswer = FALSE;
    fake.actions.push_back([] { EndDialog(backend->dialog, 1); });
    run();
    EXPECT_EQ(fake.focus, nullptr);
}

TEST_F(Dialog, OwnerKeepsTickingAndPaintingBehindTheDialog) {
    SetTimer(ownerWindow, 5, 20, nullptr);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    ownerPaints = 0;
    // Some time passes with the dialog open, then Cancel is pressed.
    for (int i = 0; i < 200; ++i) fake.actions.push_back([] {});
    fake.actions.push_back([] { PostMessageA(backend->dialog, WM_COMMAND, IDCANCEL, 0); });
    uint64_t start = fake::now;
    EXPECT_EQ(run(), 102);
    // A tick every 20 ms of it, each followed by a paint.
    EXPECT_GT(ownerTimers, 20);
    EXPECT_GE(ownerTimers, static_cast<int>((fake::now - start) / 20) - 1);
    EXPECT_EQ(ownerPaints, ownerTimers);
}

TEST_F(Dialog, QuitInsideTheDialogEndsItAndIsPostedAgainForTheOuterLoop) {
    fake.actions.push_back([] { PostQuitMessage(42); });
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(IsWindow(fake.layout.dialog));
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 42u);
}

TEST_F(Dialog, CloseButtonEscapeAndEnterBecomeCommands) {
    // The close button.
    fake.actions.push_back([] { PostMessageA(backend->dialog, WM_CLOSE, 0, 0); });
    EXPECT_EQ(run(), 102);
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});

    seen.clear();
    fake.actions.push_back([] { port::dialogKeyPressed(backend->dialog, port::DialogKey::Escape, nullptr); });
    EXPECT_EQ(run(), 102);
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});
    // lParam names the button the command stands for.
    EXPECT_EQ(reinterpret_cast<HWND>(lastCommand().lParam), fake.control(IDCANCEL));

    // Enter in an edit presses the default button, the one the backend is told to show as such.
    seen.clear();
    fake.actions.push_back(
        [] { port::dialogKeyPressed(backend->dialog, port::DialogKey::Return, backend->control(1003)); });
    EXPECT_EQ(run(), 101);
    EXPECT_EQ(commands(), std::vector<int>{IDOK});
    EXPECT_EQ(reinterpret_cast<HWND>(lastCommand().lParam), fake.layout.defaultButton);
    EXPECT_EQ(fake.layout.defaultButton, fake.control(IDOK));

    // Enter on a focused push button presses that one.
    seen.clear();
    fake.actions.push_back(
        [] { port::dialogKeyPressed(backend->dialog, port::DialogKey::Return, backend->control(IDCANCEL)); });
    EXPECT_EQ(run(), 102);
    EXPECT_EQ(commands(), std::vector<int>{IDCANCEL});
}

TEST_F(Dialog, ClickingAButtonSendsItsIdAndClickingAnythingElseNothing) {
    fake.actions.push_back([] { port::buttonClicked(backend->control(1002)); });
    fake.actions.push_back([] { port::buttonClicked(nullptr); });
    fake.actions.push_back([] { port::buttonClicked(backend->control(IDOK)); });
    EXPECT_EQ(run(), 101);
    EXPECT_EQ(commands(), std::vector<int>{IDOK});
    EXPECT_EQ(reinterpret_cast<HWND>(lastCommand().lParam), fake.control(IDOK));
    EXPECT_EQ(HIWORD(lastCommand().wParam), BN_CLICKED);
}

TEST_F(Dialog, TabMovesThroughTheTabStopsInTemplateOrder) {
    std::vector<int> forward;
    std::vector<int> backward;
    fake.actions.push_back([&] {
        HWND dialog = backend->dialog;
        HWND at = port::nextTabStop(dialog, nullptr, false);
        for (int i = 0; i < 11; ++i, at = port::nextTabStop(dialog, at, false)) {
            forward.push_back(GetDlgItem(dialog, IDOK) == at ? 1 : 0);
            for (const auto& c : backend->layout.controls) {
                if (c.handle == at) forward.back() = c.control->id;
            }
        }
        at = port::nextTabStop(dialog, GetDlgItem(dialog, IDOK), true);
        for (const auto& c : backend->layout.controls) {
            if (c.handle == at) backward.push_back(c.control->id);
        }
        EndDialog(dialog, 0);
    });
    run();
    // Labels are no tab stops; after the last edit comes OK again.
    EXPECT_EQ(forward, (std::vector<int>{1, 2, 1002, 1003, 1004, 1005, 1006, 1007, 1010, 1011, 1}));
    EXPECT_EQ(backward, std::vector<int>{1011});
}

TEST_F(Dialog, TextsGoToTheBackendAndComeBackFromThePerson) {
    std::string read;
    std::string afterTyping;
    fake.actions.push_back([&] {
        HWND dialog = backend->dialog;
        EXPECT_TRUE(SetDlgItemTextA(dialog, 1002, "500"));
        EXPECT_FALSE(SetDlgItemTextA(dialog, 999, "x"));
        EXPECT_EQ(backend->boxes[1002], "500");
        char text[64];
        GetDlgItemTextA(dialog, 1002, text, sizeof text);
        read = text;
        port::controlTextChanged(backend->control(1002), "0");
        GetDlgItemTextA(dialog, 1002, text, sizeof text);
        afterTyping = text;
        EndDialog(dialog, 0);
    });
    run();
    EXPECT_EQ(read, "500");
    EXPECT_EQ(afterTyping, "0");
}

TEST_F(Dialog, GetDlgItemTextCutsToTheBufferWithoutSplittingACharacter) {
    fake.actions.push_back([] {
        HWND dialog = backend->dialog;
        char text[16];
        SetDlgItemTextA(dialog, 1002, "500000");
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, text, 4), 3u);
        EXPECT_STREQ(text, "500");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, text, 1), 0u);
        EXPECT_STREQ(text, "");
        // Nothing is written into a buffer of no bytes.
        text[0] = 'x';
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, text, 0), 0u);
        EXPECT_EQ(text[0], 'x');
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, nullptr, 16), 0u);
        EXPECT_EQ(GetDlgItemTextA(dialog, 1002, text, 16), 6u);
        EXPECT_STREQ(text, "500000");

        // Three characters of three bytes each.
        SetDlgItemTextA(dialog, 1003, "粒子数");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 6), 3u);
        EXPECT_STREQ(text, "粒");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 7), 6u);
        EXPECT_STREQ(text, "粒子");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 3), 0u);
        EXPECT_STREQ(text, "");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 10), 9u);
        EXPECT_STREQ(text, "粒子数");
        // A "×" (two bytes) after one ASCII byte.
        SetDlgItemTextA(dialog, 1004, "7×");
        EXPECT_EQ(GetDlgItemTextA(dialog, 1004, text, 3), 1u);
        EXPECT_STREQ(text, "7");

        // An unknown control reads as empty.
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(GetDlgItemTextA(dialog, 999, text, 16), 0u);
        EXPECT_STREQ(text, "");
        EndDialog(dialog, 0);
    });
    run();
}

TEST_F(Dialog, UnknownTemplateOrNoProcedureFails) {
    EXPECT_EQ(DialogBoxParamA(instance, MAKEINTRESOURCEA(555), ownerWindow, recordingDialogProc, 0), -1);
    EXPECT_EQ(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PARAMETER), ownerWindow, nullptr, 0), -1);
    EXPECT_EQ(fake.dialogsCreated, 0);
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
}

}  // namespace
