#include "manpage.h"

#include "options.h"

namespace {

// Calls each(part) for every part of text between separators.
template <typename Each>
void forEachPart(std::string_view text, char separator, Each each) {
    while (!text.empty()) {
        std::size_t end = text.find(separator);
        each(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
}

// An option's operands in italics, each on its own: "K PATTERN" as \fIK\fR \fIPATTERN\fR.
std::string italicOperands(std::string_view operands) {
    std::string out;
    forEachPart(operands, ' ', [&](std::string_view operand) { out += " \\fI" + roffEscape(operand) + "\\fR"; });
    return out;
}

// One paragraph per line of text.
std::string paragraphs(std::string_view text) {
    std::string out;
    forEachPart(text, '\n', [&](std::string_view line) { out += ".PP\n" + roffEscape(line) + "\n"; });
    return out;
}

}  // namespace

std::string roffEscape(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        lineStart = c == '\n';
    }
    return out;
}

std::string driverManualPage(std::string_view version, std::string_view date) {
    std::string page = ".TH ORRELUNE\\-SIM 1 \"" + roffEscape(date) + "\" \"Orrelune " + roffEscape(version) +
                       "\" \"User Commands\"\n";
    page += ".SH NAME\norrelune\\-sim \\- run Orrelune's gravitational many\\-body model without a window\n";
    page += ".SH SYNOPSIS\n.B orrelune\\-sim\n[\\fIoptions\\fR]\n";
    page += ".SH DESCRIPTION\n" + roffEscape(DRIVER_PURPOSE) + "\n";
    page += paragraphs(
        "It draws a population as the program's parameter dialog would, runs it for the ticks asked for and "
        "prints what a script needs: the parameter texts, the records, pictures of the field as the window "
        "draws it, and a summary line. With a fixed clock the same command gives the same run on every "
        "build and system.");
    page += paragraphs(DRIVER_NOTES);
    page += ".SH OPTIONS\n";
    for (const DriverOption& option : driverOptions()) {
        page += ".TP\n\\fB" + roffEscape(option.name) + "\\fR" + italicOperands(option.operands) + "\n";
        page += roffEscape(option.text) + "\n";
    }
    page += ".SH OUTPUT\n";
    page += paragraphs(
        "The last line is always ticks=K lastIndex=L idleTicks=I live=N mass=M px=PX py=PY hash=H: the live "
        "records, the sums of mass and momentum in index order, and a 64-bit hash of the records' bytes.\n"
        "When stderr is a terminal a long run shows its progress there in one line, cleared at the end; "
        "stdout is the same either way.");
    page += ".SH EXIT STATUS\n.TP\n0\nThe run finished.\n.TP\n2\n";
    page += roffEscape(
        "A mistake on the command line (one line with the reason, then a pointer to --help), a file that "
        "cannot be read or has a malformed record, a picture that cannot be written, or a GSL_RNG_TYPE that "
        "names no generator. Nothing runs then.");
    page += "\n.SH ENVIRONMENT\n.TP\nGSL_RNG_TYPE\n";
    page += roffEscape("GSL's generator for the random draws (default: GSL's default, mt19937).");
    page += "\n.TP\nGSL_RNG_SEED\n";
    page += roffEscape("Read by GSL, then always replaced by the clock's seed.");
    page += "\n.SH EXAMPLES\n.nf\n";
    page += roffEscape(
        "orrelune-sim --params\n"
        "orrelune-sim --clock 1000 --ticks 1000\n"
        "orrelune-sim --count 50000 --merge 0 --ticks 3 --engine fast\n"
        "orrelune-sim --clock 5 --ticks 10 --dump > state.txt\n"
        "orrelune-sim --load state.txt --ticks 100\n"
        "orrelune-sim --clock 1000 --ticks 500 --png field.png\n");
    page += ".fi\n.SH SEE ALSO\n.BR orrelune (1)\n";
    return page;
}
