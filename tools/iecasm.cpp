// iecasm: assembles an IEC code image from its readable text.
//
//   iecasm [-o FILE] [--varloc FILE] SOURCE
//
// Writes the image (default "tr.cod"); with --varloc also the 6464-word
// register-location table of the source's .bind lines. The text format is
// described in tools/lib/iecasm.h.
#include "tools/lib/iecasm.h"

#include "base/le.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {
bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return f.good();
}
} // namespace

int main(int argc, char **argv) {
    std::string out = "tr.cod", varloc, src;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            out = argv[++i];
        else if (std::strcmp(argv[i], "--varloc") == 0 && i + 1 < argc)
            varloc = argv[++i];
        else if (src.empty() && argv[i][0] != '-')
            src = argv[i];
        else
            src.clear(), i = argc;
    }
    if (src.empty()) {
        std::fprintf(stderr, "usage: iecasm [-o FILE] [--varloc FILE] SOURCE\n");
        return 2;
    }
    std::ifstream in(src);
    if (!in) {
        std::fprintf(stderr, "iecasm: cannot read %s\n", src.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    IecAsmOutput result;
    std::string error;
    if (!Iecasm_Assemble(text.str(), &result, &error)) {
        std::fprintf(stderr, "%s: %s\n", src.c_str(), error.c_str());
        return 1;
    }
    if (!write_file(out, result.image)) {
        std::fprintf(stderr, "iecasm: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!varloc.empty()) {
        std::vector<uint8_t> table(4 * result.varloc.size());
        for (size_t i = 0; i < result.varloc.size(); ++i)
            put_le32(&table[4 * i], result.varloc[i]);
        if (!write_file(varloc, table)) {
            std::fprintf(stderr, "iecasm: cannot write %s\n", varloc.c_str());
            return 1;
        }
    }
    std::printf("%s: %zu image bytes\n", out.c_str(), result.image.size());
    return 0;
}
