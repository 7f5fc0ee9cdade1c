// fpgaimg: writes an FPGA image file for the board's FPGA model.
//
//   fpgaimg [-v VERSION] -o FILE [BODY]
//     -v  the version number of the header (0-999, default 1)
//     BODY  the configuration body (at most 4092 bytes, padded with 0xFF);
//           without it a fixed test pattern
//   fpgaimg --algorithm    prints the algorithm image as C++ initialiser bytes
#include "tools/lib/fpgaimg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

int main(int argc, char **argv) {
    int version = 1;
    const char *out = nullptr, *body_file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--algorithm")) {
            fpgaimg::Bytes a = fpgaimg::algorithm(0);
            for (size_t k = 0; k < a.size(); ++k)
                std::printf("0x%02X,%s", a[k], k % 12 == 11 ? "\n" : " ");
            std::printf("\n");
            return 0;
        } else if (!std::strcmp(argv[i], "-v") && i + 1 < argc) {
            version = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
            out = argv[++i];
        } else if (argv[i][0] != '-') {
            body_file = argv[i];
        } else {
            out = nullptr;
            break;
        }
    }
    if (!out || version < 0 || version > 999) {
        std::fprintf(stderr, "usage: fpgaimg [-v VERSION] -o FILE [BODY] | --algorithm\n");
        return 2;
    }
    fpgaimg::Bytes body;
    if (body_file) {
        std::ifstream in(body_file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "fpgaimg: cannot read %s\n", body_file);
            return 1;
        }
        body.assign(std::istreambuf_iterator<char>(in), {});
        if (body.size() > fpgaimg::kBodyBytes) {
            std::fprintf(stderr, "fpgaimg: %s is longer than %u bytes\n", body_file,
                         fpgaimg::kBodyBytes);
            return 1;
        }
    } else {
        for (uint32_t i = 0; i < fpgaimg::kBodyBytes; ++i)
            body.push_back(uint8_t(i * 7 + (i >> 8)));
    }
    body.resize(fpgaimg::kBodyBytes, 0xFF);
    // The algorithm built into the firmware reads an uncompressed data image
    // (tests make compressed ones with the library and their own algorithm).
    fpgaimg::Bytes data = fpgaimg::data_image(fpgaimg::stream(body), 0);
    fpgaimg::Bytes file = fpgaimg::image_file(data, version);
    std::ofstream o(out, std::ios::binary);
    o.write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    if (!o) {
        std::fprintf(stderr, "fpgaimg: cannot write %s\n", out);
        return 1;
    }
    return 0;
}
