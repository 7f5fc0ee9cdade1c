// ladasm: assembles a ladder program from its readable text.
//
//   ladasm [-o FILE] [--raw] SOURCE
//
// Writes the control program file (default "ladder.pgm": CRC-16 check word,
// length, program), or with --raw the program bytes alone. The text format is
// described in tools/lib/ladasm.h.
#include "tools/lib/ladasm.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv) {
    std::string out = "ladder.pgm", src;
    bool raw = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: ladasm [-o FILE] [--raw] SOURCE\n");
            return 0;
        }
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out = argv[++i];
        else if (std::strcmp(argv[i], "--raw") == 0)
            raw = true;
        else if (src.empty() && argv[i][0] != '-')
            src = argv[i];
        else
            src.clear(), i = argc;
    }
    if (src.empty()) {
        std::fprintf(stderr, "usage: ladasm [-o FILE] [--raw] SOURCE\n");
        return 2;
    }
    std::ifstream in(src);
    if (!in) {
        std::fprintf(stderr, "ladasm: cannot read %s\n", src.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::vector<uint8_t> program;
    std::string error;
    if (!Ladasm_Assemble(text.str(), &program, &error)) {
        std::fprintf(stderr, "%s: %s\n", src.c_str(), error.c_str());
        return 1;
    }
    for (const std::string &w : Ladasm_Warnings(program))
        std::fprintf(stderr, "%s: warning: %s\n", src.c_str(), w.c_str());
    std::vector<uint8_t> bytes = raw ? program : Ladasm_Block(program);
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!f.good()) {
        std::fprintf(stderr, "ladasm: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %zu program bytes\n", out.c_str(), program.size());
    return 0;
}
