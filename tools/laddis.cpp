// laddis: turns a ladder program back into its readable text.
//
//   laddis FILE
//
// FILE is a control program file ("ladder.pgm") or the program bytes alone
// (whole words, with or without the programming tool's trailer).
// The text goes to standard output and assembles (ladasm) to the same bytes.
#include "tools/lib/ladasm.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("usage: laddis FILE\n");
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: laddis FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "laddis: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (file.empty()) {
        std::fprintf(stderr, "laddis: %s is empty\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> program = Ladasm_ProgramOf(file);
    // A program is whole words, followed or not by the programming tool's
    // trailer (without it the feature word is 0).
    if (program.size() % 2 && !Ladasm_HasTrailer(program)) {
        std::fprintf(stderr,
                     "laddis: %s: %zu program bytes are no whole words and end in no trailer: "
                     "not a ladder program\n",
                     argv[1], program.size());
        return 1;
    }
    if (!Ladasm_IsBlock(file) && !Ladasm_HasTrailer(program))
        std::fprintf(stderr,
                     "laddis: warning: %s is no control program file (check word and length) "
                     "and ends in no trailer: read as the program bytes alone\n",
                     argv[1]);
    std::fputs(Ladasm_Disassemble(program.data(), program.size()).c_str(), stdout);
    return 0;
}
