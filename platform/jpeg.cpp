// JPEG decoding through the platform's decoder library.
#include "platform/jpeg.h"

#include "host/jpegd.h"

#include <cstdint>
#include <cstdlib>

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
    // The pixel value 1 lets the pipeline's background show through.
    uint8_t *p = output;
    for (size_t i = 0, n = size_t(*width) * size_t(*height); i < n; ++i, p += 2)
        if (p[0] == 1 && p[1] == 0) p[0] = 2;
    return 0;
}

void Jpeg_Reset() {
    g_input = nullptr;
    g_input_size = 0;
}
