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
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char **argv) {
    std::string out_dir = ".", desc_file;
    bool out_given = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: mkapp [-o DIR] DESCRIPTION.json\n");
            return 0;
        }
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out_dir = argv[++i], out_given = true;
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
    if (!appbuild::build_text(text, base, &built, &error)) {
        std::fprintf(stderr, "mkapp: %s: %s\n", desc_file.c_str(), error.c_str());
        return 1;
    }
    for (const std::string &w : built.warnings)
        std::fprintf(stderr, "mkapp: warning: %s\n", w.c_str());
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    if (ec) {
        std::fprintf(stderr, "mkapp: cannot create %s: %s\n", out_dir.c_str(),
                     ec.message().c_str());
        return 1;
    }
    if (!appbuild::write_files(built, out_dir, &error)) {
        std::fprintf(stderr, "mkapp: %s\n", error.c_str());
        return 1;
    }
    // A unit's first start loads its default settings over whatever
    // application files it finds (it has no register file yet).
    if (out_given && !std::filesystem::exists(out_dir + "/autoreg.dta"))
        std::fprintf(stderr,
                     "mkapp: warning: %s holds no register file (autoreg.dta) yet: a panel "
                     "starting there for the first time replaces these files with its defaults; "
                     "start it once before, or use ./run.sh %s\n",
                     out_dir.c_str(), desc_file.c_str());
    std::printf("config.pgm %zu bytes, ladder.pgm %zu bytes\n", built.config.size(),
                built.ladder.size());
    return 0;
}
