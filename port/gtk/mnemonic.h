// Win32 labels in GTK's terms, for the menu bar and the dialogs' buttons alike.
#pragma once

#include <string>

namespace port {

// "&File" marks its mnemonic with '&' ("&&" for a literal one); GTK uses '_' and needs a
// literal '_' doubled.
inline std::string mnemonicLabel(const char* text) {
    std::string label;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '&' && p[1] == '&') {
            label += '&';
            ++p;
        } else if (*p == '&') {
            label += '_';
        } else if (*p == '_') {
            label += "__";
        } else {
            label += *p;
        }
    }
    return label;
}

}  // namespace port
