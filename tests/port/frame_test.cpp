#include "frame.h"

#include <gtest/gtest.h>

#include "gtk/toolkitframe.h"

namespace {

using port::WindowFrame;
using port::WindowRole;

constexpr DWORD PARAMETER_DIALOG = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT;

WindowFrame frame(bool caption, bool close, bool minimize, bool maximize, bool sizing, bool dialog, bool owned,
                  bool modal) {
    return {caption, close, minimize, maximize, sizing, dialog, owned, modal};
}

TEST(WindowFrame, TheProgramsTwoWindows) {
    // The main window: caption, all three buttons, a sizing border; in the task bar.
    EXPECT_EQ(port::frameOf(WS_OVERLAPPEDWINDOW, false, WindowRole::TopLevel),
              frame(true, true, true, true, true, false, false, false));
    // The parameter dialog: a caption with the close button only, a fixed frame, above its owner.
    EXPECT_EQ(port::frameOf(PARAMETER_DIALOG, true, WindowRole::ModalDialog),
              frame(true, true, false, false, false, true, true, true));
}

TEST(WindowFrame, ButtonsLiveInTheCaptionAndTheSystemMenu) {
    // No caption: nowhere to put buttons, whatever else the style says.
    EXPECT_EQ(port::frameOf(WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, false, WindowRole::TopLevel),
              WindowFrame{});
    // WS_CAPTION is two bits: WS_BORDER alone draws no caption.
    EXPECT_FALSE(port::frameOf(WS_POPUP | WS_BORDER | WS_SYSMENU, false, WindowRole::TopLevel).caption);
    // A caption without the system menu has no close button, nor minimise or maximise.
    EXPECT_EQ(port::frameOf(WS_CAPTION | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, false, WindowRole::TopLevel),
              frame(true, false, false, false, false, false, false, false));
    // Each box on its own.
    WindowFrame minimizeOnly = port::frameOf(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, false, WindowRole::TopLevel);
    EXPECT_TRUE(minimizeOnly.minimizeButton);
    EXPECT_FALSE(minimizeOnly.maximizeButton);
    // The sizing border needs no caption.
    EXPECT_EQ(port::frameOf(WS_POPUP | WS_THICKFRAME, false, WindowRole::TopLevel),
              frame(false, false, false, false, true, false, false, false));
}

TEST(WindowFrame, DialogBitsCountOnlyInDialogTemplates) {
    // 0x80 is DS_MODALFRAME in a template; in a window's style it means nothing.
    EXPECT_FALSE(port::frameOf(WS_CAPTION | DS_MODALFRAME, false, WindowRole::TopLevel).dialogFrame);
    EXPECT_FALSE(port::frameOf(WS_CAPTION | DS_MODALFRAME, false, WindowRole::TopLevel).modal);
    // A dialog box is modal with or without the dialog frame.
    WindowFrame plain = port::frameOf(WS_POPUP | WS_CAPTION | WS_SYSMENU, false, WindowRole::ModalDialog);
    EXPECT_FALSE(plain.dialogFrame);
    EXPECT_TRUE(plain.modal);
    EXPECT_FALSE(plain.owned);
    // An owned top-level window is no dialog.
    WindowFrame owned = port::frameOf(WS_OVERLAPPEDWINDOW, true, WindowRole::TopLevel);
    EXPECT_TRUE(owned.owned);
    EXPECT_FALSE(owned.modal);
    // A child has no frame of its own.
    EXPECT_EQ(port::frameOf(WS_CHILD | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, true, WindowRole::TopLevel),
              WindowFrame{});
}

TEST(ToolkitFrame, TheMainWindowIsLeftToTheWindowManager) {
    // Whatever the desktop says of dialogs.
    for (bool dialogsUseHeader : {false, true}) {
        port::ToolkitFrame t =
            port::toolkitFrame(port::frameOf(WS_OVERLAPPEDWINDOW, false, WindowRole::TopLevel), dialogsUseHeader);
        EXPECT_TRUE(t.decorated);
        EXPECT_FALSE(t.headerBar);
        EXPECT_TRUE(t.resizable);
        EXPECT_EQ(t.typeHint, GDK_WINDOW_TYPE_HINT_NORMAL);
        EXPECT_EQ(t.decorations, GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU | GDK_DECOR_MINIMIZE |
                                     GDK_DECOR_MAXIMIZE | GDK_DECOR_RESIZEH);
        EXPECT_EQ(t.functions,
                  GDK_FUNC_MOVE | GDK_FUNC_CLOSE | GDK_FUNC_MINIMIZE | GDK_FUNC_MAXIMIZE | GDK_FUNC_RESIZE);
        EXPECT_FALSE(t.skipTaskbar);
        EXPECT_FALSE(t.modal);
    }
}

TEST(ToolkitFrame, TheDialogWearsTheWindowManagersFrame) {
    port::ToolkitFrame t = port::toolkitFrame(port::frameOf(PARAMETER_DIALOG, true, WindowRole::ModalDialog), false);
    EXPECT_TRUE(t.decorated);
    EXPECT_FALSE(t.headerBar);
    EXPECT_TRUE(t.closeButton);
    EXPECT_FALSE(t.resizable);
    EXPECT_EQ(t.typeHint, GDK_WINDOW_TYPE_HINT_DIALOG);
    // A title with the window menu and close; no minimise, maximise or sizing asked for.
    EXPECT_EQ(t.decorations, GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU);
    EXPECT_EQ(t.functions, GDK_FUNC_MOVE | GDK_FUNC_CLOSE);
    EXPECT_TRUE(t.skipTaskbar);
    EXPECT_TRUE(t.modal);
}

TEST(ToolkitFrame, AHeaderBarOnlyForDialogsWithACaptionWhereTheDesktopAsks) {
    port::ToolkitFrame t = port::toolkitFrame(port::frameOf(PARAMETER_DIALOG, true, WindowRole::ModalDialog), true);
    EXPECT_TRUE(t.headerBar);
    EXPECT_TRUE(t.closeButton);
    // The rest of the hints stay as they are for the window manager's frame.
    EXPECT_FALSE(t.resizable);
    EXPECT_EQ(t.typeHint, GDK_WINDOW_TYPE_HINT_DIALOG);
    EXPECT_TRUE(t.skipTaskbar);
    EXPECT_TRUE(t.modal);
    // A dialog without a caption has nothing to put in a header bar.
    EXPECT_FALSE(port::toolkitFrame(port::frameOf(WS_POPUP | DS_MODALFRAME, true, WindowRole::ModalDialog), true)
                     .headerBar);
    // Nor does an owned top-level window get one: it is no dialog.
    EXPECT_FALSE(port::toolkitFrame(port::frameOf(WS_OVERLAPPEDWINDOW, true, WindowRole::TopLevel), true).headerBar);
    // A caption without the system menu: a header bar without the close button.
    port::ToolkitFrame bare = port::toolkitFrame(port::frameOf(WS_POPUP | WS_CAPTION, true, WindowRole::ModalDialog), true);
    EXPECT_TRUE(bare.headerBar);
    EXPECT_FALSE(bare.closeButton);
}

TEST(ToolkitFrame, NoCaptionMeansNoDecorationOrABareBorder) {
    EXPECT_FALSE(port::toolkitFrame(port::frameOf(WS_POPUP, false, WindowRole::TopLevel), false).decorated);
    port::ToolkitFrame border =
        port::toolkitFrame(port::frameOf(WS_POPUP | WS_THICKFRAME, false, WindowRole::TopLevel), false);
    EXPECT_TRUE(border.decorated);
    EXPECT_FALSE(border.headerBar);
    EXPECT_TRUE(border.resizable);
    EXPECT_EQ(border.decorations, GDK_DECOR_BORDER | GDK_DECOR_RESIZEH);
}

TEST(ToolkitFrame, TheDefaultButtonLooksAsInTheToolkitsOwnDialogs) {
    // With the window manager's frame GTK's "default" class alone marks it, as in a GtkDialog
    // without a header bar; in a header-bar dialog GTK shows the default as the suggested action.
    port::WindowFrame dialog = port::frameOf(PARAMETER_DIALOG, true, WindowRole::ModalDialog);
    EXPECT_EQ(port::defaultButtonStyleClass(port::toolkitFrame(dialog, false)), nullptr);
    EXPECT_STREQ(port::defaultButtonStyleClass(port::toolkitFrame(dialog, true)), GTK_STYLE_CLASS_SUGGESTED_ACTION);
}

}  // namespace
