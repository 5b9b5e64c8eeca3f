#include "options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "manpage.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The options named at the start of --help's lines ("  --name ..."), in order.
std::vector<std::string> usageOptionNames() {
    std::vector<std::string> names;
    for (const std::string& line : lines(driverUsage())) {
        if (line.rfind("  --", 0) == 0) names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

TEST(DriverOptions, NamesAreUniqueAndFound) {
    std::set<std::string> seen;
    for (const DriverOption& option : driverOptions()) {
        EXPECT_TRUE(seen.insert(option.name).second) << option.name;
        EXPECT_EQ(findDriverOption(option.name), &option);
    }
    EXPECT_EQ(findDriverOption("--Count"), nullptr);
    EXPECT_EQ(findDriverOption("--coun"), nullptr);
    EXPECT_EQ(findDriverOption(""), nullptr);
}

TEST(DriverOptions, OperandCountsFollowTheNamedOperands) {
    EXPECT_EQ(operandCount(*findDriverOption("--help")), 0);
    EXPECT_EQ(operandCount(*findDriverOption("--dump")), 0);
    EXPECT_EQ(operandCount(*findDriverOption("--count")), 1);
    EXPECT_EQ(operandCount(*findDriverOption("--png-every")), 2);
}

TEST(DriverUsage, ListsEveryOptionOnceInTableOrder) {
    std::vector<std::string> expected;
    for (const DriverOption& option : driverOptions()) expected.push_back(option.name);
    EXPECT_EQ(usageOptionNames(), expected);
}

TEST(DriverUsage, LinesStayWithinTheColumnsAndTextsStartInOneColumn) {
    std::vector<std::string> all = lines(driverUsage());
    ASSERT_GE(all.size(), driverOptions().size() + 2);
    EXPECT_EQ(all.front(), "usage: orrelune-sim [options]");
    EXPECT_EQ(all.back().rfind("Always prints last: ticks= ", 0), 0u);
    for (const std::string& line : all) {
        EXPECT_LE(line.size(), USAGE_COLUMNS) << line;
        EXPECT_NE(line.back(), ' ') << "trailing space: '" << line << "'";
    }
    // "  --count TEXT" and its text, then the text in column 19; a long head puts it on the next line.
    EXPECT_NE(driverUsage().find("\n  --count TEXT     particle count text\n"), std::string::npos);
    EXPECT_NE(driverUsage().find("\n  --png-every K PATTERN\n                   write frame n"), std::string::npos);
    for (const std::string& line : all) {
        if (line.rfind("                   ", 0) == 0) {
            EXPECT_NE(line[19], ' ') << "continuation not in column 19: " << line;
        }
    }
}

TEST(DriverUsage, KeepsEveryWordOfTheTexts) {
    // Wrapping may move words to new lines, never drop or join them.
    std::string words;
    for (const std::string& line : lines(driverUsage())) {
        std::istringstream in(line);
        for (std::string w; in >> w;) words += w + ' ';
    }
    for (const DriverOption& option : driverOptions()) {
        std::istringstream in(option.text);
        std::string joined;
        for (std::string w; in >> w;) joined += w + ' ';
        EXPECT_NE(words.find(joined), std::string::npos) << option.name;
    }
}

TEST(RoffEscape, HyphensBackslashesAndControlCharactersAtLineStarts) {
    EXPECT_EQ(roffEscape("--png-every"), "\\-\\-png\\-every");
    EXPECT_EQ(roffEscape("a\\b"), "a\\eb");
    EXPECT_EQ(roffEscape(".TH"), "\\&.TH");
    EXPECT_EQ(roffEscape("'quoted"), "\\&'quoted");
    EXPECT_EQ(roffEscape("one\n.two\n'three"), "one\n\\&.two\n\\&'three");
    EXPECT_EQ(roffEscape("a.b 'c' %d"), "a.b 'c' %d");
    EXPECT_EQ(roffEscape(""), "");
}

TEST(DriverManualPage, HasAnItemForEveryOptionWithItsOperands) {
    std::string page = driverManualPage("9.8.7", "2030-01-02");
    EXPECT_EQ(page.rfind(".TH ORRELUNE\\-SIM 1 \"2030\\-01\\-02\" \"Orrelune 9.8.7\" \"User Commands\"\n", 0), 0u);
    std::vector<std::string> all = lines(page);
    for (const DriverOption& option : driverOptions()) {
        std::string head = "\\fB" + roffEscape(option.name) + "\\fR";
        std::istringstream operands(option.operands);
        for (std::string operand; operands >> operand;) head += " \\fI" + operand + "\\fR";
        auto at = std::find(all.begin(), all.end(), head);
        ASSERT_NE(at, all.end()) << head;
        EXPECT_EQ(*(at - 1), ".TP") << head;
        EXPECT_EQ(*(at + 1), roffEscape(option.text));
    }
}

TEST(DriverManualPage, NoTextLineIsTakenForARequest) {
    // Only the page's own requests start with a dot; no line starts with a quote or is empty
    // (an empty line is a blank line in the output).
    std::set<std::string> requests = {".TH", ".SH", ".PP", ".TP", ".B", ".BR", ".nf", ".fi"};
    for (const std::string& line : lines(driverManualPage("1", "2"))) {
        ASSERT_FALSE(line.empty());
        EXPECT_NE(line[0], '\'') << line;
        if (line[0] == '.') {
            EXPECT_TRUE(requests.count(line.substr(0, line.find(' ')))) << line;
        }
    }
}

}  // namespace
