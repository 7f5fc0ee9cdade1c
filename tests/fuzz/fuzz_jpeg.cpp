// JPEG pictures from the application or the media: any input must decode
// into exactly the room the caller gives (scaled down when the picture is
// larger) or fail with a code, never write past that room or read past the
// input.
//
// Input: bytes 0 and 1 the largest width and height taken (1-256); the rest
// is the picture.
#include "platform/jpeg.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int max_w = data[0] + 1, max_h = data[1] + 1;
    // Exactly the room for the limit, and an input copy of exactly its size,
    // so the sanitizer sees any step past either.
    const size_t room = size_t(max_w) * size_t(max_h) * 2;
    uint8_t *out = static_cast<uint8_t *>(std::malloc(room));
    const size_t n = size - 2;
    uint8_t *in = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (n) std::memcpy(in, data + 2, n);
    int w = max_w, h = max_h;
    if (JpegDecompress(out, in, uint32_t(n), &w, &h, 0) == 0) {
        if (w < 1 || h < 1 || w > max_w || h > max_h) std::abort();
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
            if (out[2 * i] == 1 && out[2 * i + 1] == 0) std::abort(); // the see-through value
    }
    std::free(in);
    std::free(out);
    return 0;
}
