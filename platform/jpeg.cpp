// JPEG decoding through the platform's decoder library.
#include "platform/jpeg.h"

#include "host/jpegd.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
// The input of the decode in progress, handed over by the callback.
const uint8_t *g_input;
uint32_t g_input_size;
} // namespace

int jpegd_get_new_data(const uint8_t **data, uint32_t *size) {
    *data = g_input;
    *size = g_input_size;
    return 0;
}

int JpegDecompress(uint8_t *output, const uint8_t *input, uint32_t input_size, int *width,
                   int *height, int) {
    if (!output || !input || !width || !height || *width <= 0 || *height <= 0)
        return JPEGD_ERR_ARGUMENT;
    // The decoder is given exactly the input there is.
    g_input = input;
    g_input_size = input_size;
    JpegdObject dec;
    dec.max_width = uint32_t(*width);
    dec.max_height = uint32_t(*height);
    if (int rc = jpegd_register_jpegd_get_new_data(&dec, jpegd_get_new_data)) return rc;
    if (int rc = jpegd_get_file_info(&dec)) return rc;
    uint32_t mem_size = 0;
    if (int rc = jpegd_query_dec_mem(&dec, &mem_size)) return rc;
    void *mem = std::malloc(mem_size);
    int rc = jpegd_decoder_init(&dec, mem, mem_size);
    if (rc == 0) {
        const uint64_t bytes = uint64_t(*width) * uint64_t(*height) * 2;
        rc = jpegd_decode_frame(&dec, output, bytes > UINT32_MAX ? UINT32_MAX : uint32_t(bytes));
    }
    std::free(mem);
    g_input = nullptr;
    g_input_size = 0;
    if (rc != 0) return rc;
    *width = int(dec.out_width);
    *height = int(dec.out_height);
    // The pixel value 1 lets the pipeline's background show through: a
    // picture's 1 becomes 2 (1 ^ 3). Four pixels a step: a lane of x ^ 1 is
    // zero exactly where the pixel is 1.
    const size_t n = size_t(*width) * size_t(*height);
    constexpr uint64_t kOnes = 0x0001000100010001u, kLow = 0x7FFF7FFF7FFF7FFFu;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint64_t x;
        std::memcpy(&x, output + 2 * i, 8);
        const uint64_t y = x ^ kOnes;
        const uint64_t zero = ~(((y & kLow) + kLow) | y | kLow); // top bit of each zero lane
        if (zero) {
            x ^= (zero >> 15) * 3;
            std::memcpy(output + 2 * i, &x, 8);
        }
    }
    for (; i < n; ++i)
        if (output[2 * i] == 1 && output[2 * i + 1] == 0) output[2 * i] = 2;
    return 0;
}

void Jpeg_Reset() {
    g_input = nullptr;
    g_input_size = 0;
}
