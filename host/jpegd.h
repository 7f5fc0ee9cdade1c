// The platform's JPEG decoder library (the "jpegd" entry points), a layer of
// our own over libjpeg-turbo that decodes straight to RGB565 pixels.
//
// Use: register the input callback, read the picture's information, ask for
// the work memory, hand it over, decode. The callback gives the whole input
// at once. A picture larger than the caller's limit is scaled down by 2, 4 or
// 8 until it fits; one that does not fit even then is refused.
#pragma once
#include <cstdint>

// Results: 0 success, else one of these.
enum JpegdStatus : int {
    JPEGD_OK = 0,
    JPEGD_ERR_ARGUMENT = 1, // null object or buffer, zero limits
    JPEGD_ERR_NO_DATA = 2,  // no callback, or the callback gave nothing
    JPEGD_ERR_HEADER = 3,   // not a JPEG picture, or one we cannot decode
    JPEGD_ERR_TOO_LARGE = 4,
    JPEGD_ERR_MEMORY = 5,   // work memory missing or too small, output too small
    JPEGD_ERR_DECODE = 6,   // corrupt data
    JPEGD_ERR_SEQUENCE = 7, // calls out of order
};

// The input callback: sets *data and *size to the whole input; 0 when given.
using JpegdGetNewData = int (*)(const uint8_t **data, uint32_t *size);

struct JpegdObject {
    // Set by the caller before jpegd_get_file_info: the largest output taken.
    uint32_t max_width = 0, max_height = 0;
    // Filled by jpegd_get_file_info.
    uint32_t width = 0, height = 0;         // the picture
    uint32_t out_width = 0, out_height = 0; // what jpegd_decode_frame writes
    uint32_t scale_denom = 1;               // 1, 2, 4 or 8
    int components = 0;
    // Private to the library.
    JpegdGetNewData get_new_data = nullptr;
    const uint8_t *data = nullptr;
    uint32_t size = 0;
    void *work = nullptr;
    uint32_t work_size = 0;
    int stage = 0;
};

int jpegd_register_jpegd_get_new_data(JpegdObject *obj, JpegdGetNewData fn);
int jpegd_get_file_info(JpegdObject *obj);
int jpegd_query_dec_mem(JpegdObject *obj, uint32_t *size);
int jpegd_decoder_init(JpegdObject *obj, void *work, uint32_t size);
// Writes out_width x out_height RGB565 pixels (native byte order), row by
// row, into `out` of `out_bytes` bytes.
int jpegd_decode_frame(JpegdObject *obj, uint8_t *out, uint32_t out_bytes);
