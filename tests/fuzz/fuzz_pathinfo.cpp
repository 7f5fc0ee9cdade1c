// The boot installer's reading of a medium's "path.info": any bytes split
// into command lines without reading past the input, every line a text of
// printable characters within its 1035-character bound.
#include "screens/screens.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A copy of exactly the input's size, so a read past it is caught.
    std::vector<char> copy(data, data + size);
    BOOT_PathInfoLines(
        copy.data(), copy.size(),
        [](void *, const char *line) {
            size_t n = std::strlen(line);
            if (n == 0 || n > 1035) std::abort();
            for (size_t i = 0; i < n; ++i)
                if (static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7F) std::abort();
        },
        nullptr);
    return 0;
}
