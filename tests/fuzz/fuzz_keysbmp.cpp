// The key panel's picture file: any bytes, as a file of that length, must be
// refused or decoded into the room given without reading past the file or
// writing past the room; a decoded picture fills exactly width x height pixels.
#include "objects/keysld.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
constexpr size_t kRoom = kKeyBmpMax / 2;
uint16_t g_out[kRoom + 1];
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kKeyBmpMax) return 0;
    // A copy of exactly the input's length, so a read past it is caught.
    std::vector<uint8_t> file(data, data + size);
    int w = 0, h = 0;
    g_out[kRoom] = 0xA5A5;
    if (KEY_DecodeBmp(file.data(), file.size(), g_out, kRoom, &w, &h)) {
        if (w <= 0 || h <= 0 || size_t(w) * size_t(h) > kRoom) std::abort();
    }
    if (g_out[kRoom] != 0xA5A5) std::abort();
    return 0;
}
