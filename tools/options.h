// The driver's options in one table: its parser knows an option and how many values follow it
// from here, and its --help and its manual page are printed from here, so none of them can
// name an option the others lack.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct DriverOption {
    const char* name;      // "--png-every"
    const char* operands;  // the values that follow it, space-separated ("K PATTERN"); "" for none
    const char* text;      // what it does, unwrapped
};

// Every option, in the order --help lists them.
std::span<const DriverOption> driverOptions();
// The option of that name, or null.
const DriverOption* findDriverOption(std::string_view name);
// How many values follow the option on the command line.
int operandCount(const DriverOption& option);

// What the driver is, in one line (--help's second line, the manual page's description).
extern const char DRIVER_PURPOSE[];
// What applies to the parameter options, in one line.
extern const char DRIVER_NOTES[];

// The --help text: each option with its operands, then its text wrapped to the column limit.
std::string driverUsage();
// The widest line driverUsage writes.
constexpr std::size_t USAGE_COLUMNS = 100;
