// The window system that the layer's tests and the front end's tests run on: no display, a
// clock that moves only while the layer waits, toolkit events and a person's actions that a test
// queues, and a record of what the layer asked for.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "user32.h"

namespace fake {

// Milliseconds on the clock the layer's timers run on while a Toolkit is installed.
extern uint64_t now;

class Toolkit : public port::Backend {
public:
    // Over a fresh layer (no window, class, timer or message), this window system and the fake
    // clock, set to startMs.
    void install(uint64_t startMs = 1000);
    // The layer's own backend and clock again, and a fresh layer.
    void uninstall();

    void fitClientSize(int& width, int& height) override;
    void screenSize(HWND window, int& width, int& height) override;
    void createWindow(HWND window, const char* title, const port::MenuResource* menu, int clientWidth,
                      int clientHeight) override;
    void frameWindow(HWND window, HWND owner, const port::WindowFrame& frame) override;
    void closePopups(HWND window) override;
    void enableWindow(HWND window, bool enabled) override;
    void present(HWND window) override;
    bool dispatchEvent() override;
    void wait(int timeoutMs) override;
    void createDialog(const port::DialogLayout& layout) override;
    void showDialog(HWND dialog, HWND focus) override;
    void destroyDialog(HWND dialog) override;
    void setControlText(HWND control, const char* text) override;
    void messageBox(HWND owner, const char* text, const char* caption, bool error) override;

    // The toolkit's pending events, all handed over as fast as the layer takes them.
    std::deque<std::function<void()>> pending;
    int delivered = 0;
    // What the person does at the dialog on screen: one action a poll, the person being slower
    // than the program. Left with a dialog and nothing more to do, the person ends it after a
    // while with GAVE_UP, so that a test that expected otherwise fails rather than hangs.
    std::deque<std::function<void()>> actions;
    static constexpr INT_PTR GAVE_UP = -2;
    static constexpr int PATIENCE_POLLS = 100000;
    // Called at every poll of the toolkit with the number of polls so far.
    std::function<void(int)> onPoll;
    int polls = 0;

    // Queues the person's typing into a box of the dialog, or a click on one of its buttons.
    void type(int id, const std::string& text);
    void press(int id);
    // A control of the last dialog built, by id, and back.
    HWND control(int id) const;
    int idOf(HWND control) const;

    // The screen: client sizes are shrunk to it.
    int screenWidth = 10000;
    int screenHeight = 10000;
    // A window on a monitor of another size than the screen's: width and height.
    std::map<HWND, std::pair<int, int>> monitors;

    HWND created = nullptr;  // the last window made
    std::string createdTitle;
    const port::MenuResource* menu = nullptr;
    struct Framed {
        HWND window;
        HWND owner;
        port::WindowFrame frame;
    };
    std::vector<Framed> frames;
    std::vector<std::pair<HWND, bool>> enables;
    int presents = 0;
    std::vector<int> waits;

    port::DialogLayout layout{};  // the last dialog built
    int dialogsCreated = 0;
    HWND dialog = nullptr;  // the dialog on screen (the latest, if several are)
    HWND focus = nullptr;   // where its focus went when shown
    int opened = 0;
    int mostOpenAtOnce = 0;
    std::vector<HWND> destroyed;
    // What the last dialog's controls show, by id, now and as they were when it was shown.
    std::map<int, std::string> boxes;
    std::map<int, std::string> shownTexts;

    struct MessageBox {
        HWND owner;
        std::string text;
        std::string caption;
        bool error;
    };
    std::vector<MessageBox> messageBoxes;

    // A menu or context menu open over this window (nullptr: none); closePopups closes it.
    HWND popupOver = nullptr;
    // What the layer asked, in order: "closePopups", "destroyDialog".
    std::vector<std::string> calls;

private:
    std::vector<HWND> openDialogs;
    int idlePolls = 0;
};

}  // namespace fake
