#include "gtk/mnemonic.h"

#include <gtest/gtest.h>

namespace {

TEST(MnemonicLabel, WindowsMarksBecomeGtksAndLiteralsStayLiteral) {
    EXPECT_EQ(port::mnemonicLabel("&File"), "_File");
    EXPECT_EQ(port::mnemonicLabel("Save &As"), "Save _As");
    // "&&" is an ampersand, and GTK would take a lone '_' for a mark.
    EXPECT_EQ(port::mnemonicLabel("R&&D"), "R&D");
    EXPECT_EQ(port::mnemonicLabel("snake_case"), "snake__case");
    EXPECT_EQ(port::mnemonicLabel("&&&x"), "&_x");
    EXPECT_EQ(port::mnemonicLabel("end&"), "end_");
    EXPECT_EQ(port::mnemonicLabel("ＯＫ"), "ＯＫ");
    EXPECT_EQ(port::mnemonicLabel(""), "");
}

}  // namespace
