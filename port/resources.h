// The resource tables the build makes from res/*.rc, and the look-ups over them.
#pragma once

#include <cstdint>

namespace port {

enum class MenuEntryKind : uint8_t { Item, Separator, PopupBegin, PopupEnd };

// A menu as a flat list: PopupBegin ... PopupEnd bracket the entries of a pop-up.
struct MenuEntry {
    MenuEntryKind kind;
    const char* text;  // UTF-8
    int id;
};

struct MenuResource {
    int id;
    const MenuEntry* entries;
    int entryCount;
};

// Position and size in dialog units; style already holds the statement's default bits.
struct DialogControl {
    const char* className;  // "BUTTON", "EDIT", "STATIC" or the class a CONTROL names
    const char* text;
    int id;
    int x, y, width, height;
    uint32_t style;
    uint32_t exStyle;
};

struct DialogResource {
    int id;
    uint32_t style;
    uint32_t exStyle;
    int x, y, width, height;
    const char* caption;
    const char* fontName;
    int pointSize;
    int weight;
    bool italic;
    int charset;
    const DialogControl* controls;
    int controlCount;
};

struct ResourceTables {
    const MenuResource* menus;
    int menuCount;
    const DialogResource* dialogs;
    int dialogCount;
};

// Made at build time from the resource script.
extern const ResourceTables resourceTables;

// By MAKEINTRESOURCE number; nullptr when the script has none (named resources are not used).
const MenuResource* findMenu(const char* name);
const DialogResource* findDialog(const char* name);

}  // namespace port
