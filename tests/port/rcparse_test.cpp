#include "rcparse.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

constexpr uint32_t WS_CHILD_VISIBLE = 0x50000000;

std::string readSource(const std::string& path) {
    std::ifstream in(std::string(ORRELUNE_SOURCE_DIR) + "/" + path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

rc::Script parse(const std::string& text, const std::string& header = "") {
    return rc::parseScript(text, [&](const std::string& name) {
        if (name != "ids.h" && name != "resource.h") throw rc::Error("no " + name);
        return header;
    });
}

TEST(ResourceScript, ProgramMenuHasItsFourCommandsInOrder) {
    rc::Script script = parse(readSource("res/orrelune.rc"), readSource("res/resource.h"));
    ASSERT_EQ(script.menus.size(), 1u);
    const rc::Menu& menu = script.menus[0];
    EXPECT_EQ(menu.id, 103);
    ASSERT_EQ(menu.entries.size(), 6u);
    EXPECT_EQ(menu.entries[0].kind, rc::MenuEntry::PopupBegin);
    EXPECT_EQ(menu.entries[0].text, "menu");
    const char* texts[] = {"START", "STOP", "parameter", "initialize"};
    const int ids[] = {40007, 40005, 40004, 40008};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(menu.entries[1 + i].kind, rc::MenuEntry::Item);
        EXPECT_EQ(menu.entries[1 + i].text, texts[i]);
        EXPECT_EQ(menu.entries[1 + i].id, ids[i]);
    }
    EXPECT_EQ(menu.entries[5].kind, rc::MenuEntry::PopupEnd);
}

TEST(ResourceScript, ProgramDialogTemplate) {
    rc::Script script = parse(readSource("res/orrelune.rc"), readSource("res/resource.h"));
    ASSERT_EQ(script.dialogs.size(), 1u);
    const rc::Dialog& d = script.dialogs[0];
    EXPECT_EQ(d.id, 101);
    // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT
    EXPECT_EQ(d.style, 0x80C800C8u);
    EXPECT_EQ(d.width, 252);
    EXPECT_EQ(d.height, 145);
    EXPECT_EQ(d.caption, "Dialog");
    EXPECT_EQ(d.fontName, "MS Shell Dlg");
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.weight, 400);
    EXPECT_FALSE(d.italic);
    EXPECT_EQ(d.charset, 1);
    ASSERT_EQ(d.controls.size(), 18u);
    const rc::Control& ok = d.controls[0];
    EXPECT_EQ(ok.className, "BUTTON");
    EXPECT_EQ(ok.text, "\xEF\xBC\xAF\xEF\xBC\xAB");  // full-width "OK"
    EXPECT_EQ(ok.id, 1);
    EXPECT_EQ(ok.style, WS_CHILD_VISIBLE | 0x00010000u | 1u);
    const rc::Control& count = d.controls[2];
    EXPECT_EQ(count.className, "EDIT");
    EXPECT_EQ(count.id, 1002);
    EXPECT_EQ(count.style, WS_CHILD_VISIBLE | 0x00800000u | 0x00010000u | 0x80u);
    const rc::Control& label = d.controls[8];
    EXPECT_EQ(label.className, "STATIC");
    EXPECT_EQ(label.id, -1);
    EXPECT_EQ(label.text, "\xE7\xB2\x92\xE5\xAD\x90\xE6\x95\xB0");  // particle count
    EXPECT_EQ(label.style, WS_CHILD_VISIBLE | 0x00020000u);
    const rc::Control& merge = d.controls[16];
    EXPECT_EQ(merge.id, 1011);
    EXPECT_EQ(merge.x, 132);
    EXPECT_EQ(merge.y, 106);
    EXPECT_EQ(merge.width, 40);
    EXPECT_EQ(merge.height, 14);
}

TEST(ResourceScript, NestedPopupsSeparatorsAndStrings) {
    rc::Script script = parse(
        "#include \"ids.h\"\n"
        "/* a block\n comment */\n"
        "7 MENU\n{\n  POPUP \"&File\"\n  {\n    MENUITEM \"Say \"\"hi\"\"\", ID_HI\n"
        "    MENUITEM SEPARATOR\n    POPUP \"More\" BEGIN MENUITEM \"x\\ty\", 0x10 END\n  }\n"
        "  MENUITEM \"Top\", 3 // trailing comment\n}\n",
        "#pragma once\n#define ID_HI 42\n");
    ASSERT_EQ(script.menus.size(), 1u);
    const auto& e = script.menus[0].entries;
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(e[0].text, "&File");
    EXPECT_EQ(e[1].text, "Say \"hi\"");
    EXPECT_EQ(e[1].id, 42);
    EXPECT_EQ(e[2].kind, rc::MenuEntry::Separator);
    EXPECT_EQ(e[3].kind, rc::MenuEntry::PopupBegin);
    EXPECT_EQ(e[4].text, "x\ty");
    EXPECT_EQ(e[4].id, 16);
    EXPECT_EQ(e[5].kind, rc::MenuEntry::PopupEnd);
    EXPECT_EQ(e[6].kind, rc::MenuEntry::PopupEnd);
    EXPECT_EQ(e[7].text, "Top");
}

TEST(ResourceScript, ErrorsNameTheLine) {
    auto message = [](const std::string& text) {
        try {
            parse(text);
        } catch (const rc::Error& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message("#pragma code_page(932)\n"), "line 1: only code page 65001 (UTF-8) is read");
    EXPECT_EQ(message("\n\n1 MENU BEGIN MENUITEM \"a\", UNKNOWN END\n"), "line 3: unknown name UNKNOWN");
    EXPECT_EQ(message("1 MENU BEGIN MENUITEM \"open\n, 2 END\n"), "line 1: unterminated string");
    EXPECT_EQ(message("1 MENU BEGIN\n MENUITEM \"a\", 2\n"), "line 3: missing END");
    EXPECT_EQ(message("1 ACCELERATORS BEGIN END\n"), "line 1: unsupported resource type ACCELERATORS");
    EXPECT_EQ(message("#include \"other.h\"\n"), "no other.h");
}

TEST(ResourceScript, TablesEscapeEverythingOutsideAscii) {
    rc::Script script = parse("1 MENU BEGIN MENUITEM \"\xC3\x97" "7\\\\\", 5 END\n");
    std::string source = rc::emitTables(script);
    // An octal escape stops after three digits, so the '7' after it stays a character of its own.
    EXPECT_NE(source.find("\"\\303\\2277\\\\\""), std::string::npos) << source;
    EXPECT_NE(source.find("const ResourceTables resourceTables = {menus, 1, dialogs, 0};"), std::string::npos);
}

}  // namespace
