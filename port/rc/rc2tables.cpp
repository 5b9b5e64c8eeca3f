// rc2tables SCRIPT OUTPUT: turns a resource script into C++ tables for the Linux layer.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "rcparse.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw rc::Error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: rc2tables SCRIPT OUTPUT\n", stderr);
        return 2;
    }
    std::string script = argv[1];
    std::string directory = script.substr(0, script.find_last_of('/') + 1);
    try {
        rc::Script parsed = rc::parseScript(readFile(script), [&](const std::string& name) {
            return readFile(directory + name);
        });
        std::ofstream out(argv[2], std::ios::binary);
        out << rc::emitTables(parsed);
        if (!out) throw rc::Error(std::string("cannot write ") + argv[2]);
    } catch (const rc::Error& error) {
        std::fprintf(stderr, "%s: %s\n", script.c_str(), error.what());
        return 1;
    }
    return 0;
}
