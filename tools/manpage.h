// The driver's manual page (section 1), written from the options table that its --help prints.
#pragma once

#include <string>
#include <string_view>

// Text made safe for roff: backslashes, hyphens (as the minus sign that a shell command takes)
// and a control character at the start of a line.
std::string roffEscape(std::string_view text);
// The whole page; version and date go into its title line.
std::string driverManualPage(std::string_view version, std::string_view date);
