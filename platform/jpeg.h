// JPEG pictures held in memory, decoded to RGB565 pixels by the platform's
// JPEG decoder library.
#pragma once
#include <cstdint>

// Decodes `input` (of `input_size` bytes) into `output`: RGB565 pixels, row
// by row. On entry *width x *height is the largest picture `output` takes (a
// larger one is scaled down by 2, 4 or 8 to fit); on success they are the
// decoded size. No decoded pixel has the value 1 (the pixel pipeline's
// see-through marker): such pixels become 2. Returns 0, or the code of the
// first library call that failed.
int JpegDecompress(uint8_t *output, const uint8_t *input, uint32_t input_size, int *width,
                   int *height, int ignored);
// The decoder's input callback: the whole input at once.
int jpegd_get_new_data(const uint8_t **data, uint32_t *size);

void Jpeg_Reset();
