// mkapp: builds the application files of a panel from a readable description.
//
//   mkapp [-o DIR] DESCRIPTION.json
//
// Writes DIR/config.pgm, DIR/ladder.pgm and DIR/manifest.json (the CRC-16,
// length and place of every part) into DIR (default: the current folder).
// Copy the two .pgm files into "mnt/cfg" of a panel's root folder. The
// description's format is in tools/lib/appbuild.h.
#include "tools/lib/appbuild.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv) {
    std::string out_dir = ".", desc_file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out_dir = argv[++i];
        else if (desc_file.empty() && argv[i][0] != '-')
            desc_file = argv[i];
        else
            desc_file.clear(), i = argc;
    }
    if (desc_file.empty()) {
        std::fprintf(stderr, "usage: mkapp [-o DIR] DESCRIPTION.json\n");
        return 2;
    }
    std::string text, error;
    if (!appbuild::read_input_file(desc_file, &text, &error)) {
        std::fprintf(stderr, "mkapp: %s\n", error.c_str());
        return 1;
    }
    size_t slash = desc_file.rfind('/');
    std::string base = slash == std::string::npos ? "." : desc_file.substr(0, slash);
    appbuild::Built built;
    if (!appbuild::build_text(text, base, &built, &error) ||
        !appbuild::write_files(built, out_dir, &error)) {
        std::fprintf(stderr, "mkapp: %s\n", error.c_str());
        return 1;
    }
    std::printf("config.pgm %zu bytes, ladder.pgm %zu bytes\n", built.config.size(),
                built.ladder.size());
    return 0;
}
