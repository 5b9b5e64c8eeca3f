// Reads the subset of resource scripts the program uses: #define (also from an included
// header), MENU with POPUP/MENUITEM, DIALOGEX with its controls, UTF-8 under code page 65001.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace rc {

struct MenuEntry {
    enum Kind { Item, Separator, PopupBegin, PopupEnd } kind;
    std::string text;
    int id = 0;
};

struct Menu {
    int id = 0;
    std::vector<MenuEntry> entries;
};

struct Control {
    std::string className;
    std::string text;
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

struct Dialog {
    int id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string caption;
    std::string fontName;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    int charset = 0;
    std::vector<Control> controls;
};

struct Script {
    std::vector<Menu> menus;
    std::vector<Dialog> dialogs;
};

// What went wrong, with the line it was found on.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns the text of a quoted #include, or throws Error when it cannot be read.
using IncludeReader = std::function<std::string(const std::string& name)>;

Script parseScript(const std::string& text, const IncludeReader& readInclude);

// The script as C++ source defining port::resourceTables.
std::string emitTables(const Script& script);

}  // namespace rc
