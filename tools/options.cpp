#include "options.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

const std::array OPTIONS = {
    DriverOption{"--count", "TEXT", "particle count text"},
    DriverOption{"--gravity", "TEXT", "gravitational constant text"},
    DriverOption{"--density", "TEXT", "mass density text"},
    DriverOption{"--radius", "TEXT", "mean particle radius text"},
    DriverOption{"--speed", "TEXT", "mean particle speed text"},
    DriverOption{"--spread", "TEXT", "speed spread text"},
    DriverOption{"--scale", "TEXT", "drawing magnification text"},
    DriverOption{"--merge", "TEXT", "merge switch text (1 turns merging on)"},
    DriverOption{"--clock", "SECONDS", "every clock read returns SECONDS (default: the real clock)"},
    DriverOption{"--load", "FILE", "replace the population with FILE's records (the --dump format)"},
    DriverOption{"--ticks", "K", "run K ticks (default 0)"},
    DriverOption{"--engine", "NAME",
                 "step engine: exact (default; the literal step's bytes, fast), fast (velocities to rounding, "
                 "faster still) or literal, the one-pair-at-a-time oracle"},
    DriverOption{"--threads", "T",
                 "threads for the exact and fast engines, 1 to 1024 (default: every core, at most 1024); the "
                 "results are the same for every count"},
    DriverOption{"--params", "", "print the parameter texts the dialog would show"},
    DriverOption{"--dump", "", "print records 0..lastIndex: index mass radius x y vx vy"},
    DriverOption{"--png", "FILE", "after the run, write the field as the window draws it (1050 x 700 PNG)"},
    DriverOption{"--png-every", "K PATTERN",
                 "write frame n after n*K ticks, from 0, to PATTERN with n for its %d (e.g. frames/%05d.png, "
                 "for a film)"},
    DriverOption{"--version", "", "print the version"},
    DriverOption{"--help", "", "print the options and what they do"},
};

// Where an option's text starts; a longer name and operands put the text on the next line.
constexpr std::size_t TEXT_COLUMN = 19;

// Appends text in lines of at most USAGE_COLUMNS, each after `indent` spaces; the first line
// continues what is already there, which must end at the indent.
void appendWrapped(std::string& out, std::string_view text, std::size_t indent) {
    std::size_t column = indent;
    bool lineEmpty = true;
    while (!text.empty()) {
        std::size_t space = text.find(' ');
        std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (!lineEmpty && column + 1 + word.size() > USAGE_COLUMNS) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineEmpty = false;
    }
    out += '\n';
}

}  // namespace

const char DRIVER_PURPOSE[] = "Runs Orrelune's model without a window: batch runs, pictures and reproducible checks.";
const char DRIVER_NOTES[] = "Each parameter text goes through the parameter dialog's rules, as its OK would.";

std::span<const DriverOption> driverOptions() { return OPTIONS; }

const DriverOption* findDriverOption(std::string_view name) {
    auto found = std::find_if(OPTIONS.begin(), OPTIONS.end(), [&](const DriverOption& o) { return name == o.name; });
    return found == OPTIONS.end() ? nullptr : &*found;
}

int operandCount(const DriverOption& option) {
    if (*option.operands == '\0') return 0;
    return 1 + static_cast<int>(std::count(option.operands, option.operands + std::strlen(option.operands), ' '));
}

std::string driverUsage() {
    std::string out = "usage: orrelune-sim [options]\n";
    appendWrapped(out, DRIVER_PURPOSE, 0);
    for (const DriverOption& option : OPTIONS) {
        std::string head = std::string("  ") + option.name;
        if (*option.operands != '\0') head += std::string(" ") + option.operands;
        out += head;
        if (head.size() + 1 > TEXT_COLUMN) {
            out += '\n';
            out.append(TEXT_COLUMN, ' ');
        } else {
            out.append(TEXT_COLUMN - head.size(), ' ');
        }
        appendWrapped(out, option.text, TEXT_COLUMN);
    }
    appendWrapped(out, DRIVER_NOTES, 0);
    out += "Always prints last: ticks= lastIndex= idleTicks= live= mass= px= py= hash=\n";
    return out;
}
