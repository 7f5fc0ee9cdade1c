// laddis: turns a ladder program back into its readable text.
//
//   laddis FILE
//
// FILE is a control program file ("ladder.pgm") or the program bytes alone.
// The text goes to standard output and assembles (ladasm) to the same bytes.
#include "tools/lib/ladasm.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) {
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
    std::vector<uint8_t> program = Ladasm_ProgramOf(file);
    std::fputs(Ladasm_Disassemble(program.data(), program.size()).c_str(), stdout);
    return 0;
}
