// iecdis: prints an IEC code image as the text iecasm reads.
//
//   iecdis [--db] IMAGE
//
// The text assembles to the same bytes. With --db it prints the image's
// header words and the database segment table the image asks for instead,
// and exits with the image check's code when the image is refused.
#include "tools/lib/iecasm.h"

#include "iec/kernel/trcode.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    bool db = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--db") == 0)
            db = true;
        else if (path.empty() && argv[i][0] != '-')
            path = argv[i];
        else
            path.clear(), i = argc;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: iecdis [--db] IMAGE\n");
        return 2;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "iecdis: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
    if (db) {
        std::fputs(Iecasm_DescribeDB(image.data(), image.size()).c_str(), stdout);
        return image.size() > 0xFFFFFFFFu
                   ? 2
                   : TrVMCode_CheckCode(TrCodeImage{image.data(), uint32_t(image.size())});
    }
    std::fputs(Iecasm_Disassemble(image.data(), image.size()).c_str(), stdout);
    return 0;
}
