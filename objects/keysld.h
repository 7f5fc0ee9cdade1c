// The slide-out key panel's picture: the decoder of the key bitmap file
// ("/mnt/cfg/keys.bmp"), which comes from removable media and is read as
// outside input. Private to the screen objects (and their tests).
#pragma once
#include <cstddef>
#include <cstdint>

// Largest file read, and the bound of its size fields.
constexpr size_t kKeyBmpMax = 1048576;

// Decodes a BMP file image of 16-bit (taken as RGB565), 24- or 32-bit pixels
// into top-down RGB565 rows of `*width` pixels in `out` (room for
// `capacity` pixels). Refused (false, nothing promised in `out`): no "BM",
// size fields of kKeyBmpMax or more, another depth, a width or height that is
// not positive, pixel rows (4-byte padded, from the pixel offset) that run
// past `size`, or more pixels than `capacity`.
bool KEY_DecodeBmp(const uint8_t *file, size_t size, uint16_t *out, size_t capacity, int *width,
                   int *height);

// Puts the panel's module state back to its start (tests).
void KeySld_Reset();
