// Writes the driver's manual page at build time: manpage VERSION DATE OUTPUT.
#include <cstdio>
#include <string>

#include "manpage.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: orrelune-sim-manpage VERSION DATE OUTPUT\n", stderr);
        return 2;
    }
    std::string page = driverManualPage(argv[1], argv[2]);
    std::FILE* file = std::fopen(argv[3], "wb");
    bool written = file != nullptr && std::fwrite(page.data(), 1, page.size(), file) == page.size();
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "orrelune-sim-manpage: cannot write '%s'\n", argv[3]);
        std::remove(argv[3]);
        return 1;
    }
    return 0;
}
