// Packing and unpacking of bits between the register image and the runtime's
// boolean bytes (one byte per BOOL).
#include "iec/kernel/iec.h"

void Trevant_Bit_To_Byte(const uint8_t *src, uint8_t *dst, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = (src[i / 8] >> (i % 8)) & 1;
}

void Trevant_Byte_To_Bit(const uint8_t *src, uint8_t *dst, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        if (i % 8 == 0) dst[i / 8] = 0;
        // Any non-zero BOOL byte is TRUE: a stray value never reaches the
        // neighbouring bits.
        if (src[i]) dst[i / 8] = uint8_t(dst[i / 8] | (1u << (i % 8)));
    }
}
