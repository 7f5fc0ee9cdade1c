// Unpacking of packed bits into the runtime's boolean bytes.
#include "iec/kernel/iec.h"

void Trevant_Bit_To_Byte(const uint8_t *src, uint8_t *dst, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = (src[i / 8] >> (i % 8)) & 1;
}
